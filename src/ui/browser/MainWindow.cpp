#include "ui/browser/MainWindow.h"

#include "app/HotkeyRegistry.h"
#include "db/AutoCleanup.h"
#include "db/CleanupSettings.h"
#include "db/Database.h"
#include "db/ImportService.h"
#include "db/StudyCatalog.h"
#include "platform/OpticalDrives.h"
#include "ui/browser/CleanupSettingsDialog.h"
#include "app/UserSettings.h"
#include "ui/dialogs/SortHeaderView.h"
#include "ui/browser/StudyFilterBar.h"
#include "ui/dialogs/SortHeaderView.h"
#include "ui/dialogs/StudyTable.h"
#include "ui/dialogs/HotkeyDialog.h"
#include "ui/dialogs/QuickToolsDialog.h"
#include "ui/cpr/CprViewerEntries.h"
#include "ui/mpr/ViewerVolumeEntries.h"
#include "ui/pacs/PacsDownloadDialog.h"
#include "ui/pacs/PacsOpenCoordinator.h"
#include "ui/pacs/PacsSendAction.h"
#include "pacs/MiniPacsService.h"
#include "ui/pacs/MiniPacsDialog.h"
#include "ui/pacs/PacsSettingsDialog.h"
#include "ui/viewer/ViewerWindow.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmaris {

namespace {

MainWindow *theInstance = nullptr;

const QString readyText = QStringLiteral("Готово — двойной клик по пациенту или серии открывает просмотр");
constexpr int opticalDriveCheckMs = 3000;

bool isArchive(const QFileInfo &info)
{
    const QString suffix = info.suffix().toLower();
    return info.isFile() && (suffix == QLatin1String("zip") || suffix == QLatin1String("7z"));
}

// The local folders and archives among dropped URLs.
QList<QFileInfo> droppedItems(const QMimeData *mime)
{
    QList<QFileInfo> items;
    if (mime == nullptr)
        return items;
    for (const QUrl &url : mime->urls()) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (info.isDir() || isArchive(info))
            items << info;
    }
    return items;
}

QTableWidgetItem *textItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

// The leading whole number of a series number, 0 when there is none: the
// index orders series the same way ("10" after "9", "scout" as 0).
qint64 leadingNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = trimmed.startsWith(QLatin1Char('-')) || trimmed.startsWith(QLatin1Char('+')) ? 1 : 0;
    while (end < trimmed.size() && trimmed.at(end).isDigit())
        ++end;
    return trimmed.left(end).toLongLong();
}

// A series number cell that sorts by number rather than by text.
class SeriesNumberItem : public QTableWidgetItem
{
public:
    explicit SeriesNumberItem(const QString &text) : QTableWidgetItem(text)
    {
        setFlags(flags() & ~Qt::ItemIsEditable);
    }

    bool operator<(const QTableWidgetItem &other) const override
    {
        return leadingNumber(text()) < leadingNumber(other.text());
    }
};

} // namespace

MainWindow *MainWindow::instance()
{
    return theInstance;
}

QString MainWindow::defaultDataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

MainWindow::MainWindow(const QString &dataDirectory, QWidget *parent)
    : QMainWindow(parent), m_dataDirectory(QDir(dataDirectory).absolutePath())
{
    theInstance = this;
    setWindowTitle(QStringLiteral("Velmaris — исследования"));
    resize(1000, 700);
    setAcceptDrops(true);

    QDir().mkpath(m_dataDirectory);
    m_database = new db::Database(this);
    m_databaseOpen = m_database->open(QDir(m_dataDirectory).filePath(QStringLiteral("index.sqlite3")));
    if (!m_databaseOpen) {
        QMessageBox::critical(this, QStringLiteral("Ошибка базы данных"),
                              QStringLiteral("Не удалось открыть локальную базу исследований:\n%1")
                                  .arg(m_database->lastError()));
    }

    m_import = new db::ImportService(m_database, this);
    connect(m_import, &db::ImportService::scanProgressed, this, &MainWindow::onImportProgress);
    connect(m_import, &db::ImportService::unpackProgressed, this, &MainWindow::onArchiveProgress);
    connect(m_import, &db::ImportService::failed, this, &MainWindow::onImportError);
    connect(m_import, &db::ImportService::finished, this, &MainWindow::onImportFinished);
    m_miniPacs = new pacs::MiniPacsService(m_database, QDir(m_dataDirectory).filePath(QStringLiteral("index.sqlite3")),
                                           QDir(m_dataDirectory).filePath(QStringLiteral("minipacs_received")), this);
    connect(m_miniPacs, &pacs::MiniPacsService::archiveChanged, this, &MainWindow::reloadStudies);

    buildToolBar();
    buildTables();

    m_statusLabel = new QLabel(readyText, this);
    statusBar()->addWidget(m_statusLabel, 1);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setFixedWidth(160);
    m_progressBar->setRange(0, 0);
    m_progressBar->setVisible(false);
    statusBar()->addPermanentWidget(m_progressBar);

    restoreColumns();
    runAutoCleanup();
    reloadStudies();

    auto *driveTimer = new QTimer(this);
    connect(driveTimer, &QTimer::timeout, this, &MainWindow::onOpticalDriveCheck);
    driveTimer->start(opticalDriveCheckMs);
    onOpticalDriveCheck();

    QTimer::singleShot(0, this, &MainWindow::runStartupAction);
}

