// norvane-gen: writes synthetic DICOM series for scripts and benchmarks.

#include "seriesgen/SeriesGenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>

#include <optional>

using namespace velmaris::gen;

namespace {

// Exit codes scripts can tell apart: a wrong command line is not a failure
// of the generator.
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

template <typename T>
std::optional<T> lookup(const QString &value, std::initializer_list<std::pair<const char *, T>> table)
{
    for (const auto &[name, item] : table)
        if (value.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return item;
    return std::nullopt;
}

bool positiveInt(const QCommandLineParser &parser, const QString &option, int *value,
                 QString *problem)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const int parsed = parser.value(option).toInt(&ok);
    if (!ok || parsed < 1) {
        *problem = QStringLiteral("--%1 needs a positive integer, got '%2'")
                       .arg(option, parser.value(option));
        return false;
    }
    *value = parsed;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvane-gen"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1"));

    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a synthetic DICOM series (IMG0001.dcm, ...) into a directory."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("kind"), QStringLiteral("ct, mr, classic or enhanced (default ct)."),
         QStringLiteral("kind"), QStringLiteral("ct")},
        {QStringLiteral("slices"), QStringLiteral("Number of slices or frames (default 4)."),
         QStringLiteral("n")},
        {QStringLiteral("size"), QStringLiteral("Rows and columns (default 64)."),
         QStringLiteral("n")},
        {QStringLiteral("rows"), QStringLiteral("Rows, overrides --size."), QStringLiteral("n")},
        {QStringLiteral("columns"), QStringLiteral("Columns, overrides --size."),
         QStringLiteral("n")},
        {QStringLiteral("compression"),
         QStringLiteral("none, jpegls, rle or jpeglossless (default none)."),
         QStringLiteral("codec"), QStringLiteral("none")},
        {QStringLiteral("name"), QStringLiteral("Patient name."), QStringLiteral("text")},
        {QStringLiteral("cp1251"),
         QStringLiteral("Write text in Windows-1251 without Specific Character Set.")},
        {QStringLiteral("unsigned"), QStringLiteral("Unsigned pixels (default signed).")},
        {QStringLiteral("phase-size"),
         QStringLiteral("Slices per temporal position; writes Temporal Position Index."),
         QStringLiteral("n")},
        {QStringLiteral("per-frame-geometry"),
         QStringLiteral("Enhanced: spacing and orientation in every per-frame item.")},
        {QStringLiteral("no-positions"),
         QStringLiteral("Enhanced: no Plane Position Sequence in the per-frame items.")},
        {QStringLiteral("vessel"),
         QStringLiteral("CT angiography phantom: a curved contrast-filled tube with a stenosis.")},
        {QStringLiteral("no-geometry"),
         QStringLiteral("No position, orientation or pixel spacing.")},
        {QStringLiteral("study-uid"), QStringLiteral("Study Instance UID (default: new)."),
         QStringLiteral("uid")},
        {QStringLiteral("series-uid"), QStringLiteral("Series Instance UID (default: new)."),
         QStringLiteral("uid")},
        {QStringLiteral("damage"),
         QStringLiteral("Write one damaged file instead: nopreamble, truncated, nostudyuid, "
                        "noseriesuid or nosopuid."),
         QStringLiteral("damage")},
        {QStringLiteral("out"), QStringLiteral("Output directory (required)."),
         QStringLiteral("dir")},
        {QStringLiteral("quiet"), QStringLiteral("Print nothing on success.")},
    });

    auto usage = [&](const QString &problem) {
        err << "norvane-gen: " << problem << "\n"
            << "Try 'norvane-gen --help'.\n";
        return ExitUsage;
    };

    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << QCoreApplication::applicationName() << ' '
            << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }

    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'")
                         .arg(parser.positionalArguments().first()));
    if (!parser.isSet(QStringLiteral("out")) || parser.value(QStringLiteral("out")).isEmpty())
        return usage(QStringLiteral("--out is required"));

    SeriesSpec spec;
    const auto kind = lookup<Kind>(parser.value(QStringLiteral("kind")),
                                   {{"ct", Kind::CT},
                                    {"mr", Kind::MR},
                                    {"classic", Kind::ClassicMultiFrame},
                                    {"enhanced", Kind::EnhancedMultiFrame}});
    if (!kind)
        return usage(QStringLiteral("unknown --kind '%1'").arg(parser.value(QStringLiteral("kind"))));
    spec.kind = *kind;
    if (spec.kind == Kind::MR) {
        // MR intensities have no physical unit: identity rescale, and a
        // window that suits the synthetic intensities.
        spec.rescaleIntercept = 0.0;
        spec.windowCenter = QStringLiteral("600");
        spec.windowWidth = QStringLiteral("1200");
    }

    const auto compression = lookup<Compression>(parser.value(QStringLiteral("compression")),
                                                 {{"none", Compression::None},
                                                  {"jpegls", Compression::JpegLs},
                                                  {"rle", Compression::Rle},
                                                  {"jpeglossless", Compression::JpegLossless}});
    if (!compression)
        return usage(QStringLiteral("unknown --compression '%1'")
                         .arg(parser.value(QStringLiteral("compression"))));
    spec.compression = *compression;

    QString problem;
    int size = 0;
    int phaseSize = 0;
    if (!positiveInt(parser, QStringLiteral("slices"), &spec.slices, &problem)
        || !positiveInt(parser, QStringLiteral("size"), &size, &problem)
        || !positiveInt(parser, QStringLiteral("phase-size"), &phaseSize, &problem))
        return usage(problem);
    if (size > 0)
        spec.rows = spec.columns = size;
    if (!positiveInt(parser, QStringLiteral("rows"), &spec.rows, &problem)
        || !positiveInt(parser, QStringLiteral("columns"), &spec.columns, &problem))
        return usage(problem);
    if (spec.rows > 65535 || spec.columns > 65535)
        return usage(QStringLiteral("rows and columns must not exceed 65535"));
    spec.temporalPhaseSize = phaseSize;

    if (parser.isSet(QStringLiteral("name")))
        spec.patientName = parser.value(QStringLiteral("name"));
    if (parser.isSet(QStringLiteral("cp1251")))
        spec.nameEncoding = NameEncoding::Cp1251;
    if (parser.isSet(QStringLiteral("unsigned")))
        spec.signedPixels = false;
    if (parser.isSet(QStringLiteral("per-frame-geometry")))
        spec.enhancedLayout = EnhancedLayout::PerFrameGeometry;
    if (parser.isSet(QStringLiteral("no-positions")))
        spec.perFramePositions = false;
    if (parser.isSet(QStringLiteral("vessel")))
        spec.anatomy = Anatomy::Vessel;
    if (parser.isSet(QStringLiteral("no-geometry")))
        spec.writeGeometry = false;
    spec.studyInstanceUid = parser.value(QStringLiteral("study-uid"));
    spec.seriesInstanceUid = parser.value(QStringLiteral("series-uid"));

    std::optional<Damage> damage;
    if (parser.isSet(QStringLiteral("damage"))) {
        damage = lookup<Damage>(parser.value(QStringLiteral("damage")),
                                {{"nopreamble", Damage::NoPreamble},
                                 {"truncated", Damage::TruncatedPixelData},
                                 {"nostudyuid", Damage::NoStudyUid},
                                 {"noseriesuid", Damage::NoSeriesUid},
                                 {"nosopuid", Damage::NoSopInstanceUid}});
        if (!damage)
            return usage(QStringLiteral("unknown --damage '%1'")
                             .arg(parser.value(QStringLiteral("damage"))));
    }

    const QString directory = parser.value(QStringLiteral("out"));
    QElapsedTimer timer;
    timer.start();
    QStringList paths;
    QString error;
    bool written = false;
    if (damage) {
        const QString path = QDir(directory).filePath(QStringLiteral("IMG0001.dcm"));
        written = writeDamagedFile(spec, *damage, path, &error);
        if (written)
            paths << path;
    } else {
        written = writeSeries(spec, directory, &paths, &error);
    }
    if (!written) {
        err << "norvane-gen: " << error << '\n';
        return ExitFailure;
    }

    if (!parser.isSet(QStringLiteral("quiet"))) {
        out << "files: " << paths.size() << '\n'
            << "directory: " << QDir(directory).absolutePath() << '\n'
            << "study-uid: " << spec.studyInstanceUid << '\n'
            << "series-uid: " << spec.seriesInstanceUid << '\n'
            << "frame-of-reference-uid: " << spec.frameOfReferenceUid << '\n'
            << "milliseconds: " << timer.elapsed() << '\n';
    }
    return 0;
}
