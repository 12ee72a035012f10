#include "FuzzSupport.h"

#include "dicom/CodecRegistration.h"

#include <QFile>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace velmaris::fuzz {

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

void prepareProcess()
{
    qInstallMessageHandler(dropMessage);
    // The suite sets this for every test; a fuzzer started by hand may not.
    setenv("DCMDICTPATH", "/usr/share/libdcmtk17/dicom.dic", 0);
    // Registered for the whole run and never released: libFuzzer ends the
    // process without returning from main.
    dicom::registerCodecs();
}

QString tmpfsName(const char *suffix)
{
    static unsigned long long counter = 0;
    return QStringLiteral("/dev/shm/velmaris-fuzz-%1-%2%3")
        .arg(qint64(getpid()))
        .arg(++counter)
        .arg(QLatin1String(suffix));
}

TmpfsFile::TmpfsFile(const std::uint8_t *data, std::size_t size, const char *suffix)
    : m_path(tmpfsName(suffix))
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    m_ok = file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size);
}

TmpfsFile::~TmpfsFile()
{
    QFile::remove(m_path);
}

} // namespace velmaris::fuzz
