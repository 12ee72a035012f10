#include "ui/dialogs/QuickToolsDialog.h"

#include "viewer/MeasurementMode.h"
#include "viewer/QuickTools.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmaris {

namespace {

// Beyond the last tool value; isSelectableMode decides which of them count.
constexpr int toolValueLimit = 64;
constexpr int slotsPerGroup = quicktools::slotCount / 2;

QComboBox *makeToolCombo(QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->addItem(QStringLiteral("— пусто —"), quicktools::emptySlot);
    // Browse is what a panel falls back to anyway, so a button for it would
    // be a wasted slot.
    const int browse = static_cast<int>(render::MeasurementMode::Browse);
    for (int value = 0; value < toolValueLimit; ++value) {
        if (value == browse || !render::isSelectableMode(value))
            continue;
        combo->addItem(render::measurementModeLabel(static_cast<render::MeasurementMode>(value)), value);
    }
    return combo;
}

} // namespace

QuickToolsDialog::QuickToolsDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Кнопки быстрых измерений"));
    setModal(true);

    auto *form = new QFormLayout;
    for (int slot = 0; slot < quicktools::slotCount; ++slot) {
        const QString pattern =
            slot < slotsPerGroup ? QStringLiteral("Над меткой, %1:") : QStringLiteral("Под меткой, %1:");
        auto *combo = makeToolCombo(this);
        m_combos.append(combo);
        form->addRow(pattern.arg(slot % slotsPerGroup + 1), combo);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton *defaults = buttons->addButton(QStringLiteral("По умолчанию"), QDialogButtonBox::ResetRole);
    connect(defaults, &QPushButton::clicked, this, &QuickToolsDialog::onDefaultsClicked);
    connect(buttons, &QDialogButtonBox::accepted, this, &QuickToolsDialog::onAccepted);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    showTools(quicktools::loadQuickTools());
}

QList<int> QuickToolsDialog::chosenTools() const
{
    QList<int> tools;
    tools.reserve(m_combos.size());
    for (const QComboBox *combo : m_combos)
        tools.append(combo->currentData().toInt());
    return tools;
}

QComboBox *QuickToolsDialog::toolCombo(int slot) const
{
    return slot >= 0 && slot < m_combos.size() ? m_combos[slot] : nullptr;
}

void QuickToolsDialog::onDefaultsClicked()
{
    // Only the combos change: the store keeps its list until OK.
    showTools(quicktools::defaultQuickTools());
}

void QuickToolsDialog::onAccepted()
{
    quicktools::saveQuickTools(chosenTools());
    accept();
}

void QuickToolsDialog::showTools(const QList<int> &tools)
{
    for (int slot = 0; slot < m_combos.size(); ++slot) {
        const int tool = slot < tools.size() ? tools[slot] : quicktools::emptySlot;
        // A stored tool the combos do not offer (Browse) shows as empty
        // rather than silently as the first tool.
        const int index = m_combos[slot]->findData(tool);
        m_combos[slot]->setCurrentIndex(index >= 0 ? index : 0);
    }
}

} // namespace velmaris
