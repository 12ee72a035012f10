#include "ui/pacs/PacsSettingsDialog.h"

#include "pacs/PacsEchoWorker.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

namespace {

enum Column { HostColumn, PortColumn, AeColumn, DescriptionColumn, MethodColumn, StatusColumn };

const QColor greyStatus(153, 153, 153);
const QColor greenStatus(60, 160, 60);
const QColor redStatus(200, 60, 60);

} // namespace

PacsSettingsDialog::PacsSettingsDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Конфигурация PACS"));
    resize(820, 460);
    auto *layout = new QVBoxLayout(this);

    auto *localBox = new QGroupBox(QStringLiteral("Локальный узел"), this);
    auto *form = new QFormLayout(localBox);
    m_localPort = new QSpinBox(localBox);
    m_localPort->setRange(1, 65535);
    m_localAe = new QLineEdit(localBox);
    m_moveDestination = new QLineEdit(localBox);
    m_moveDestination->setPlaceholderText(QStringLiteral("пусто = тот же, что «Мой AE-заголовок»"));
    form->addRow(QStringLiteral("Принимающий порт:"), m_localPort);
    form->addRow(QStringLiteral("Мой AE-заголовок:"), m_localAe);
    form->addRow(QStringLiteral("AE-заголовок назначения для C-MOVE:"), m_moveDestination);
    layout->addWidget(localBox);

    auto *serversBox = new QGroupBox(QStringLiteral("Расположение PACS"), this);
    auto *serversLayout = new QVBoxLayout(serversBox);
    m_table = new QTableWidget(0, 6, serversBox);
    m_table->setHorizontalHeaderLabels({QStringLiteral("IP-адрес"), QStringLiteral("Порт"), QStringLiteral("AE-заголовок"),
                                        QStringLiteral("Описание"), QStringLiteral("Способ скачивания"),
                                        QStringLiteral("Статус (C-ECHO)")});
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    serversLayout->addWidget(m_table);

    auto *checkRow = new QHBoxLayout;
    m_checkSelected = new QPushButton(QStringLiteral("Проверить выбранный (C-ECHO)"), serversBox);
    m_checkSelected->setToolTip(QStringLiteral(
        "Отправляет DICOM C-ECHO (Verification) выбранному серверу и показывает результат/задержку ответа в "
        "столбце \"Статус\" — проверяется то, что СЕЙЧАС введено в строке, даже если изменения ещё не "
        "сохранены."));
    m_checkAll = new QPushButton(QStringLiteral("Проверить все серверы"), serversBox);
    checkRow->addWidget(m_checkSelected);
    checkRow->addWidget(m_checkAll);
    checkRow->addStretch();
    serversLayout->addLayout(checkRow);

    auto *addRowLayout = new QHBoxLayout;
    m_newHost = new QLineEdit(serversBox);
    m_newHost->setPlaceholderText(QStringLiteral("IP-адрес"));
    m_newPort = new QSpinBox(serversBox);
    m_newPort->setRange(1, 65535);
    m_newPort->setValue(104);
    m_newAe = new QLineEdit(serversBox);
    m_newAe->setPlaceholderText(QStringLiteral("AE-заголовок"));
    m_newDescription = new QLineEdit(serversBox);
    m_newDescription->setPlaceholderText(QStringLiteral("Описание"));
    auto *add = new QPushButton(QStringLiteral("Добавить"), serversBox);
    auto *remove = new QPushButton(QStringLiteral("Удалить выбранный"), serversBox);
    addRowLayout->addWidget(m_newHost, 2);
    addRowLayout->addWidget(m_newPort, 1);
    addRowLayout->addWidget(m_newAe, 2);
    addRowLayout->addWidget(m_newDescription, 2);
    addRowLayout->addWidget(add);
    addRowLayout->addWidget(remove);
    serversLayout->addLayout(addRowLayout);
    layout->addWidget(serversBox, 1);

    auto *hint = new QLabel(
        QStringLiteral("C-GET не требует встречного соединения от сервера (обычно чинит проблему с firewall/NAT при "
                       "C-MOVE), но поддерживается не всеми PACS. Поиск и скачивание — в отдельном окне «Загрузить с "
                       "PACS…»."),
        this);
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("color: #999; font-size: 11px;"));
    layout->addWidget(hint);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);

    connect(add, &QPushButton::clicked, this, &PacsSettingsDialog::onAdd);
    connect(remove, &QPushButton::clicked, this, &PacsSettingsDialog::onRemove);
    connect(m_checkSelected, &QPushButton::clicked, this, &PacsSettingsDialog::onCheckSelected);
    connect(m_checkAll, &QPushButton::clicked, this, &PacsSettingsDialog::onCheckAll);
    connect(buttons, &QDialogButtonBox::accepted, this, &PacsSettingsDialog::onSave);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const pacs::PacsConfig config = pacs::loadPacsConfig();
    m_localPort->setValue(config.localPort);
    m_localAe->setText(config.localAeTitle);
    m_moveDestination->setText(config.moveDestinationAeTitle);
    for (const pacs::PacsServerConfig &server : config.servers)
        addRow(server);
}

PacsSettingsDialog::~PacsSettingsDialog()
{
    // A running check finishes on its own thread; its signals die with the
    // dialog's connections, and the thread deletes the worker and itself.
    if (m_echoThread)
        m_echoThread->disconnect(this);
}

