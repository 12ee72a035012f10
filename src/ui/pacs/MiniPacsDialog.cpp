#include "ui/pacs/MiniPacsDialog.h"

#include "pacs/MiniPacsService.h"
#include "pacs/PacsConfig.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString machineAddresses()
{
    QStringList addresses;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            addresses << address.toString();
    }
    const QString list = addresses.isEmpty() ? QStringLiteral("не найдено") : addresses.join(QStringLiteral(", "));
    return QStringLiteral("%1 (имя компьютера: %2)").arg(list, QHostInfo::localHostName());
}

} // namespace

MiniPacsDialog::MiniPacsDialog(pacs::MiniPacsService *service, QWidget *parent)
    : QDialog(parent), m_service(service)
{
    setWindowTitle(QStringLiteral("Velmaris как PACS-сервер"));
    resize(640, 560);

    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral(
        "Другие станции и аппараты в сети смогут присылать снимки в Velmaris (C-STORE), искать исследования в его "
        "архиве (C-FIND) и забирать их (C-MOVE). Принятые снимки сразу появляются в локальном архиве."), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    const pacs::MiniPacsService::Settings settings = pacs::MiniPacsService::loadSettings();
    m_enabled = new QCheckBox(QStringLiteral("Включить сервер"), this);
    m_enabled->setChecked(settings.enabled);
    layout->addWidget(m_enabled);

    auto *form = new QFormLayout;
    m_aeTitle = new QLineEdit(settings.aeTitle, this);
    m_aeTitle->setMaxLength(16);
    m_aeTitle->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9_\\-]{1,16}")), m_aeTitle));
    form->addRow(QStringLiteral("AE-заголовок сервера:"), m_aeTitle);
    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    m_port->setValue(settings.port);
    form->addRow(QStringLiteral("Порт:"), m_port);
    auto *addresses = new QLabel(machineAddresses(), this);
    addresses->setWordWrap(true);
    addresses->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("IP этого компьютера:"), addresses);
    layout->addLayout(form);

    auto *hint = new QLabel(QStringLiteral(
        "Чтобы станция могла забирать исследования (C-MOVE), добавьте её в «Настройки PACS» (IP, порт, "
        "AE-заголовок) — Velmaris отправляет снимки только известным узлам. Не забудьте разрешить входящий порт "
        "в брандмауэре. Порт должен отличаться от «Принимающего порта» в настройках PACS."), this);
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("color:#999; font-size:11px;"));
    layout->addWidget(hint);

    m_status = new QLabel(this);
    layout->addWidget(m_status);

    layout->addWidget(new QLabel(QStringLiteral("Журнал:"), this));
    m_log = new QPlainTextEdit(this);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(pacs::MiniPacsService::maxLogLines);
    for (const QString &line : m_service->logLines())
        m_log->appendPlainText(line);
    layout->addWidget(m_log, 1);

    // In this order on every platform (a button box would reorder them).
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_apply = new QPushButton(QStringLiteral("Применить"), this);
    auto *close = new QPushButton(QStringLiteral("Закрыть"), this);
    buttons->addWidget(m_apply);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(m_apply, &QPushButton::clicked, this, &MiniPacsDialog::apply);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_service, &pacs::MiniPacsService::logAppended, m_log, &QPlainTextEdit::appendPlainText);
    connect(m_service, &pacs::MiniPacsService::runningChanged, this, &MiniPacsDialog::refreshStatus);
    refreshStatus();
}

bool MiniPacsDialog::apply()
{
    pacs::MiniPacsService::Settings settings;
    settings.enabled = m_enabled->isChecked();
    settings.aeTitle = m_aeTitle->text().trimmed();
    if (settings.aeTitle.isEmpty())
        settings.aeTitle = QStringLiteral("VELMARIS");
    settings.port = m_port->value();
    if (settings.enabled && settings.port == pacs::loadPacsConfig().localPort) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Этот порт уже используется для приёма файлов при скачивании с PACS "
                                            "(см. «Настройки PACS»). Выберите другой порт для сервера."));
        return false;
    }
    pacs::MiniPacsService::saveSettings(settings);
    m_service->restart();
    refreshStatus();
    return true;
}

void MiniPacsDialog::refreshStatus()
{
    const bool running = m_service->isRunning();
    m_status->setText(running ? QStringLiteral("● Сервер работает") : QStringLiteral("○ Сервер остановлен"));
    m_status->setStyleSheet(running ? QStringLiteral("color:#4caf6a;") : QStringLiteral("color:#999;"));
}
