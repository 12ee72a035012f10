#include "ui/pacs/PacsDownloadDialog.h"

#include "app/PacsDialogSettings.h"
#include "db/Database.h"
#include "db/StudyCatalog.h"
#include "ui/dialogs/ModalityFilterButton.h"
#include "ui/pacs/PacsOpenCoordinator.h"
#include "ui/pacs/PacsSendAction.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <memory>

namespace {

// The last search's rows, for the life of the process.
QList<PacsDownloadDialog::SearchRow> &resultsCache()
{
    static QList<PacsDownloadDialog::SearchRow> rows;
    return rows;
}

// Searches wait on the network, not on the processor: one thread per node so
// that a silent node holds up nobody else, apart from the pool of the
// process's real work.
Q_GLOBAL_STATIC(QThreadPool, searchPool)

constexpr int maxSearchThreads = 16;
constexpr int refreshIntervalMs = 500;

using NodeAnswer = QPair<QList<pacs::StudyResult>, QString>;

const char serverListStyle[] =
    "QListWidget::indicator { width: 18px; height: 18px; }"
    "QListWidget::indicator:unchecked { border: 2px solid #999; background: #2a2a2a; border-radius: 3px; }"
    "QListWidget::indicator:checked { border: 2px solid #33aaff; background: #33aaff; border-radius: 3px; }"
    "QListWidget::item { padding: 3px; }";

// Counts sort as numbers; "?" (no count sent) before every number.
class CountItem : public QTableWidgetItem
{
public:
    explicit CountItem(const QString &text)
    {
        bool ok = false;
        const qlonglong value = text.trimmed().toLongLong(&ok);
        setText(ok ? text : QStringLiteral("?"));
        setData(Qt::UserRole, ok ? value : -1);
    }
    bool operator<(const QTableWidgetItem &other) const override
    {
        return data(Qt::UserRole).toLongLong() < other.data(Qt::UserRole).toLongLong();
    }
};

QString dateTimeText(const pacs::StudyResult &study)
{
    QString text = study.studyDate;
    if (text.size() == 8)
        text = QStringLiteral("%1-%2-%3").arg(text.mid(0, 4), text.mid(4, 2), text.mid(6, 2));
    if (study.studyTime.size() >= 6)
        text += QStringLiteral(" %1:%2:%3").arg(study.studyTime.mid(0, 2), study.studyTime.mid(2, 2),
                                                study.studyTime.mid(4, 2));
    return text;
}

QString methodName(const pacs::PacsServerConfig &node)
{
    return node.retrieveMode == pacs::RetrieveMode::Get ? QStringLiteral("C-GET") : QStringLiteral("C-MOVE");
}

QString nodeName(const pacs::PacsServerConfig &node)
{
    return node.description.isEmpty() ? node.host : node.description;
}

} // namespace

PacsDownloadDialog::PacsDownloadDialog(db::Database *database, QWidget *parent)
    : QDialog(parent), m_database(database), m_coordinator(new pacs::PacsOpenCoordinator(database, this, this))
{
    setWindowTitle(QStringLiteral("Поиск и загрузка исследований с PACS"));
    // A window of its own in the task bar, with minimise and maximise.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    resize(860, 580);
    m_nodes = pacs::loadPacsConfig().servers;
    // The browser reloads its whole list on each notice: while a thousand
    // files arrive it is told twice a second, not a thousand times.
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(refreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &PacsDownloadDialog::studiesImported);
    buildUi();
    restoreState();
    onPeriodChanged(m_period->currentIndex());

    connect(m_coordinator, &pacs::PacsOpenCoordinator::fileReceived, this,
            &PacsDownloadDialog::onCoordinatorFileReceived);
    connect(m_coordinator, &pacs::PacsOpenCoordinator::finished, this, &PacsDownloadDialog::onCoordinatorFinished);

    if (m_nodes.isEmpty()) {
        m_status->setText(
            QStringLiteral("Список серверов пуст — сначала добавьте сервер в «PACS… → Конфигурация»."));
        m_find->setEnabled(false);
        for (QPushButton *button : m_download)
            button->setEnabled(false);
    } else if (!resultsCache().isEmpty()) {
        fillTable(resultsCache());
        m_status->setText(QStringLiteral("Показаны результаты предыдущего поиска — %1").arg(resultsCache().size()));
    }
}

