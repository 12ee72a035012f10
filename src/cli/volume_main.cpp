#include "cli/CliCommands.h"
#include "cli/CprCommands.h"
#include "cli/VolumeCommands.h"
#include "cli/VolumeVerbs.h"
#include "cli/VrtCommands.h"
#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileSummary.h"

#include <QGuiApplication>

#include <memory>

namespace {

int runVolumeVerbHere(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    using namespace velmaris::cli;
    const QString command = arguments.first();
    if (isVolumeCommand(command))
        return runVolumeCommand(command, arguments.mid(1), out, err);
    if (isCprCommand(command))
        return runCprCommand(command, arguments.mid(1), out, err);
    return runVrtCommand(arguments.mid(1), out, err);
}

} // namespace

// norvane-cli-volume: the volume verbs of norvane-cli (which hands them over
// to this program), with the imaging and OpenGL libraries they need.
int main(int argc, char *argv[])
{
    // Only the OpenGL renderer of "vrt" needs a GUI application, and only
    // where a display is there to give it one.
    const bool gui = velmaris::cli::vrtWantsOpenGl(velmaris::cli::argumentList(argc, argv))
                     && (qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
                         || qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));
    const std::unique_ptr<QCoreApplication> app(gui ? new QGuiApplication(argc, argv)
                                                    : new QCoreApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("norvane-cli"));
    velmaris::cli::setVolumeVerbRunner(&runVolumeVerbHere);
    QCoreApplication::setOrganizationName(QStringLiteral("Brennick"));
    dicom::registerSummaryMetaType();
    const dicom::CodecRegistration codecs;
    return velmaris::cli::runCommand(QCoreApplication::arguments().mid(1), stdout, stderr);
}
