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
    if (request.studyInstanceUID.isEmpty())
        return std::nullopt;
    request.serverHost = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    request.serverAeTitle = query.queryItemValue(QStringLiteral("aet"), QUrl::FullyDecoded);
    bool ok = false;
    const int port = query.queryItemValue(QStringLiteral("port"), QUrl::FullyDecoded).toInt(&ok);
    request.serverPort = ok ? port : defaultPacsPort;
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
