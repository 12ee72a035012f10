#include "app/PacsOpenRequest.h"

#include <algorithm>

namespace velmaris {

PacsOpenRequest::Field PacsOpenRequest::invalidField() const
{
    const bool uidOk = !studyInstanceUID.isEmpty() && studyInstanceUID.size() <= kMaxUidLength
        && std::all_of(studyInstanceUID.begin(), studyInstanceUID.end(),
                       [](QChar c) { return c == QLatin1Char('.') || (c >= QLatin1Char('0') && c <= QLatin1Char('9')); });
    if (!uidOk)
        return Field::StudyInstanceUID;
    // Both are put before the user in a question: a page must not be able
    // to lay out that text with line breaks of its own or bury it in length.
    const auto printable = [](const QString &text, qsizetype limit) {
        return text.size() <= limit
            && std::none_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
    };
    if (!printable(serverHost, kMaxHostLength))
        return Field::ServerHost;
    if (serverPort < 1 || serverPort > 65535)
        return Field::ServerPort;
    if (!printable(serverAeTitle, kMaxAeTitleLength))
        return Field::ServerAeTitle;
    return Field::None;
}

} // namespace velmaris
