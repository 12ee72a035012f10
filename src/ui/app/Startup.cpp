#include "ui/app/Startup.h"

#include "app/CommandLine.h"
#include "app/InstanceForwarder.h"
#include "app/LocalApiServer.h"
#include "app/QtTranslations.h"
#include "app/StartupSettings.h"
#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileSummary.h"
#include "pacs/MiniPacsService.h"
#include "platform/SingleInstanceGuard.h"
#include "ui/app/BridgeWiring.h"
#include "ui/app/PortableSession.h"
#include "app/UserSettings.h"
#include "ui/app/Theme.h"
#include "ui/browser/MainWindow.h"
#include "ui/pacs/PacsOpenCoordinator.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>

namespace velmaris {

namespace {

void setIdentity(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Norvane"));
    QApplication::setOrganizationName(QStringLiteral("Brennick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmaris"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app.ico")));
    app.setQuitOnLastWindowClosed(false);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    if (!installQtTranslations(app))
        qWarning("Startup: Qt translations for Russian not found; standard dialogs stay in English");
}

int runPortable(QApplication &app)
{
    const QString folder = QDir(QApplication::applicationDirPath()).filePath(portableImageFolderName);
    PortableSession session(folder);
    if (!session.openDatabase()) {
        QMessageBox::critical(nullptr, QStringLiteral("Velmaris"),
                              QStringLiteral("Не удалось открыть временную базу данных для портативного режима."));
        return 1;
    }
    QObject::connect(&session, &PortableSession::ended, &app, &QApplication::quit, Qt::QueuedConnection);
    session.start();
    return app.exec();
}

int runNormal(QApplication &app)
{
    const PacsOpenRequest request = parseOpenRequest(QApplication::arguments().mid(1));
    const quint16 port = bridgePort();

    SingleInstanceGuard guard(singleInstanceName);
    if (guard.acquire() == SingleInstanceGuard::Outcome::AlreadyRunning) {
        forwardToRunningInstance(request, port, forwardTimeoutMs);
        return 0;
    }

    auto *bridge = new LocalApiServer(port, &app);
    QString error;
    if (!bridge->listen(&error)) {
        qWarning().noquote() << "LocalApiServer: порт" << port << "занят другой сессией/процессом (" << error
                             << ") — мост с веб-версией недоступен в этой сессии.";
    }

    MainWindow window(MainWindow::defaultDataDirectory());
    QObject::connect(&window, &MainWindow::themeChangeRequested, &app, [&app](bool dark) { applyTheme(app, dark); });
    window.show();
    // Once the event loop turns, the window is on screen: a marker for start-up timing.
    QTimer::singleShot(0, &window, [] { qInfo("MainWindow: shown"); });
    window.miniPacs()->restart();

    pacs::PacsOpenCoordinator coordinator(window.database(), &window);
    coordinator.setDataDirectory(window.dataDirectory());
    coordinator.setViewerPresenter([&window](ViewerWindow *viewer) { window.presentViewer(viewer); });
    connectBridge(bridge, &coordinator, &window);

    if (request.valid) {
        // The command line's request comes first: no request through the
        // bridge may slip in before it reaches the coordinator.
        bridge->setOpenRequestWaiting(true);
        QTimer::singleShot(0, &coordinator, [&coordinator, request] { coordinator.openStudy(request); });
    }
    const int code = app.exec();
    delete bridge;
    return code;
}

} // namespace

int runWorkstation(int &argc, char **argv)
{
    dicom::registerSummaryMetaType();
    qRegisterMetaType<PacsOpenRequest>("velmaris::PacsOpenRequest");
    QApplication app(argc, argv);
    setIdentity(app);
    applyTheme(app, settings::darkTheme());

    const dicom::CodecRegistration codecs;
    const bool portable =
        QFileInfo::exists(QDir(QApplication::applicationDirPath()).filePath(portableMarkerName));
    return portable ? runPortable(app) : runNormal(app);
}

} // namespace velmaris
