#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace velmaris::testing {

// Closes the next modal message box that appears and remembers its title and
// text, so a test can run code that asks the user something.
class ModalBoxCatcher : public QObject
{
public:
    ModalBoxCatcher()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            title = box->windowTitle();
            text = box->text();
            ++count;
            if (QAbstractButton *button = box->button(answer))
                button->click();
            else
                box->accept();
        });
        m_timer.start();
    }

    // The button to press when the box has it (questions); otherwise the box
    // is simply accepted.
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    QString title;
    QString text;
    int count = 0;

private:
    QTimer m_timer;
};

} // namespace velmaris::testing
