#pragma once

#include "viewer/VertebraLabels.h"

#include <QDialog>

class QComboBox;

namespace velmaris {

// "Метки позвонков": which label the next click places and whether the
// clicks go down towards the sacrum or up towards the skull.
class VertebraStartDialog : public QDialog
{
    Q_OBJECT
public:
    // Starts from where the labeler stands now.
    explicit VertebraStartDialog(const render::VertebraLabeler &labeler, QWidget *parent = nullptr);

    int firstIndex() const;
    render::VertebraLabeler::Direction direction() const;

private:
    QComboBox *m_first;
    QComboBox *m_order;
};

} // namespace velmaris