MainWindow::~MainWindow()
{
    m_import->stop();
    m_miniPacs->stop();
    saveColumns();
    if (theInstance == this)
        theInstance = nullptr;
}

void MainWindow::buildToolBar()
{
    QToolBar *bar = addToolBar(QStringLiteral("Главная"));
    bar->setMovable(false);
    bar->setIconSize(QSize(40, 40));

    auto *open = new QToolButton(bar);
    open->setText(QStringLiteral("Открыть"));
    open->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    open->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    open->setPopupMode(QToolButton::InstantPopup);
    auto *openMenu = new QMenu(open);
    QAction *openFolder = openMenu->addAction(QStringLiteral("Открыть каталог DICOM"));
    openFolder->setShortcut(HotkeyRegistry::shortcut(QStringLiteral("mainwindow.openFolder")));
    addAction(openFolder); // the shortcut works without opening the menu
    connect(openFolder, &QAction::triggered, this, &MainWindow::onOpenFolderTriggered);
    QAction *openArchive = openMenu->addAction(QStringLiteral("Открыть архив (ZIP/7z)"));
    connect(openArchive, &QAction::triggered, this, &MainWindow::onOpenArchiveTriggered);
    m_opticalDriveAction = openMenu->addAction(QStringLiteral("Загрузить с CD/DVD"));
    connect(m_opticalDriveAction, &QAction::triggered, this, &MainWindow::onOpenFolderTriggered);
    open->setMenu(openMenu);
    bar->addWidget(open);

    QAction *fromPacs = bar->addAction(style()->standardIcon(QStyle::SP_DriveNetIcon), QStringLiteral("Загрузить с PACS…"));
    connect(fromPacs, &QAction::triggered, this, &MainWindow::openPacsDialog);
    if (auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(fromPacs)))
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

    auto *settings = new QToolButton(bar);
    settings->setText(QStringLiteral("Настройки ▾"));
    settings->setPopupMode(QToolButton::InstantPopup);
    auto *settingsMenu = new QMenu(settings);
    QAction *storage = settingsMenu->addAction(QStringLiteral("Управление хранилищем…"));
    connect(storage, &QAction::triggered, this, [this] {
        CleanupSettingsDialog dialog(this);
        dialog.exec();
    });
    QAction *pacsSettings = settingsMenu->addAction(QStringLiteral("Настройки PACS…"));
    connect(pacsSettings, &QAction::triggered, this, [this] {
        PacsSettingsDialog dialog(this);
        dialog.exec();
    });
    QAction *miniPacs = settingsMenu->addAction(QStringLiteral("Velmaris как PACS-сервер…"));
    connect(miniPacs, &QAction::triggered, this, [this] {
        MiniPacsDialog dialog(m_miniPacs, this);
        dialog.exec();
    });
    QAction *light = settingsMenu->addAction(QStringLiteral("Светлая тема"));
    light->setCheckable(true);
    light->setChecked(!settings::darkTheme());
    connect(light, &QAction::toggled, this, [this](bool checked) {
        settings::setDarkTheme(!checked);
        emit themeChangeRequested(!checked);
    });
    QAction *quickButtons = settingsMenu->addAction(QStringLiteral("Кнопки быстрых измерений…"));
    quickButtons->setToolTip(QStringLiteral("Шесть кнопок на правом краю снимка: какие инструменты в них показывать"));
    connect(quickButtons, &QAction::triggered, this, [this] {
        QuickToolsDialog dialog(this);
        dialog.exec();
    });
    QAction *hotkeys = settingsMenu->addAction(QStringLiteral("Горячие клавиши…"));
    connect(hotkeys, &QAction::triggered, this, [this] {
        HotkeyDialog dialog(this);
        dialog.exec();
    });
    QMenu *startup = settingsMenu->addMenu(QStringLiteral("При запуске программы"));
    auto *startupGroup = new QActionGroup(startup);
    const settings::StartupAction current = settings::startupAction();
    const QList<QPair<QString, settings::StartupAction>> choices{
        {QStringLiteral("Локальный архив"), settings::StartupAction::Archive},
        {QStringLiteral("Загрузка с PACS"), settings::StartupAction::Pacs},
        {QStringLiteral("Последнее просмотренное исследование"), settings::StartupAction::LastViewer},
    };
    for (const auto &[label, value] : choices) {
        QAction *choice = startup->addAction(label);
        choice->setCheckable(true);
        choice->setChecked(current == value);
        startupGroup->addAction(choice);
        const settings::StartupAction chosen = value;
        connect(choice, &QAction::triggered, this, [chosen] { settings::setStartupAction(chosen); });
    }
    settings->setMenu(settingsMenu);
    bar->addWidget(settings);
}

