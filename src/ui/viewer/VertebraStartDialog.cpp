#include "ui/viewer/VertebraStartDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>

#include <algorithm>

namespace velmaris {

VertebraStartDialog::VertebraStartDialog(const render::VertebraLabeler &labeler, QWidget *parent)
    : QDialog(parent), m_first(new QComboBox(this)), m_order(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Метки позвонков"));
    auto *form = new QFormLayout(this);
    m_first->setObjectName(QStringLiteral("firstLabel"));
    m_first->addItems(render::vertebraNames());
    m_first->setCurrentIndex(std::clamp(labeler.nextIndex(), 0, static_cast<int>(m_first->count()) - 1));
    m_order->setObjectName(QStringLiteral("clickOrder"));
    m_order->addItem(QStringLiteral("Вниз (к крестцу)"), 1);
    m_order->addItem(QStringLiteral("Вверх (к черепу)"), -1);
    m_order->setCurrentIndex(labeler.direction() == render::VertebraLabeler::Direction::TowardsSkull ? 1 : 0);
    auto *hint = new QLabel(render::vertebraStartHint(m_first->currentText()), this);
    hint->setWordWrap(true);
    connect(m_first, &QComboBox::currentTextChanged, hint,
            [hint](const QString &name) { hint->setText(render::vertebraStartHint(name)); });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(QStringLiteral("Первая метка:"), m_first);
    form->addRow(QStringLiteral("Порядок кликов:"), m_order);
    form->addRow(hint);
    form->addRow(buttons);
}

int VertebraStartDialog::firstIndex() const
{
    return m_first->currentIndex();
}

render::VertebraLabeler::Direction VertebraStartDialog::direction() const
{
    return m_order->currentData().toInt() < 0 ? render::VertebraLabeler::Direction::TowardsSkull
                                              : render::VertebraLabeler::Direction::TowardsSacrum;
}

} // namespace velmaris
