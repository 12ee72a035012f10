#include "ui/dialogs/SingleKeySequenceEdit.h"

#include <QKeyEvent>

namespace velmaris {

SingleKeySequenceEdit::SingleKeySequenceEdit(const QKeySequence &sequence, QWidget *parent)
    : QKeySequenceEdit(sequence, parent)
{
}

void SingleKeySequenceEdit::keyPressEvent(QKeyEvent *event)
{
    QKeySequenceEdit::keyPressEvent(event);
    // A bare modifier records nothing yet; the first real combination ends the
    // recording. Setting the sequence anew is the public way to stop the
    // editor's chord timer, and it must differ from the current one to count.
    const QKeySequence typed = keySequence();
    if (typed.isEmpty())
        return;
    const QKeySequence first(typed[0]);
    clear();
    setKeySequence(first);
    emit editingFinished();
}

} // namespace velmaris
