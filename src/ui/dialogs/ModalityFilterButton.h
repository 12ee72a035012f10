#pragma once

#include <QStringList>
#include <QToolButton>

namespace velmaris {

// The browser's modality filter: a button whose menu holds a checkable entry
// per modality code and whose text names the checked ones.
class ModalityFilterButton : public QToolButton
{
    Q_OBJECT
public:
    explicit ModalityFilterButton(QWidget *parent = nullptr);

    // The codes offered.
    static QStringList modalityCodes();

    QStringList checkedCodes() const;
    // Codes not offered are left out.
    void setCheckedCodes(const QStringList &codes);

signals:
    void checkedCodesChanged();
};

} // namespace velmaris