void PacsSettingsDialog::addRow(const pacs::PacsServerConfig &server)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setItem(row, HostColumn, new QTableWidgetItem(server.host));
    m_table->setItem(row, PortColumn, new QTableWidgetItem(QString::number(server.port)));
    m_table->setItem(row, AeColumn, new QTableWidgetItem(server.aeTitle));
    m_table->setItem(row, DescriptionColumn, new QTableWidgetItem(server.description));
    auto *method = new QComboBox(m_table);
    method->addItems({QStringLiteral("C-MOVE"), QStringLiteral("C-GET")});
    method->setCurrentIndex(server.retrieveMode == pacs::RetrieveMode::Get ? 1 : 0);
    m_table->setCellWidget(row, MethodColumn, method);
    auto *status = new QTableWidgetItem(QStringLiteral("— не проверялось —"));
    status->setFlags(status->flags() & ~Qt::ItemIsEditable);
    status->setForeground(greyStatus);
    m_table->setItem(row, StatusColumn, status);
}

pacs::PacsServerConfig PacsSettingsDialog::readRow(int row) const
{
    const auto text = [&](int column) {
        const QTableWidgetItem *item = m_table->item(row, column);
        return item ? item->text() : QString();
    };
    pacs::PacsServerConfig server;
    server.host = text(HostColumn).trimmed();
    if (const QTableWidgetItem *port = m_table->item(row, PortColumn))
        server.port = port->text().toInt(nullptr, 10); // not a number: 0
    server.aeTitle = text(AeColumn).trimmed();
    server.description = text(DescriptionColumn);
    const auto *method = qobject_cast<QComboBox *>(m_table->cellWidget(row, MethodColumn));
    server.retrieveMode = method && method->currentIndex() == 1 ? pacs::RetrieveMode::Get : pacs::RetrieveMode::Move;
    return server;
}

pacs::PacsConfig PacsSettingsDialog::collectConfig() const
{
    pacs::PacsConfig config;
    config.localPort = m_localPort->value();
    config.localAeTitle = m_localAe->text().trimmed();
    config.moveDestinationAeTitle = m_moveDestination->text().trimmed();
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const pacs::PacsServerConfig server = readRow(row);
        if (!server.host.isEmpty())
            config.servers.append(server);
    }
    return config;
}

void PacsSettingsDialog::onAdd()
{
    const QString host = m_newHost->text().trimmed();
    if (host.isEmpty())
        return;
    pacs::PacsServerConfig server;
    server.host = host;
    server.port = m_newPort->value();
    server.aeTitle = m_newAe->text().trimmed();
    server.description = m_newDescription->text().trimmed();
    addRow(server);
    m_newHost->clear();
    m_newAe->clear();
    m_newDescription->clear();
    m_newPort->setValue(104);
}

void PacsSettingsDialog::onRemove()
{
    const int row = m_table->currentRow();
    if (row >= 0)
        m_table->removeRow(row);
}

void PacsSettingsDialog::onCheckSelected()
{
    const int row = m_table->currentRow();
    if (row < 0) {
        QMessageBox::information(this, windowTitle(), QStringLiteral("Сначала выберите сервер в списке."));
        return;
    }
    startCheck({row});
}

void PacsSettingsDialog::onCheckAll()
{
    if (m_table->rowCount() == 0) {
        QMessageBox::information(this, windowTitle(), QStringLiteral("Список серверов пуст."));
        return;
    }
    QList<int> rows;
    for (int row = 0; row < m_table->rowCount(); ++row)
        rows << row;
    startCheck(rows);
}

void PacsSettingsDialog::startCheck(const QList<int> &rows)
{
    if (isChecking())
        return;
    QList<pacs::PacsServerConfig> servers;
    for (int row : rows) {
        servers << readRow(row);
        QTableWidgetItem *status = m_table->item(row, StatusColumn);
        status->setText(QStringLiteral("⏳ Проверка…"));
        status->setForeground(greyStatus);
        status->setToolTip(QString());
    }
    m_checkedRows = rows;
    m_checkSelected->setEnabled(false);
    m_checkAll->setEnabled(false);

    auto *thread = new QThread;
    auto *worker = new pacs::PacsEchoWorker(servers, collectConfig());
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &pacs::PacsEchoWorker::run);
    connect(worker, &pacs::PacsEchoWorker::finished, thread, &QThread::quit);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &pacs::PacsEchoWorker::serverChecked, this, &PacsSettingsDialog::onServerChecked);
    connect(worker, &pacs::PacsEchoWorker::finished, this, &PacsSettingsDialog::onCheckFinished);
    m_echoThread = thread;
    thread->start();
}

void PacsSettingsDialog::onServerChecked(int index, bool ok, const QString &message, qint64 elapsedMs)
{
    if (index < 0 || index >= m_checkedRows.size())
        return;
    QTableWidgetItem *status = m_table->item(m_checkedRows.at(index), StatusColumn);
    if (status == nullptr)
        return; // the row was removed meanwhile
    if (ok) {
        status->setText(QStringLiteral("✅ Отвечает (%1 мс)").arg(elapsedMs));
        status->setForeground(greenStatus);
        status->setToolTip(QString());
    } else {
        status->setText(QStringLiteral("❌ %1").arg(message));
        status->setForeground(redStatus);
        status->setToolTip(message);
    }
}

void PacsSettingsDialog::onCheckFinished()
{
    m_checkSelected->setEnabled(true);
    m_checkAll->setEnabled(true);
    m_echoThread = nullptr;
    m_checkedRows.clear();
    emit checkFinished();
}

void PacsSettingsDialog::onSave()
{
    pacs::savePacsConfig(collectConfig());
    accept();
}