PacsDownloadDialog::~PacsDownloadDialog()
{
    QList<int> widths;
    for (int column = 0; column < m_table->columnCount(); ++column)
        widths << m_table->columnWidth(column);
    velmaris::settings::setPacsResultColumnWidths(widths);
}

void PacsDownloadDialog::buildUi()
{
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    form->setSpacing(4);

    auto *serverRow = new QHBoxLayout;
    m_servers = new QListWidget(this);
    m_servers->setSelectionMode(QAbstractItemView::NoSelection);
    m_servers->setMaximumSize(260, 104);
    m_servers->setStyleSheet(QString::fromLatin1(serverListStyle));
    for (const pacs::PacsServerConfig &node : m_nodes) {
        const QString label = node.description.isEmpty()
            ? QStringLiteral("%1:%2 (%3) — %4").arg(node.host).arg(node.port).arg(node.aeTitle, methodName(node))
            : QStringLiteral("%1 — %2").arg(node.description, methodName(node));
        auto *item = new QListWidgetItem(label, m_servers);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(m_nodes.size() == 1 ? Qt::Checked : Qt::Unchecked);
    }
    serverRow->addWidget(m_servers);
    auto *serverSide = new QVBoxLayout;
    m_selectAll = new QCheckBox(QStringLiteral("Выбрать все серверы"), this);
    connect(m_selectAll, &QCheckBox::toggled, this, [this](bool checked) {
        for (int row = 0; row < m_servers->count(); ++row)
            m_servers->item(row)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    });
    serverSide->addWidget(m_selectAll);
    m_modalities = new velmaris::ModalityFilterButton(this);
    serverSide->addWidget(m_modalities, 0, Qt::AlignLeft);
    serverSide->addStretch(1);
    serverRow->addLayout(serverSide);
    serverRow->addStretch(1);
    form->addRow(QStringLiteral("Серверы:"), serverRow);

    auto *dateRow = new QHBoxLayout;
    m_period = new QComboBox(this);
    m_period->addItems({QStringLiteral("Любая дата"), QStringLiteral("Сегодня"), QStringLiteral("Вчера"),
                        QStringLiteral("Последние 10 дней"), QStringLiteral("Последний месяц"),
                        QStringLiteral("Диапазон дат…"), QStringLiteral("Точная дата")});
    dateRow->addWidget(m_period);
    for (QDateEdit **edit : {&m_from, &m_to}) {
        *edit = new QDateEdit(QDate::currentDate(), this);
        (*edit)->setCalendarPopup(true);
        (*edit)->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        (*edit)->setEnabled(false);
        dateRow->addWidget(*edit);
    }
    dateRow->addStretch(1);
    connect(m_period, &QComboBox::currentIndexChanged, this, &PacsDownloadDialog::onPeriodChanged);
    form->addRow(QStringLiteral("Дата:"), dateRow);

    auto *patientRow = new QHBoxLayout;
    m_name = new QLineEdit(this);
    m_name->setPlaceholderText(QStringLiteral("Фамилия Имя (можно с * — например Иванов*)"));
    m_patientId = new QLineEdit(this);
    m_patientId->setPlaceholderText(QStringLiteral("ID пациента"));
    patientRow->addWidget(m_name, 2);
    patientRow->addWidget(m_patientId, 1);
    form->addRow(QStringLiteral("Пациент:"), patientRow);
    layout->addLayout(form);

    auto *searchRow = new QHBoxLayout;
    m_find = new QPushButton(QStringLiteral("Найти (C-FIND)"), this);
    m_find->setDefault(true);
    connect(m_find, &QPushButton::clicked, this, &PacsDownloadDialog::onFindClicked);
    searchRow->addWidget(m_find, 1);
    auto *back = new QPushButton(QStringLiteral("К локальному архиву"), this);
    back->setAutoDefault(false);
    connect(back, &QPushButton::clicked, this, &QDialog::close);
    searchRow->addWidget(back);
    layout->addLayout(searchRow);

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Пациент"), QStringLiteral("ID"), QStringLiteral("Дата и время"),
                                        QStringLiteral("Описание"), QStringLiteral("Модальности"),
                                        QStringLiteral("Серий"), QStringLiteral("Снимков"),
                                        QStringLiteral("Accession"), QStringLiteral("Сервер")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSortingEnabled(true);
    m_table->verticalHeader()->setVisible(false);
    m_table->setWordWrap(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Room for what each column usually holds, so that the nine fit the
    // dialog's first size; the user's own widths replace these.
    const int widths[ColumnCount] = {150, 70, 135, 115, 95, 50, 60, 75, 90};
    for (int column = 0; column < ColumnCount; ++column)
        m_table->setColumnWidth(column, widths[column]);
    m_table->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table->horizontalHeader(), &QHeaderView::customContextMenuRequested, this,
            &PacsDownloadDialog::onHeaderMenuRequested);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table, &QTableWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        const int row = m_table->rowAt(position.y());
        if (row < 0 || m_busy)
            return;
        std::unique_ptr<QMenu> menu(createRowMenu(row));
        if (menu)
            menu->exec(m_table->viewport()->mapToGlobal(position));
    });
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        m_table->selectRow(row);
        startDownload(pacs::PacsOpenCoordinator::SaveAndOpen);
    });
    layout->addWidget(m_table, 1);

    auto *downloadRow = new QHBoxLayout;
    const QString labels[3] = {QStringLiteral("Скачать"), QStringLiteral("Скачать и открыть"),
                               QStringLiteral("Открыть")};
    for (int mode = 0; mode < 3; ++mode) {
        m_download[mode] = new QPushButton(labels[mode], this);
        m_download[mode]->setAutoDefault(false);
        connect(m_download[mode], &QPushButton::clicked, this, [this, mode] { startDownload(mode); });
        downloadRow->addWidget(m_download[mode]);
    }
    m_download[0]->setToolTip(QStringLiteral("Сохранить в локальный архив, без автооткрытия окна просмотра"));
    m_download[2]->setToolTip(QStringLiteral("Только посмотреть — БЕЗ сохранения в локальный архив. Файлы во "
                                             "временной папке, запись и файлы удаляются сами при закрытии окна "
                                             "просмотра."));
    downloadRow->addStretch(1);
    layout->addLayout(downloadRow);

    auto *statusRow = new QHBoxLayout;
    m_status = new QLabel(QStringLiteral("Готово"), this);
    m_status->setStyleSheet(QStringLiteral("color: #999;"));
    statusRow->addWidget(m_status, 1);
    m_busyIndicator = new QProgressBar(this);
    m_busyIndicator->setRange(0, 0);
    m_busyIndicator->setFixedWidth(160);
    m_busyIndicator->setVisible(false);
    statusRow->addWidget(m_busyIndicator);
    layout->addLayout(statusRow);
}

