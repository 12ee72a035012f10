#pragma once

#include <QDialog>

class QDoubleSpinBox;

namespace velmaris {

// "Свой диапазон плотности": the HU range the 3D window shows.
class DensityRangeDialog : public QDialog
{
    Q_OBJECT
public:
    DensityRangeDialog(double minimum, double maximum, QWidget *parent = nullptr);

    double minimum() const;
    double maximum() const;

private:
    QDoubleSpinBox *m_from = nullptr;
    QDoubleSpinBox *m_to = nullptr;
};

} // namespace velmaris
