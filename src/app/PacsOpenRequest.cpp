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
    if (serverHost.size() > kMaxHostLength)
        return Field::ServerHost;
    if (serverPort < 1 || serverPort > 65535)
        return Field::ServerPort;
    const bool aeTitleOk = serverAeTitle.size() <= kMaxAeTitleLength
        && std::none_of(serverAeTitle.begin(), serverAeTitle.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
    if (!aeTitleOk)
        return Field::ServerAeTitle;
    return Field::None;
}

} // namespace velmaris