void PacsDownloadDialog::restoreState()
{
    const velmaris::settings::PacsSearchState state = velmaris::settings::pacsSearchState();
    if (state.checkedServerIndices) {
        for (int row = 0; row < m_servers->count(); ++row)
            m_servers->item(row)->setCheckState(state.checkedServerIndices->contains(row) ? Qt::Checked
                                                                                          : Qt::Unchecked);
    }
    if (state.checkedModalities)
        m_modalities->setCheckedCodes(*state.checkedModalities);
    if (state.periodIndex && *state.periodIndex >= 0 && *state.periodIndex < m_period->count())
        m_period->setCurrentIndex(*state.periodIndex);
    if (state.dateFrom && state.dateFrom->isValid())
        m_from->setDate(*state.dateFrom);
    if (state.dateTo && state.dateTo->isValid())
        m_to->setDate(*state.dateTo);

    const QHash<int, int> widths = velmaris::settings::pacsResultColumnWidths();
    for (auto it = widths.begin(); it != widths.end(); ++it) {
        if (it.key() >= 0 && it.key() < ColumnCount)
            m_table->setColumnWidth(it.key(), it.value());
    }
    for (int column : velmaris::settings::hiddenPacsResultColumns()) {
        if (column >= 0 && column < ColumnCount)
            m_table->setColumnHidden(column, true);
    }
}

