#include "app/CommandLine.h"

#include "app/StartupSettings.h"

#include <QUrl>
#include <QUrlQuery>

#include <optional>

namespace velmaris {

namespace {

std::optional<PacsOpenRequest> requestFrom(const QString &argument)
{
    const QUrl url(argument, QUrl::StrictMode);
    if (!url.isValid()
        || url.scheme().compare(QLatin1String("velmaris"), Qt::CaseInsensitive) != 0
        || url.host().compare(QLatin1String("open"), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    const QUrlQuery query(url);
    PacsOpenRequest request;
    request.studyInstanceUID = query.queryItemValue(QStringLiteral("study"), QUrl::FullyDecoded);
    request.serverHost = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    request.serverAeTitle = query.queryItemValue(QStringLiteral("aet"), QUrl::FullyDecoded);
    bool ok = false;
    const int port = query.queryItemValue(QStringLiteral("port"), QUrl::FullyDecoded).toInt(&ok);
    request.serverPort = ok ? port : defaultPacsPort;
    // The same limits as a request through the bridge (an empty study among
    // them): a URL beyond them is no open request at all, so it never reaches
    // the coordinator, here or, forwarded, in the running instance.
    if (request.invalidField() != PacsOpenRequest::Field::None)
        return std::nullopt;
    request.valid = true;
    return request;
}

} // namespace

PacsOpenRequest parseOpenRequest(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (auto request = requestFrom(argument))
            return *request;
    }
    return PacsOpenRequest{};
}

} // namespace velmaris
