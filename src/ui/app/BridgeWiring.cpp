#include "ui/app/BridgeWiring.h"

#include "app/LocalApiServer.h"
#include "app/PacsOpenRequest.h"
#include "ui/pacs/PacsOpenCoordinator.h"

#include <QWidget>

namespace velmaris {

void connectBridge(LocalApiServer *bridge, pacs::PacsOpenCoordinator *coordinator, QWidget *window)
{
    QObject::connect(bridge, &LocalApiServer::openStudyRequested, coordinator,
                     [coordinator](const QString &study, const QString &host, int serverPort, const QString &aet) {
                         coordinator->openStudy(PacsOpenRequest{study, host, serverPort, aet, true});
                     }, Qt::QueuedConnection);
    QObject::connect(coordinator, &pacs::PacsOpenCoordinator::waitingForUserChanged, bridge,
                     &LocalApiServer::setOpenRequestWaiting);
    QObject::connect(bridge, &LocalApiServer::focusRequested, window, [window] {
        qInfo("MainWindow: focus requested");
        window->showNormal();
        window->raise();
        window->activateWindow();
    }, Qt::QueuedConnection);
}

} // namespace velmaris