void MainWindow::buildTables()
{
    auto *left = new QWidget(this);
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(4, 4, 4, 4);
    m_filterBar = new StudyFilterBar(left);
    leftLayout->addWidget(m_filterBar);
    m_studies = new StudyTable(left);
    m_studies->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_studies->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_studies->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    m_studies->setContextMenuPolicy(Qt::CustomContextMenu);
    // Widths that fit typical content until the user sets (and we store) their own.
    const int studyWidths[] = {170, 90, 140, 190, 90};
    for (int column = 0; column < 5; ++column)
        m_studies->setColumnWidth(column, studyWidths[column]);
    // Newest studies on top; the rows follow the arrow from the first reload on.
    m_studies->horizontalHeader()->setSortIndicator(db::StudyTableRow::DateTime, Qt::DescendingOrder);
    m_studies->setSortingEnabled(true);
    leftLayout->addWidget(m_studies);

    m_series = new QTableWidget(0, 4, this);
    m_series->setHorizontalHeader(new SortHeaderView(Qt::Horizontal, m_series));
    m_series->setHorizontalHeaderLabels({QStringLiteral("№"), QStringLiteral("Модальность"),
                                         QStringLiteral("Описание серии"), QStringLiteral("Срезов")});
    m_series->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_series->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_series->horizontalHeader()->setStretchLastSection(true);
    m_series->verticalHeader()->setVisible(false);
    m_series->setWordWrap(false);
    m_series->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    m_series->setSortingEnabled(true);
    const int seriesWidths[] = {50, 100, 220};
    for (int column = 0; column < 3; ++column)
        m_series->setColumnWidth(column, seriesWidths[column]);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(left);
    splitter->addWidget(m_series);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    setCentralWidget(splitter);

    connect(m_filterBar, &StudyFilterBar::filterChanged, this, &MainWindow::applyFilters);
    connect(m_studies, &QTableWidget::cellClicked, this, [this](int row, int) { onStudyClicked(row); });
    connect(m_studies, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { onStudyDoubleClicked(row); });
    connect(m_series, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { onSeriesDoubleClicked(row); });
    connect(m_studies, &QWidget::customContextMenuRequested, this, &MainWindow::onStudyContextMenuRequested);
    connect(m_studies->horizontalHeader(), &QWidget::customContextMenuRequested, this,
            &MainWindow::onStudyHeaderMenuRequested);
}

