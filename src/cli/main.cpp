#include "cli/CliCommands.h"
#include "cli/ExtendedVerbs.h"
#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileSummary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

std::vector<char *> programArguments; // argv as given, for the hand-over

// The volume and network verbs run in norvane-cli-ext beside this program:
// the process becomes that program with the same arguments, so the output and
// the exit code are the call's own.
int handOverToExtendedProgram(const QStringList &, std::FILE *out, std::FILE *err)
{
    std::fflush(out);
    std::fflush(err);
    const QByteArray program = QFile::encodeName(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("norvane-cli-ext")));
    programArguments.front() = const_cast<char *>(program.constData());
    ::execv(program.constData(), programArguments.data());
    const QByteArray message = QStringLiteral("Не удалось запустить %1: %2\n")
                                   .arg(QFile::decodeName(program), QString::fromLocal8Bit(std::strerror(errno)))
                                   .toUtf8();
    std::fwrite(message.constData(), 1, std::size_t(message.size()), err);
    return velmaris::cli::RuntimeFailure;
}

} // namespace

int main(int argc, char *argv[])
{
    programArguments.assign(argv, argv + argc);
    programArguments.push_back(nullptr);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvane-cli"));
    QCoreApplication::setOrganizationName(QStringLiteral("Brennick"));
    velmaris::cli::setExtendedVerbRunner(&handOverToExtendedProgram);
    dicom::registerSummaryMetaType();
    const dicom::CodecRegistration codecs;
    return velmaris::cli::runCommand(QCoreApplication::arguments().mid(1), stdout, stderr);
}
