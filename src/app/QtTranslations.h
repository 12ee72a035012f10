#pragma once

class QCoreApplication;

namespace velmaris {

// Installs Qt's own Russian texts into the application, so that the standard
// dialogs and buttons (folder picker, OK/Отмена, Да/Нет) speak the language of
// the rest of the interface. Looks in "translations" beside the executable
// first, where a deployed copy carries them, then in Qt's installed
// translations. Returns false when none was found: Qt's texts then stay in
// English and nothing else changes.
bool installQtTranslations(QCoreApplication &app);

} // namespace velmaris
