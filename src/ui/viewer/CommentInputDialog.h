#pragma once

#include <QDialog>

class QLineEdit;

namespace velmaris {

// Asks for the comment of an arrow or a text label: a one-line field and the
// quick labels as buttons, four per row, that fill the field with their text.
class CommentInputDialog : public QDialog
{
    Q_OBJECT
public:
    CommentInputDialog(const QString &title, const QString &text, QWidget *parent = nullptr);

    QString text() const;

private slots:
    void onQuickLabelClicked(const QString &label);

private:
    QLineEdit *m_field;
};

} // namespace velmaris
