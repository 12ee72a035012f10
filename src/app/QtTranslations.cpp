#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

namespace velmaris {

bool installQtTranslations(QCoreApplication &app)
{
    const QStringList folders = {
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")),
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
    };
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    auto *translator = new QTranslator(&app);
    for (const QString &folder : folders) {
        if (translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), folder))
            return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    return false;
}

} // namespace velmaris