void PacsDownloadDialog::saveState() const
{
    QList<int> checked;
    for (int row = 0; row < m_servers->count(); ++row) {
        if (m_servers->item(row)->checkState() == Qt::Checked)
            checked << row;
    }
    velmaris::settings::setPacsSearchState(checked, m_modalities->checkedCodes(), m_period->currentIndex(),
                                           m_from->date(), m_to->date());
}

void PacsDownloadDialog::onHeaderMenuRequested(const QPoint &position)
{
    QMenu menu(this);
    for (int column = 0; column < ColumnCount; ++column) {
        QAction *action = menu.addAction(m_table->horizontalHeaderItem(column)->text());
        action->setCheckable(true);
        action->setChecked(!m_table->isColumnHidden(column));
        connect(action, &QAction::toggled, this, [this, column](bool visible) {
            m_table->setColumnHidden(column, !visible);
            QList<int> hidden;
            for (int c = 0; c < ColumnCount; ++c) {
                if (m_table->isColumnHidden(c))
                    hidden << c;
            }
            velmaris::settings::setHiddenPacsResultColumns(hidden);
        });
    }
    menu.exec(m_table->horizontalHeader()->mapToGlobal(position));
}

void PacsDownloadDialog::onPeriodChanged(int index)
{
    m_from->setEnabled(index == 5 || index == 6);
    m_to->setEnabled(index == 5);
}

QPair<QString, QString> PacsDownloadDialog::periodRange(int index) const
{
    const QDate today = QDate::currentDate();
    const auto text = [](const QDate &date) { return date.toString(QStringLiteral("yyyyMMdd")); };
    switch (index) {
    case 1: return {text(today), text(today)};
    case 2: return {text(today.addDays(-1)), text(today.addDays(-1))};
    case 3: return {text(today.addDays(-10)), text(today)};
    case 4: return {text(today.addMonths(-1)), text(today)};
    case 5: return {text(m_from->date()), text(m_to->date())};
    case 6: return {text(m_from->date()), text(m_from->date())};
    default: return {};
    }
}

pacs::StudyQuery PacsDownloadDialog::currentQuery() const
{
    pacs::StudyQuery query;
    query.patientName = m_name->text().trimmed();
    if (!query.patientName.isEmpty() && !query.patientName.contains(QLatin1Char('*'))
        && !query.patientName.contains(QLatin1Char('?')))
        query.patientName = QStringLiteral("*%1*").arg(query.patientName);
    query.patientId = m_patientId->text().trimmed();
    const QPair<QString, QString> range = periodRange(m_period->currentIndex());
    query.dateFrom = range.first;
    query.dateTo = range.second;
    query.modalities = m_modalities->checkedCodes().join(QLatin1Char('\\'));
    return query;
}

QList<PacsDownloadDialog::SearchRow> PacsDownloadDialog::cachedResults()
{
    return resultsCache();
}

void PacsDownloadDialog::clearCachedResults()
{
    resultsCache().clear();
}

void PacsDownloadDialog::setBusy(bool busy, const QString &status)
{
    m_busy = busy;
    m_find->setEnabled(!busy && !m_nodes.isEmpty());
    for (QPushButton *button : m_download)
        button->setEnabled(!busy && !m_nodes.isEmpty());
    m_servers->setEnabled(!busy);
    m_table->setEnabled(!busy);
    m_status->setText(status);
}

