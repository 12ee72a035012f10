#include "cli/CliCommands.h"
#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileSummary.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvane-cli"));
    QCoreApplication::setOrganizationName(QStringLiteral("Brennick"));
    dicom::registerSummaryMetaType();
    const dicom::CodecRegistration codecs;
    return velmaris::cli::runCommand(QCoreApplication::arguments().mid(1), stdout, stderr);
}
