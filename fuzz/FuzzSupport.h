#pragma once

// Shared by the libFuzzer harnesses: the product reads files by path, so each
// input is written to tmpfs (/dev/shm) and handed over as a file.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace velmaris::fuzz {

// Drops Qt's diagnostics (the readers warn on every damaged file; at
// thousands of inputs a second the terminal would be the bottleneck),
// registers the codecs for the process and checks the data dictionary.
// Call once, from LLVMFuzzerInitialize.
void prepareProcess();

// One input as a file of its own under /dev/shm, removed again on
// destruction. Every file gets a new name: the frame decoders cache by path,
// and a reused name would hand the next input the previous one's parse.
class TmpfsFile
{
public:
    TmpfsFile(const std::uint8_t *data, std::size_t size, const char *suffix);
    ~TmpfsFile();
    TmpfsFile(const TmpfsFile &) = delete;
    TmpfsFile &operator=(const TmpfsFile &) = delete;

    bool ok() const { return m_ok; }
    const QString &path() const { return m_path; }

private:
    QString m_path;
    bool m_ok = false;
};

// A fresh name under /dev/shm for this process, nothing created.
QString tmpfsName(const char *suffix);

} // namespace velmaris::fuzz
