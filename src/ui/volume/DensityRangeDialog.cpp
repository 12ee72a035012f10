#include "ui/volume/DensityRangeDialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QPushButton>

#include <algorithm>

namespace velmaris {

namespace {

QDoubleSpinBox *huBox(double value, QWidget *parent)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setRange(-4096.0, 16384.0);
    box->setDecimals(0);
    box->setSuffix(QStringLiteral(" HU"));
    box->setValue(value);
    return box;
}

} // namespace

DensityRangeDialog::DensityRangeDialog(double minimum, double maximum, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Свой диапазон плотности"));
    auto *layout = new QFormLayout(this);
    m_from = huBox(minimum, this);
    m_to = huBox(maximum, this);
    layout->addRow(QStringLiteral("Показывать от:"), m_from);
    layout->addRow(QStringLiteral("Показывать до:"), m_to);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
}

double DensityRangeDialog::minimum() const
{
    return std::min(m_from->value(), m_to->value());
}

double DensityRangeDialog::maximum() const
{
    return std::max(m_from->value(), m_to->value());
}

} // namespace velmaris