void MainWindow::restoreColumns()
{
    for (const auto &[table, which] : {std::pair<QTableWidget *, settings::BrowserTable>(m_studies, settings::BrowserTable::Studies),
                                       std::pair(m_series, settings::BrowserTable::Series)}) {
        const QHash<int, int> widths = settings::columnWidths(which);
        for (auto it = widths.cbegin(); it != widths.cend(); ++it) {
            if (it.key() < table->columnCount())
                table->setColumnWidth(it.key(), it.value());
        }
    }
    for (int column : settings::hiddenStudyColumns()) {
        if (column >= 0 && column < m_studies->columnCount())
            m_studies->setColumnHidden(column, true);
    }
}

void MainWindow::saveColumns() const
{
    for (const auto &[table, which] : {std::pair<QTableWidget *, settings::BrowserTable>(m_studies, settings::BrowserTable::Studies),
                                       std::pair(m_series, settings::BrowserTable::Series)}) {
        QList<int> widths;
        for (int column = 0; column < table->columnCount(); ++column)
            widths.append(table->columnWidth(column));
        settings::setColumnWidths(which, widths);
    }
}

void MainWindow::onStudyHeaderMenuRequested(const QPoint &position)
{
    QMenu menu(this);
    for (int column = 0; column < m_studies->columnCount(); ++column) {
        QAction *action = menu.addAction(m_studies->horizontalHeaderItem(column)->text());
        action->setCheckable(true);
        action->setChecked(!m_studies->isColumnHidden(column));
        connect(action, &QAction::toggled, this, [this, column](bool visible) {
            m_studies->setColumnHidden(column, !visible);
            QList<int> hidden;
            for (int c = 0; c < m_studies->columnCount(); ++c) {
                if (m_studies->isColumnHidden(c))
                    hidden << c;
            }
            settings::setHiddenStudyColumns(hidden);
        });
    }
    menu.exec(m_studies->horizontalHeader()->mapToGlobal(position));
}

bool MainWindow::isImportRunning() const
{
    return m_import->isRunning();
}

QString MainWindow::statusText() const
{
    return m_statusLabel->text();
}

void MainWindow::reportReadFailure(const QString &reason)
{
    // An index that did not open has said so once at start; each list read
    // from it since fails for that same reason.
    if (!m_databaseOpen)
        return;
    QMessageBox::critical(this, QStringLiteral("Ошибка базы данных"),
                          QStringLiteral("Не удалось прочитать локальную базу исследований:\n%1").arg(reason));
}

void MainWindow::reloadStudies()
{
    // A failed read is no empty archive: the list stays as it was.
    QList<db::StudyTableRow> rows;
    QString error;
    if (!db::StudyCatalog(m_database).studyRows(&rows, &error)) {
        reportReadFailure(error);
        return;
    }
    m_studies->setRows(rows);
    applyFilters();
}

void MainWindow::applyFilters()
{
    const db::StudyFilter filter = m_filterBar->filter();
    const QDate today = QDate::currentDate();
    m_studies->showOnly([&](const db::StudyTableRow &row) { return filter.accepts(row, today); });
}

QStringList MainWindow::selectedStudyUids() const
{
    return m_studies->selectedStudyUids();
}

void MainWindow::selectStudy(const QString &studyUid)
{
    const int row = m_studies->rowOfStudy(studyUid);
    if (row < 0)
        return;
    m_studies->selectRow(row);
    onStudyClicked(row);
}

void MainWindow::showSeriesOf(const QString &studyUid)
{
    m_currentStudyUid = studyUid;
    m_series->setSortingEnabled(false);
    m_series->clearContents();
    QList<db::SeriesRecord> series;
    QString error;
    // The series of another study must not stay under this one: a failed
    // read leaves the table empty and says why.
    const bool failed = !studyUid.isEmpty() && !db::StudyCatalog(m_database).seriesOf(studyUid, &series, &error);
    m_series->setRowCount(static_cast<int>(series.size()));
    for (int i = 0; i < series.size(); ++i) {
        const db::SeriesRecord &s = series.at(i);
        QTableWidgetItem *number = new SeriesNumberItem(s.series_number);
        number->setData(Qt::UserRole, s.series_instance_uid);
        m_series->setItem(i, 0, number);
        m_series->setItem(i, 1, textItem(s.modality));
        m_series->setItem(i, 2, textItem(s.series_description));
        m_series->setItem(i, 3, textItem(QString::number(s.instance_count)));
    }
    m_series->setSortingEnabled(true);
    if (failed)
        reportReadFailure(error);
}

