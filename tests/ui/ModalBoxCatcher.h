#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

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

// Answers the next modal dialog of type Dialog through `answer`, once.
template<typename Dialog>
class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(std::function<void(Dialog *)> answer)
    {
        connect(&m_timer, &QTimer::timeout, this, [this, answer] {
            if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
                m_timer.stop();
                ++count;
                answer(dialog);
            }
        });
        m_timer.start(10);
    }
    int count = 0;

private:
    QTimer m_timer;
};

} // namespace velmaris::testing
