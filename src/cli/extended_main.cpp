#include "cli/CliCommands.h"
#include "cli/CliOutput.h"
#include "cli/CprCommands.h"
#include "cli/ExtendedVerbs.h"
#include "cli/PacsCommands.h"
#include "cli/ServeCommand.h"
#include "cli/VolumeCommands.h"
#include "cli/VrtCommands.h"
#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileSummary.h"

#include <QGuiApplication>

#include <memory>

namespace {

int runExtendedVerbHere(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    using namespace velmaris::cli;
    const QString command = arguments.first();
    if (command == QLatin1String("serve") || isPacsCommand(command)) {
        Output output(out, err, fullUsageText());
        const int code = command == QLatin1String("serve") ? runServe(arguments.mid(1), output)
                                                            : runPacsCommand(command, arguments.mid(1), output);
        std::fflush(out);
        return code;
    }
    if (isVolumeCommand(command))
        return runVolumeCommand(command, arguments.mid(1), out, err);
    if (isCprCommand(command))
        return runCprCommand(command, arguments.mid(1), out, err);
    return runVrtCommand(arguments.mid(1), out, err);
}

} // namespace

// norvane-cli-ext: the volume and network verbs of norvane-cli (which hands
// them over to this program), with the imaging, OpenGL and network libraries
// they need.
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
    QCoreApplication::setOrganizationName(QStringLiteral("Brennick"));
    velmaris::cli::setExtendedVerbRunner(&runExtendedVerbHere);
    dicom::registerSummaryMetaType();
    const dicom::CodecRegistration codecs;
    return velmaris::cli::runCommand(QCoreApplication::arguments().mid(1), stdout, stderr);
}