void MainWindow::onStudyClicked(int row)
{
    const QString uid = m_studies->studyUidAt(row);
    if (!uid.isEmpty())
        showSeriesOf(uid);
}

void MainWindow::onStudyDoubleClicked(int row)
{
    const QString uid = m_studies->studyUidAt(row);
    if (uid.isEmpty())
        return;
    settings::setLastStudyUid(uid);
    openViewer(uid);
}

void MainWindow::onSeriesDoubleClicked(int row)
{
    QTableWidgetItem *item = m_series->item(row, 0);
    if (item == nullptr || m_currentStudyUid.isEmpty())
        return;
    settings::setLastStudyUid(m_currentStudyUid);
    openViewer(m_currentStudyUid, item->data(Qt::UserRole).toString());
}

void MainWindow::setViewerToReplace(ViewerWindow *viewer)
{
    m_viewerToReplace = viewer;
}

void MainWindow::openViewer(const QString &studyUid, const QString &seriesUid)
{
    // Top-level, not a child of the browser: closing it never touches this window.
    auto *viewer = new ViewerWindow(studyUid, false);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    new ViewerVolumeEntries(viewer);
    new CprViewerEntries(viewer);
    viewer->setArchive(m_database);
    for (const db::SeriesSlices &series : db::StudyCatalog(m_database).seriesWithSlices(studyUid))
        viewer->showSeries(series.record, series.slices);
    if (!seriesUid.isEmpty())
        viewer->openSeries(seriesUid);
    presentViewer(viewer);
}

void MainWindow::presentViewer(ViewerWindow *viewer)
{
    connect(viewer, &ViewerWindow::backToListRequested, this, [this, viewer] {
        setViewerToReplace(viewer);
        if (isMinimized())
            showNormal();
        else
            show();
        raise();
        activateWindow();
    });
    if (ViewerWindow *old = m_viewerToReplace.data()) {
        m_viewerToReplace = nullptr;
        viewer->setGeometry(old->geometry());
        if (old->isMaximized())
            viewer->showMaximized();
        else
            viewer->showNormal();
        old->close();
    } else {
        viewer->showMaximized();
    }
    emit viewerOpened(viewer);
}

void MainWindow::openPacsDialog()
{
    if (auto *open = findChild<PacsDownloadDialog *>()) {
        open->showNormal();
        open->raise();
        open->activateWindow();
        return;
    }
    auto *dialog = new PacsDownloadDialog(m_database, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->coordinator()->setDataDirectory(m_dataDirectory);
    dialog->coordinator()->setViewerPresenter([this](ViewerWindow *viewer) { presentViewer(viewer); });
    connect(dialog, &PacsDownloadDialog::studiesImported, this, &MainWindow::reloadStudies);
    dialog->show();
}

void MainWindow::runStartupAction()
{
    if (settings::startupAction() == settings::StartupAction::Pacs) {
        openPacsDialog();
        return;
    }
    if (settings::startupAction() != settings::StartupAction::LastViewer)
        return;
    const QString last = settings::lastStudyUid();
    if (db::StudyCatalog(m_database).studyExists(last))
        openViewer(last);
}

QMenu *MainWindow::createStudyContextMenu()
{
    const QStringList uids = selectedStudyUids();
    auto *menu = new QMenu(this);
    if (uids.isEmpty())
        return menu;
    const bool anyProtected = anyProtectedIn(uids);
    const QString count = uids.size() > 1 ? QStringLiteral(" (%1 шт.)").arg(uids.size()) : QString();

    QAction *protect = menu->addAction(anyProtected ? QStringLiteral("Снять защиту от удаления")
                                                    : QStringLiteral("Защитить от удаления"));
    connect(protect, &QAction::triggered, this, &MainWindow::toggleProtectionOfSelection);
    if (uids.size() == 1) {
        QAction *send = menu->addAction(QStringLiteral("Отправить на PACS-сервер…"));
        connect(send, &QAction::triggered, this, [this, uid = uids.first()] {
            PacsSendAction::chooseServerAndSend(this, db::StudyCatalog(m_database).filesOf(uid));
        });
    }
    menu->addSeparator();
    QAction *fromList = menu->addAction(QStringLiteral("Удалить только запись из списка%1").arg(count));
    connect(fromList, &QAction::triggered, this, &MainWindow::deleteSelectionFromList);
    QAction *completely = menu->addAction(QStringLiteral("Удалить полностью (запись + файлы)%1").arg(count));
    connect(completely, &QAction::triggered, this, &MainWindow::deleteSelectionCompletely);
    if (anyProtected) {
        for (QAction *action : {fromList, completely}) {
            action->setEnabled(false);
            action->setToolTip(QStringLiteral("В выделении есть защищённые от удаления исследования"));
        }
        menu->setToolTipsVisible(true);
    }
    return menu;
}

bool MainWindow::anyProtectedIn(const QStringList &studyUids) const
{
    return std::any_of(studyUids.cbegin(), studyUids.cend(), [this](const QString &uid) {
        const db::StudyTableRow *row = m_studies->rowData(uid);
        return row != nullptr && row->isProtected;
    });
}

void MainWindow::onStudyContextMenuRequested(const QPoint &position)
{
    const QModelIndex index = m_studies->indexAt(position);
    if (index.isValid() && !m_studies->selectionModel()->isRowSelected(index.row(), QModelIndex()))
        m_studies->selectRow(index.row());
    QMenu *menu = createStudyContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_studies->viewport()->mapToGlobal(position));
}

