#include "cli/CliCommands.h"
#include "cli/VrtCommands.h"
#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileSummary.h"

#include <QGuiApplication>

#include <memory>

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
    dicom::registerSummaryMetaType();
    const dicom::CodecRegistration codecs;
    return velmaris::cli::runCommand(QCoreApplication::arguments().mid(1), stdout, stderr);
}
