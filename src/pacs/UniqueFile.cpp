#include "pacs/UniqueFile.h"

#include <QDir>
#include <QFile>

namespace pacs {

QString createUniqueFile(const QString &folder, qint64 msecsSinceEpoch, QString *error)
{
    const QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        if (error)
            *error = QStringLiteral("Не удалось создать папку %1").arg(folder);
        return {};
    }
    // Enough tries for any burst within one millisecond; past that something
    // else is wrong with the folder.
    constexpr int maxTries = 10000;
    QString lastProblem;
    for (int counter = 0; counter < maxTries; ++counter) {
        const QString name = counter == 0 ? QStringLiteral("%1.dcm").arg(msecsSinceEpoch)
                                          : QStringLiteral("%1_%2.dcm").arg(msecsSinceEpoch).arg(counter);
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return file.fileName();
        lastProblem = file.errorString();
        if (!file.exists())
            break; // not a name clash: the folder refuses files
    }
    if (error)
        *error = QStringLiteral("Не удалось создать файл в папке %1: %2").arg(folder, lastProblem);
    return {};
}

} // namespace pacs
