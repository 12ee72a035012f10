#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QString>

namespace velmaris::testing {

// Points the default-constructed settings of this test process at a folder
// of its own, under the workstation's organisation and application names, so
// a test never reads or writes the user's real settings.
inline void usePrivateSettings(const QString &folder)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QCoreApplication::setOrganizationName(QStringLiteral("Brennick"));
    QCoreApplication::setApplicationName(QStringLiteral("Norvane"));
}

} // namespace velmaris::testing