void PacsDownloadDialog::onFindClicked()
{
    if (m_busy)
        return;
    saveState();
    QList<int> checked;
    for (int row = 0; row < m_servers->count(); ++row) {
        if (m_servers->item(row)->checkState() == Qt::Checked)
            checked << row;
    }
    if (checked.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Поиск"), QStringLiteral("Отметьте хотя бы один сервер."));
        return;
    }
    const pacs::PacsConfig config = pacs::loadPacsConfig();
    const pacs::StudyQuery query = currentQuery();
    setBusy(true, QStringLiteral("Выполняется C-FIND по %1 серверам…").arg(checked.size()));

    // Every node at once, none on this thread: a node that never answers
    // holds up only its own share, and the window keeps painting and closing.
    searchPool()->setMaxThreadCount(std::max(searchPool()->maxThreadCount(), maxSearchThreads));
    const int searchId = ++m_searchId;
    auto answers = std::make_shared<QList<NodeAnswer>>(checked.size());
    auto remaining = std::make_shared<int>(int(checked.size()));
    for (int i = 0; i < checked.size(); ++i) {
        const pacs::PacsServerConfig node = m_nodes.at(checked.at(i));
        auto *watcher = new QFutureWatcher<NodeAnswer>(this);
        connect(watcher, &QFutureWatcher<NodeAnswer>::finished, this,
                [this, watcher, i, answers, remaining, checked, searchId] {
                    (*answers)[i] = watcher->result();
                    watcher->deleteLater();
                    if (--*remaining == 0 && searchId == m_searchId)
                        onSearchAnswered(checked, *answers);
                });
        watcher->setFuture(QtConcurrent::run(searchPool(), [node, config, query] {
            QString error;
            QList<pacs::StudyResult> results = pacs::findStudies(node, config, query, &error);
            return NodeAnswer{results, error};
        }));
    }
}

void PacsDownloadDialog::onSearchAnswered(const QList<int> &nodeIndices, const QList<NodeAnswer> &answers)
{
    QList<SearchRow> rows;
    QStringList errors;
    for (int i = 0; i < nodeIndices.size(); ++i) {
        for (const pacs::StudyResult &study : answers.at(i).first)
            rows.append(SearchRow{study, nodeIndices.at(i)});
        if (!answers.at(i).second.isEmpty())
            errors << QStringLiteral("%1: %2").arg(nodeName(m_nodes.at(nodeIndices.at(i))), answers.at(i).second);
    }
    setBusy(false, rows.isEmpty() ? QStringLiteral("Ничего не найдено.")
                                  : QStringLiteral("Найдено исследований: %1 (по %2 серверам)")
                                        .arg(rows.size())
                                        .arg(nodeIndices.size()));
    resultsCache() = rows;
    fillTable(rows);
    emit searchFinished();
    if (rows.isEmpty() && !errors.isEmpty())
        QMessageBox::warning(this, QStringLiteral("C-FIND"), errors.join(QLatin1Char('\n')));
}

QString PacsDownloadDialog::serverName(int index) const
{
    if (index < 0 || index >= m_nodes.size())
        return QStringLiteral("?");
    return nodeName(m_nodes.at(index));
}

