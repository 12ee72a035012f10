#pragma once

#include <QObject>

namespace quicktools {

// Process-wide: tells every open panel that the quick tool list was saved.
// Use from the GUI thread.
class Notifier : public QObject
{
    Q_OBJECT
public:
    static Notifier *instance();

signals:
    void changed();

private:
    Notifier() = default;
};

} // namespace quicktools
