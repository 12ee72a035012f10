#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileSummary.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>

// Minimal start-up: identity and one window. The full start sequence (theme,
// single instance, bridge, study browser) replaces this.
int main(int argc, char *argv[])
{
    dicom::registerSummaryMetaType();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norvane"));
    QApplication::setOrganizationName(QStringLiteral("Brennick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmaris"));
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));

    const dicom::CodecRegistration codecs;

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Velmaris"));
    auto *label = new QLabel(QStringLiteral("Velmaris — рабочая станция DICOM"), &window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.resize(1024, 700);
    window.show();
    return app.exec();
}
