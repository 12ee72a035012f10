#pragma once

#include <QKeySequenceEdit>

namespace velmaris {

// A key-sequence editor that takes one key combination. Qt 6.4 has no
// maximum sequence length and keeps recording chords for a second after each
// key, so recording is ended here as soon as the first combination is in; a
// further key press starts over.
class SingleKeySequenceEdit : public QKeySequenceEdit
{
    Q_OBJECT
public:
    explicit SingleKeySequenceEdit(const QKeySequence &sequence, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace velmaris
