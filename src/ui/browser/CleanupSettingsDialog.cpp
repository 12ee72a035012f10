#include "ui/browser/CleanupSettingsDialog.h"

#include "db/CleanupSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace velmaris {

namespace {

constexpr qint64 kMebibyte = 1LL << 20;
constexpr qint64 kGibibyte = 1LL << 30;
constexpr int kMegabytesIndex = 0;
constexpr int kGigabytesIndex = 1;

} // namespace

CleanupSettingsDialog::CleanupSettingsDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Настройки"));
    resize(480, 340);

    m_byAge = new QCheckBox(QStringLiteral("Удалять исследования старше"), this);
    m_byAge->setObjectName(QStringLiteral("byAgeCheck"));
    m_maxAgeDays = new QSpinBox(this);
    m_maxAgeDays->setObjectName(QStringLiteral("maxAgeDaysSpin"));
    m_maxAgeDays->setRange(1, 3650);
    m_maxAgeDays->setSuffix(QStringLiteral(" дн."));

    m_bySize = new QCheckBox(QStringLiteral("Не превышать размер"), this);
    m_bySize->setObjectName(QStringLiteral("bySizeCheck"));
    m_maxSize = new QDoubleSpinBox(this);
    m_maxSize->setObjectName(QStringLiteral("maxSizeSpin"));
    m_maxSize->setRange(0.1, 100000.0);
    m_maxSize->setDecimals(1);
    m_sizeUnit = new QComboBox(this);
    m_sizeUnit->setObjectName(QStringLiteral("sizeUnitCombo"));
    m_sizeUnit->insertItem(kMegabytesIndex, QStringLiteral("МБ"));
    m_sizeUnit->insertItem(kGigabytesIndex, QStringLiteral("ГБ"));

    auto *note = new QLabel(QStringLiteral("Очистка выполняется при каждом запуске программы, начиная с самых "
                                           "старых исследований. С диска удаляются только файлы, импортированные "
                                           "из архивов и полученные с PACS; файлы из обычных папок остаются на "
                                           "месте. Защищённые исследования не удаляются никогда."),
                            this);
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: gray;"));

    auto *group = new QGroupBox(QStringLiteral("Автоочистка локальной базы"), this);
    auto *grid = new QGridLayout(group);
    grid->addWidget(m_byAge, 0, 0);
    grid->addWidget(m_maxAgeDays, 0, 1, 1, 2);
    grid->addWidget(m_bySize, 1, 0);
    grid->addWidget(m_maxSize, 1, 1);
    grid->addWidget(m_sizeUnit, 1, 2);
    grid->addWidget(note, 2, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    auto *save = new QPushButton(QStringLiteral("Сохранить"), this);
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), this);
    save->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(m_byAge, &QCheckBox::toggled, m_maxAgeDays, &QWidget::setEnabled);
    connect(m_bySize, &QCheckBox::toggled, m_maxSize, &QWidget::setEnabled);
    connect(save, &QPushButton::clicked, this, &CleanupSettingsDialog::onSaveClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    const db::CleanupSettings settings = db::loadCleanupSettings();
    m_byAge->setChecked(settings.byAgeEnabled);
    m_maxAgeDays->setValue(settings.maxAgeDays);
    m_maxAgeDays->setEnabled(settings.byAgeEnabled);
    m_bySize->setChecked(settings.bySizeEnabled);
    m_maxSize->setEnabled(settings.bySizeEnabled);
    const bool wholeGigabytes = settings.maxSizeBytes % kGibibyte == 0;
    m_sizeUnit->setCurrentIndex(wholeGigabytes ? kGigabytesIndex : kMegabytesIndex);
    m_maxSize->setValue(static_cast<double>(settings.maxSizeBytes)
                        / static_cast<double>(wholeGigabytes ? kGibibyte : kMebibyte));
}

void CleanupSettingsDialog::onSaveClicked()
{
    db::CleanupSettings settings;
    settings.byAgeEnabled = m_byAge->isChecked();
    settings.maxAgeDays = m_maxAgeDays->value();
    settings.bySizeEnabled = m_bySize->isChecked();
    const qint64 unit = m_sizeUnit->currentIndex() == kGigabytesIndex ? kGibibyte : kMebibyte;
    settings.maxSizeBytes = static_cast<qint64>(m_maxSize->value() * static_cast<double>(unit));
    db::saveCleanupSettings(settings);
    accept();
}

} // namespace velmaris
