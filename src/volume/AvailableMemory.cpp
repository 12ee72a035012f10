#include "volume/AvailableMemory.h"

#include <QFile>

#include <algorithm>

namespace render {

namespace {

QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "MemAvailable:  123456 kB" of /proc/meminfo, in bytes.
quint64 memAvailable()
{
    const QByteArray text = fileText(QStringLiteral("/proc/meminfo"));
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const QList<QByteArray> parts = line.mid(13).simplified().split(' ');
        bool ok = false;
        const quint64 kib = parts.value(0).toULongLong(&ok);
        return ok ? kib * 1024 : 0;
    }
    return 0;
}

// memory.max − memory.current of the process's cgroup (v2); 0 without a limit.
quint64 cgroupHeadroom()
{
    const QByteArray self = fileText(QStringLiteral("/proc/self/cgroup"));
    for (const QByteArray &line : self.split('\n')) {
        if (!line.startsWith("0::"))
            continue;
        const QString dir = QStringLiteral("/sys/fs/cgroup") + QString::fromUtf8(line.mid(3).trimmed());
        bool maxOk = false;
        bool currentOk = false;
        const quint64 max = fileText(dir + QStringLiteral("/memory.max")).trimmed().toULongLong(&maxOk);
        const quint64 current = fileText(dir + QStringLiteral("/memory.current")).trimmed().toULongLong(&currentOk);
        if (!maxOk || !currentOk)
            return 0; // "max": no limit
        return max > current ? max - current : 1;
    }
    return 0;
}

} // namespace

quint64 availableMemoryBytes()
{
    const quint64 system = memAvailable();
    const quint64 cgroup = cgroupHeadroom();
    if (system == 0 || cgroup == 0)
        return std::max(system, cgroup);
    return std::min(system, cgroup);
}

} // namespace render
