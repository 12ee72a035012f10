#include "viewer/QuickToolsNotifier.h"

namespace quicktools {

Notifier *Notifier::instance()
{
    // Never parented and never deleted: panels may disconnect during
    // application shutdown, after static destructors would have run.
    static Notifier *const notifier = new Notifier;
    return notifier;
}

} // namespace quicktools
