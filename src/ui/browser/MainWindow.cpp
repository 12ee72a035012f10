#include "ui/browser/MainWindow.h"

#include "app/HotkeyRegistry.h"
#include "db/AutoCleanup.h"
#include "db/CleanupSettings.h"
#include "db/Database.h"
#include "db/IndexWriter.h"
#include "db/StudyDeletion.h"
#include "dicom/DicomImporter.h"
#include "dicom/ZipImportWorker.h"
#include "platform/OpticalDrives.h"
#include "ui/browser/CleanupSettingsDialog.h"
#include "app/UserSettings.h"
#include "ui/browser/SortHeaderView.h"
#include "ui/browser/StudyFilterBar.h"
#include "ui/dialogs/HotkeyDialog.h"
#include "ui/dialogs/QuickToolsDialog.h"
#include "ui/pacs/PacsSendAction.h"
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
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmaris {

namespace {

MainWindow *theInstance = nullptr;

const QString readyText = QStringLiteral("Готово — двойной клик по пациенту или серии открывает просмотр");
constexpr int protectedRole = Qt::UserRole + 1;
constexpr int modalitiesRole = Qt::UserRole + 2;
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
    stopImport();
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
    m_studies = new QTableWidget(0, db::StudyTableRow::ColumnCount, left);
    m_studies->setHorizontalHeader(new SortHeaderView(Qt::Horizontal, m_studies));
    m_studies->setHorizontalHeaderLabels({QStringLiteral("Пациент"), QStringLiteral("ID пациента"),
                                          QStringLiteral("Дата и время"), QStringLiteral("Описание исследования"),
                                          QStringLiteral("Модальность"), QStringLiteral("Серий/срезов")});
    m_studies->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_studies->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_studies->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_studies->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_studies->horizontalHeader()->setStretchLastSection(true);
    m_studies->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    m_studies->verticalHeader()->setVisible(false);
    m_studies->setWordWrap(false);
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
    for (const auto &[table, which] : {std::pair(m_studies, settings::BrowserTable::Studies),
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
    for (const auto &[table, which] : {std::pair(m_studies, settings::BrowserTable::Studies),
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

QString MainWindow::statusText() const
{
    return m_statusLabel->text();
}

void MainWindow::reportReadFailure()
{
    // An index that did not open has said so once at start; each list read
    // from it since fails for that same reason.
    if (!m_databaseOpen)
        return;
    QMessageBox::critical(this, QStringLiteral("Ошибка базы данных"),
                          QStringLiteral("Не удалось прочитать локальную базу исследований:\n%1")
                              .arg(m_database->lastError()));
}

void MainWindow::reloadStudies()
{
    // A failed read is no empty archive: the list stays as it was.
    const QList<db::StudyRecord> studies = m_database->listStudies();
    if (!m_database->lastError().isEmpty()) {
        reportReadFailure();
        return;
    }
    m_rows = db::buildStudyRows(studies);
    m_rowOfStudy.clear();
    m_studies->setSortingEnabled(false);
    m_studies->clearContents();
    m_studies->setRowCount(static_cast<int>(m_rows.size()));
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        const db::StudyTableRow &row = m_rows.at(i);
        m_rowOfStudy.insert(row.studyUid, i);
        for (int column = 0; column < db::StudyTableRow::ColumnCount; ++column) {
            QTableWidgetItem *item = textItem(row.text[column]);
            if (column == 0) {
                item->setData(Qt::UserRole, row.studyUid);
                item->setData(protectedRole, row.isProtected);
                item->setData(modalitiesRole, row.modalityList);
            }
            if (column == db::StudyTableRow::PatientId)
                item->setToolTip(row.patientIdToolTip);
            m_studies->setItem(static_cast<int>(i), column, item);
        }
    }
    m_studies->setSortingEnabled(true);
    applyFilters();
}

void MainWindow::applyFilters()
{
    const db::StudyFilter filter = m_filterBar->filter();
    const QDate today = QDate::currentDate();
    for (int r = 0; r < m_studies->rowCount(); ++r) {
        const QTableWidgetItem *item = m_studies->item(r, 0);
        const auto found = item ? m_rowOfStudy.constFind(item->data(Qt::UserRole).toString()) : m_rowOfStudy.cend();
        const bool shown = found != m_rowOfStudy.cend() && filter.accepts(m_rows.at(*found), today);
        m_studies->setRowHidden(r, !shown);
    }
}

QStringList MainWindow::selectedStudyUids() const
{
    QList<int> rows;
    for (const QModelIndex &index : m_studies->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QStringList uids;
    for (int row : rows)
        uids << m_studies->item(row, 0)->data(Qt::UserRole).toString();
    return uids;
}

void MainWindow::selectStudy(const QString &studyUid)
{
    for (int r = 0; r < m_studies->rowCount(); ++r) {
        if (m_studies->item(r, 0)->data(Qt::UserRole).toString() == studyUid) {
            m_studies->selectRow(r);
            onStudyClicked(r);
            return;
        }
    }
}

void MainWindow::showSeriesOf(const QString &studyUid)
{
    m_currentStudyUid = studyUid;
    m_series->setSortingEnabled(false);
    m_series->clearContents();
    const QList<db::SeriesRecord> series = studyUid.isEmpty() ? QList<db::SeriesRecord>()
                                                              : m_database->listSeries(studyUid);
    // The series of another study must not stay under this one: a failed
    // read leaves the table empty and says why.
    const bool failed = !studyUid.isEmpty() && !m_database->lastError().isEmpty();
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
        reportReadFailure();
}

void MainWindow::onStudyClicked(int row)
{
    if (QTableWidgetItem *item = m_studies->item(row, 0))
        showSeriesOf(item->data(Qt::UserRole).toString());
}

void MainWindow::onStudyDoubleClicked(int row)
{
    QTableWidgetItem *item = m_studies->item(row, 0);
    if (item == nullptr)
        return;
    const QString uid = item->data(Qt::UserRole).toString();
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
    viewer->setArchive(m_database);
    connect(viewer, &ViewerWindow::backToListRequested, this, [this, viewer] {
        setViewerToReplace(viewer);
        if (isMinimized())
            showNormal();
        else
            show();
        raise();
        activateWindow();
    });
    for (const db::SeriesRecord &series : m_database->listSeries(studyUid))
        viewer->showSeries(series, m_database->listInstances(series.series_instance_uid));
    if (!seriesUid.isEmpty())
        viewer->openSeries(seriesUid);
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

void MainWindow::runStartupAction()
{
    if (settings::startupAction() != settings::StartupAction::LastViewer)
        return;
    const QString last = settings::lastStudyUid();
    if (!last.isEmpty() && m_database->studyExists(last))
        openViewer(last);
}

QMenu *MainWindow::createStudyContextMenu()
{
    const QStringList uids = selectedStudyUids();
    auto *menu = new QMenu(this);
    if (uids.isEmpty())
        return menu;
    bool anyProtected = false;
    for (const QString &uid : uids) {
        const auto found = m_rowOfStudy.constFind(uid);
        anyProtected = anyProtected || (found != m_rowOfStudy.cend() && m_rows.at(*found).isProtected);
    }
    const QString count = uids.size() > 1 ? QStringLiteral(" (%1 шт.)").arg(uids.size()) : QString();

    QAction *protect = menu->addAction(anyProtected ? QStringLiteral("Снять защиту от удаления")
                                                    : QStringLiteral("Защитить от удаления"));
    connect(protect, &QAction::triggered, this, &MainWindow::toggleProtectionOfSelection);
    if (uids.size() == 1) {
        QAction *send = menu->addAction(QStringLiteral("Отправить на PACS-сервер…"));
        connect(send, &QAction::triggered, this, [this, uid = uids.first()] {
            PacsSendAction::chooseServerAndSend(this, m_database->studyFilePaths(uid));
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
    bool anyProtected = false;
    for (const QString &uid : uids) {
        const auto found = m_rowOfStudy.constFind(uid);
        anyProtected = anyProtected || (found != m_rowOfStudy.cend() && m_rows.at(*found).isProtected);
    }
    for (const QString &uid : uids) {
        if (!m_database->setStudyProtected(uid, !anyProtected)) {
            QMessageBox::warning(this, QStringLiteral("Ошибка"),
                                 QStringLiteral("Не удалось изменить защиту:\n%1").arg(m_database->lastError()));
            break;
        }
    }
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
    for (const QString &uid : uids) {
        if (!m_database->deleteStudy(uid)) {
            QMessageBox::warning(this, QStringLiteral("Ошибка"),
                                 QStringLiteral("Не удалось удалить исследование:\n%1").arg(m_database->lastError()));
            break;
        }
        if (uid == m_currentStudyUid)
            showSeriesOf(QString());
    }
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
    const db::StudyFilePlan plan = db::planStudyFiles(*m_database, m_dataDirectory, studyUid);
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
    const int deleted = db::deleteFilesAndEmptyFolders(plan.managed);
    if (!m_database->deleteStudy(studyUid)) {
        *error = QStringLiteral("Файлы удалены (%1), но не удалось удалить запись в базе:\n%2")
                     .arg(deleted)
                     .arg(m_database->lastError());
        return false;
    }
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

bool MainWindow::beginImport(const QString &statusText)
{
    if (m_importThread != nullptr) {
        QMessageBox::information(this, QStringLiteral("Импорт уже выполняется"),
                                 QStringLiteral("Дождитесь завершения текущего импорта."));
        return false;
    }
    m_progressBar->setVisible(true);
    m_statusLabel->setText(statusText);
    m_writer = std::make_unique<db::IndexWriter>(m_database);
    m_importThread = new QThread(this);
    return true;
}

void MainWindow::startFolderImport(const QString &folder)
{
    if (!beginImport(QStringLiteral("Сканирование: %1").arg(folder)))
        return;
    auto *importer = new dicom::DicomImporter;
    importer->moveToThread(m_importThread);
    connect(m_importThread, &QThread::started, importer, [importer, folder] { importer->importDirectory(folder); });
    connect(importer, &dicom::DicomImporter::fileFound, this, &MainWindow::onImportFileFound, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::progress, this, &MainWindow::onImportProgress, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::finished, this, &MainWindow::onImportFinished, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::errorOccurred, this, &MainWindow::onImportError, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::finished, m_importThread, &QThread::quit);
    connect(m_importThread, &QThread::finished, importer, &QObject::deleteLater);
    m_importThread->start(QThread::InheritPriority);
}

void MainWindow::startArchiveImport(const QString &archive)
{
    if (!beginImport(QStringLiteral("Распаковка и импорт архива: %1").arg(archive)))
        return;
    const QString storage = QDir(m_dataDirectory).filePath(QStringLiteral("imported_from_zip"));
    auto *worker = new dicom::ZipImportWorker(archive, storage, nullptr);
    worker->moveToThread(m_importThread);
    connect(m_importThread, &QThread::started, worker, &dicom::ZipImportWorker::run);
    connect(worker, &dicom::ZipImportWorker::fileFound, this, &MainWindow::onImportFileFound, Qt::QueuedConnection);
    connect(worker, &dicom::ZipImportWorker::progress, this, &MainWindow::onArchiveProgress, Qt::QueuedConnection);
    connect(worker, &dicom::ZipImportWorker::finished, this, &MainWindow::onArchiveImportFinished,
            Qt::QueuedConnection);
    connect(worker, &dicom::ZipImportWorker::finished, m_importThread, &QThread::quit);
    connect(m_importThread, &QThread::finished, worker, &QObject::deleteLater);
    m_importThread->start(QThread::InheritPriority);
}

void MainWindow::onImportFileFound(const dicom::DicomFileSummary &summary)
{
    if (m_writer)
        m_writer->add(summary);
}

void MainWindow::flushPendingSummaries()
{
    if (m_writer)
        m_writer->flush();
}

void MainWindow::onImportProgress(int filesScanned, int dicomFilesFound)
{
    flushPendingSummaries();
    m_statusLabel->setText(QStringLiteral("Просканировано файлов: %1, найдено DICOM: %2")
                               .arg(filesScanned)
                               .arg(dicomFilesFound));
}

void MainWindow::onArchiveProgress(int filesProcessed)
{
    if (m_writer && m_writer->pending() >= 25)
        flushPendingSummaries();
    m_statusLabel->setText(QStringLiteral("Распаковка и импорт: обработано файлов — %1").arg(filesProcessed));
}

void MainWindow::finishImport()
{
    m_progressBar->setVisible(false);
    if (m_importThread != nullptr) {
        // The worker has emitted its last signal and is returning; let the
        // thread end before it is scheduled for deletion.
        m_importThread->quit();
        m_importThread->wait();
        m_importThread->deleteLater();
        m_importThread = nullptr;
    }
}

void MainWindow::onImportFinished(int added, int skipped)
{
    flushPendingSummaries();
    // A summary the index refused was not added, whatever the walk found.
    const int rejected = m_writer ? m_writer->rejected() : 0;
    added -= rejected;
    skipped += rejected;
    finishImport();
    m_statusLabel->setText(QStringLiteral("Импорт завершён: добавлено %1, пропущено %2").arg(added).arg(skipped));
    reloadStudies();
    emit importFinished(added, skipped);
}

void MainWindow::onArchiveImportFinished(int imported, int skipped, const QString &errorMessage)
{
    flushPendingSummaries();
    const int rejected = m_writer ? m_writer->rejected() : 0;
    imported -= rejected;
    skipped += rejected;
    finishImport();
    if (!errorMessage.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Ошибка импорта архива"), errorMessage);
    m_statusLabel->setText(
        QStringLiteral("Импорт из архива завершён: добавлено %1, пропущено %2").arg(imported).arg(skipped));
    reloadStudies();
    emit importFinished(imported, skipped);
}

void MainWindow::onImportError(const QString &message)
{
    QMessageBox::warning(this, QStringLiteral("Ошибка импорта"), message);
}

void MainWindow::stopImport()
{
    if (m_importThread == nullptr)
        return;
    m_importThread->requestInterruption();
    m_importThread->quit();
    m_importThread->wait();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    stopImport();
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