void MainWindow::toggleProtectionOfSelection()
{
    const QStringList uids = selectedStudyUids();
    QString error;
    if (!db::StudyCatalog(m_database).setProtected(uids, !anyProtectedIn(uids), &error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), QStringLiteral("Не удалось изменить защиту:\n%1").arg(error));
    reloadStudies();
}

void MainWindow::deleteSelectionFromList()
{
    const QStringList uids = selectedStudyUids();
    if (uids.isEmpty())
        return;
    const QString question =
        uids.size() == 1
            ? QStringLiteral("Удалить исследование из списка?\n\nФайлы на диске останутся нетронутыми — "
                             "удаляется только запись в локальной базе.")
            : QStringLiteral("Удалить %1 исследований из списка?\n\nФайлы на диске останутся нетронутыми — "
                             "удаляются только записи в локальной базе.")
                  .arg(uids.size());
    if (QMessageBox::question(this, QStringLiteral("Удалить запись"), question) != QMessageBox::Yes)
        return;
    QString error;
    if (!db::StudyCatalog(m_database).removeFromList(uids, &error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), QStringLiteral("Не удалось удалить исследование:\n%1").arg(error));
    if (!db::StudyCatalog(m_database).studyExists(m_currentStudyUid))
        showSeriesOf(QString());
    reloadStudies();
}