void PacsDownloadDialog::fillTable(const QList<SearchRow> &rows)
{
    m_table->setSortingEnabled(false);
    m_table->clearContents();
    m_table->setRowCount(int(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        const pacs::StudyResult &study = rows.at(row).study;
        auto *first = new QTableWidgetItem(study.patientName);
        first->setData(Qt::UserRole, study.studyInstanceUid);
        first->setData(Qt::UserRole + 1, rows.at(row).serverIndex);
        m_table->setItem(row, Patient, first);
        m_table->setItem(row, PatientId, new QTableWidgetItem(study.patientId));
        m_table->setItem(row, DateTime, new QTableWidgetItem(dateTimeText(study)));
        m_table->setItem(row, Description, new QTableWidgetItem(study.studyDescription));
        m_table->setItem(row, Modalities, new QTableWidgetItem(study.modalitiesInStudy));
        m_table->setItem(row, SeriesCount, new CountItem(study.numberOfSeries));
        m_table->setItem(row, ImageCount, new CountItem(study.numberOfInstances));
        m_table->setItem(row, Accession, new QTableWidgetItem(study.accessionNumber));
        m_table->setItem(row, Server, new QTableWidgetItem(serverName(rows.at(row).serverIndex)));
    }
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(DateTime, Qt::DescendingOrder);
}

void PacsDownloadDialog::startDownload(int mode)
{
    const int row = m_table->currentRow();
    QTableWidgetItem *first = row < 0 ? nullptr : m_table->item(row, Patient);
    if (first == nullptr) {
        QMessageBox::information(this, QStringLiteral("Загрузка"),
                                 QStringLiteral("Сначала выберите строку в результатах поиска."));
        return;
    }
    const int nodeIndex = first->data(Qt::UserRole + 1).toInt();
    if (nodeIndex < 0 || nodeIndex >= m_nodes.size())
        return;
    const pacs::PacsServerConfig node = m_nodes.at(nodeIndex);
    const QString uid = first->data(Qt::UserRole).toString();
    const pacs::PacsConfig config = pacs::loadPacsConfig();
    const QString folder = mode == pacs::PacsOpenCoordinator::ViewOnly ? pacs::PacsOpenCoordinator::viewOnlyFolder(uid)
                                                                       : m_coordinator->downloadFolder(uid);
    QDir().mkpath(folder);
    m_mode = mode;
    m_downloadUid = uid;
    const QString actions[3] = {QStringLiteral("Скачивание"), QStringLiteral("Скачивание с открытием"),
                                QStringLiteral("Открытие без сохранения")};
    setBusy(true, QStringLiteral("%1 (%2)…").arg(actions[qBound(0, mode, 2)], methodName(node)));
    m_busyIndicator->setVisible(true);
    m_coordinator->start(node, config, uid, folder, mode);
}

void PacsDownloadDialog::onCoordinatorFileReceived(int totalReceivedSoFar)
{
    m_status->setText(QStringLiteral("Принято файлов: %1…").arg(totalReceivedSoFar));
    if (m_mode != pacs::PacsOpenCoordinator::ViewOnly && !m_refreshTimer->isActive())
        m_refreshTimer->start();
}

void PacsDownloadDialog::onCoordinatorFinished(bool ok, const QString &errorMessage, int receivedFileCount)
{
    m_busyIndicator->setVisible(false);
    if (!ok) {
        m_pendingAction = nullptr;
        setBusy(false, QStringLiteral("Готово"));
        QMessageBox::warning(this, QStringLiteral("Скачивание"), errorMessage);
        return;
    }
    setBusy(false, m_mode == pacs::PacsOpenCoordinator::ViewOnly
                       ? QStringLiteral("Готово: открыто файлов — %1 (без сохранения в архив)").arg(receivedFileCount)
                       : QStringLiteral("Готово: скачано и импортировано файлов — %1").arg(receivedFileCount));
    m_refreshTimer->stop();
    if (m_mode != pacs::PacsOpenCoordinator::ViewOnly)
        emit studiesImported();
    if (auto action = std::exchange(m_pendingAction, nullptr))
        action(m_downloadUid);
}

void PacsDownloadDialog::runForStudy(const QString &studyUid, std::function<void(const QString &)> action)
{
    if (db::StudyCatalog(m_database).studyExists(studyUid)) {
        action(studyUid);
        return;
    }
    m_pendingAction = std::move(action);
    startDownload(pacs::PacsOpenCoordinator::SaveOnly);
}

QMenu *PacsDownloadDialog::createRowMenu(int row)
{
    // The actions are the browser's: without the window that created this
    // dialog there is nobody to act for.
    QWidget *window = parentWidget();
    QTableWidgetItem *first = m_table->item(row, Patient);
    if (window == nullptr || first == nullptr)
        return nullptr;
    m_table->selectRow(row);
    const QString uid = first->data(Qt::UserRole).toString();
    auto *menu = new QMenu(this);
    // Export, burning and e-mail are offered once the browser has them.
    QAction *send = menu->addAction(QStringLiteral("Отправить на PACS-сервер…"));
    connect(send, &QAction::triggered, this, [this, uid] {
        runForStudy(uid, [this](const QString &studyUid) {
            PacsSendAction::chooseServerAndSend(parentWidget(), db::StudyCatalog(m_database).filesOf(studyUid));
        });
    });
    return menu;
}