void MainWindow::deleteSelectionCompletely()
{
    const QStringList uids = selectedStudyUids();
    if (uids.isEmpty())
        return;
    QString error;
    if (uids.size() == 1) {
        if (!deleteStudyCompletely(uids.first(), true, &error) && !error.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
        reloadStudies();
        return;
    }
    if (QMessageBox::question(this, QStringLiteral("Удалить полностью"),
                              QStringLiteral("Удалить полностью %1 исследований (запись + файлы в управляемом хранилище)?")
                                  .arg(uids.size()),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes) {
        return;
    }
    for (const QString &uid : uids) {
        if (!deleteStudyCompletely(uid, false, &error)) {
            QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
            break;
        }
    }
    reloadStudies();
}

bool MainWindow::deleteStudyCompletely(const QString &studyUid, bool ask, QString *error)
{
    const db::StudyCatalog catalog(m_database);
    const db::StudyFilePlan plan = catalog.filePlan(studyUid, m_dataDirectory);
    if (ask) {
        QString text = QStringLiteral("Удалить исследование полностью?\n\nЗапись в базе будет удалена.");
        if (!plan.managed.isEmpty())
            text += QStringLiteral("\nБудет удалено файлов с диска: %1.").arg(plan.managed.size());
        if (plan.unmanagedCount > 0)
            text += QStringLiteral("\n%1 файл(ов) из обычного \"Импорт папки…\" НЕ будут удалены (они вне управления "
                                   "приложения — не наши, чтобы не удалить что-то чужое).")
                        .arg(plan.unmanagedCount);
        if (plan.managed.isEmpty() && plan.unmanagedCount == 0)
            text += QStringLiteral("\n(Файлов для удаления не найдено.)");
        if (QMessageBox::question(this, QStringLiteral("Удалить полностью"), text, QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::No)
            != QMessageBox::Yes) {
            return false;
        }
    }
    if (!catalog.removeCompletely(studyUid, plan, error))
        return false;
    if (studyUid == m_currentStudyUid)
        showSeriesOf(QString());
    return true;
}

void MainWindow::runAutoCleanup()
{
    const int removed = db::runAutoCleanup(*m_database, db::loadCleanupSettings(), m_dataDirectory, QDate::currentDate());
    if (removed > 0)
        m_statusLabel->setText(QStringLiteral("Автоочистка при запуске: удалено исследований — %1").arg(removed));
}

void MainWindow::onOpticalDriveCheck()
{
    const bool present = OpticalDrives().present();
    m_opticalDriveAction->setEnabled(present);
    m_opticalDriveAction->setToolTip(present ? QString() : QStringLiteral("Привод CD/DVD не обнаружен"));
}

void MainWindow::onOpenFolderTriggered()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Выберите папку с DICOM-исследованиями"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        startFolderImport(folder);
}

void MainWindow::onOpenArchiveTriggered()
{
    const QString archive = QFileDialog::getOpenFileName(
        this, QStringLiteral("Выберите архив с DICOM-исследованием"), QString(),
        QStringLiteral("Архивы (*.zip *.7z);;ZIP-архивы (*.zip);;7z-архивы (*.7z)"));
    if (!archive.isEmpty())
        startArchiveImport(archive);
}

void MainWindow::startFolderImport(const QString &folder)
{
    if (!beginImport())
        return;
    m_import->startFolder(folder);
    m_statusLabel->setText(QStringLiteral("Сканирование: %1").arg(folder));
}

void MainWindow::startArchiveImport(const QString &archive)
{
    if (!beginImport())
        return;
    m_import->startArchive(archive, QDir(m_dataDirectory).filePath(QStringLiteral("imported_from_zip")));
    m_statusLabel->setText(QStringLiteral("Распаковка и импорт архива: %1").arg(archive));
}

bool MainWindow::beginImport()
{
    if (m_import->isRunning()) {
        QMessageBox::information(this, QStringLiteral("Импорт уже выполняется"),
                                 QStringLiteral("Дождитесь завершения текущего импорта."));
        return false;
    }
    m_progressBar->setVisible(true);
    return true;
}

void MainWindow::onImportProgress(int filesScanned, int dicomFilesFound)
{
    m_statusLabel->setText(QStringLiteral("Просканировано файлов: %1, найдено DICOM: %2")
                               .arg(filesScanned)
                               .arg(dicomFilesFound));
}

void MainWindow::onArchiveProgress(int filesProcessed)
{
    m_statusLabel->setText(QStringLiteral("Распаковка и импорт: обработано файлов — %1").arg(filesProcessed));
}

void MainWindow::onImportFinished(const db::ImportOutcome &outcome)
{
    m_progressBar->setVisible(false);
    if (m_import->source() == db::ImportService::Source::Archive) {
        if (!outcome.error.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Ошибка импорта архива"), outcome.error);
        m_statusLabel->setText(QStringLiteral("Импорт из архива завершён: добавлено %1, пропущено %2")
                                   .arg(outcome.added)
                                   .arg(outcome.skipped));
    } else {
        m_statusLabel->setText(
            QStringLiteral("Импорт завершён: добавлено %1, пропущено %2").arg(outcome.added).arg(outcome.skipped));
    }
    reloadStudies();
    emit importFinished(outcome.added, outcome.skipped);
}

void MainWindow::onImportError(const QString &message)
{
    QMessageBox::warning(this, QStringLiteral("Ошибка импорта"), message);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_import->stop();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedItems(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QList<QFileInfo> items = droppedItems(event->mimeData());
    for (const QFileInfo &item : items) {
        if (item.isDir())
            startFolderImport(item.absoluteFilePath());
        else
            startArchiveImport(item.absoluteFilePath());
    }
    if (!items.isEmpty())
        event->acceptProposedAction();
}

} // namespace velmaris
