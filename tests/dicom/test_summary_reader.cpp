#include "dicom/DatasetEditor.h"
#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomText.h"
#include "seriesgen/SeriesGenerator.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using velmaris::gen::Compression;
using velmaris::gen::Damage;
using velmaris::gen::EnhancedLayout;
using velmaris::gen::Kind;
using velmaris::gen::NameEncoding;
using velmaris::gen::SeriesSpec;
using velmaris::testing::editDataset;

Q_DECLARE_METATYPE(Compression)
Q_DECLARE_METATYPE(EnhancedLayout)
Q_DECLARE_METATYPE(NameEncoding)
Q_DECLARE_METATYPE(Damage)

namespace {

const QString pydicomFolder = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files");

std::array<double, 3> normalOf(const std::array<double, 6> &o)
{
    std::array<double, 3> n{o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5],
                            o[0] * o[4] - o[1] * o[3]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (double &v : n)
        v /= length;
    return n;
}

double dot(const std::array<double, 3> &a, const std::array<double, 3> &b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

bool fuzzy(double a, double b)
{
    return std::abs(a - b) <= 1e-6 * std::max(1.0, std::abs(a));
}

} // namespace

class SummaryReaderTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void singleFrameFields_data();
    void singleFrameFields();
    void cyrillicNames_data();
    void cyrillicNames();
    void heightRule_data();
    void heightRule();
    void lateralityRule_data();
    void lateralityRule();
    void acquisitionTimeRule_data();
    void acquisitionTimeRule();
    void numericReading_data();
    void numericReading();
    void geometryParts_data();
    void geometryParts();
    void integersReadWithTheirOwnType();
    void mrTiming();
    void enhancedMultiFrame_data();
    void enhancedMultiFrame();
    void classicMultiFrame();
    void damagedFiles_data();
    void damagedFiles();
    void agreesWithPydicom();

private:
    QString writeOne(SeriesSpec &spec);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void SummaryReaderTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString SummaryReaderTest::writeOne(SeriesSpec &spec)
{
    spec.slices = spec.kind == Kind::CT || spec.kind == Kind::MR ? 1 : spec.slices;
    QStringList paths;
    QString error;
    static int counter = 0;
    const QString folder = m_dir->filePath(QString::number(++counter));
    if (!velmaris::gen::writeSeries(spec, folder, &paths, &error) || paths.isEmpty()) {
        qWarning("%s", qPrintable(error));
        return QString();
    }
    return paths.first();
}

void SummaryReaderTest::singleFrameFields_data()
{
    QTest::addColumn<Compression>("compression");
    QTest::newRow("uncompressed") << Compression::None;
    QTest::newRow("jpeg-ls") << Compression::JpegLs;
    QTest::newRow("rle") << Compression::Rle;
    QTest::newRow("jpeg lossless") << Compression::JpegLossless;
}

void SummaryReaderTest::singleFrameFields()
{
    QFETCH(Compression, compression);
    SeriesSpec spec;
    spec.kind = Kind::CT;
    spec.compression = compression;
    spec.slices = 3;
    spec.patientWeight = QStringLiteral("72.5");
    spec.pixelSpacingRow = 0.7;
    spec.pixelSpacingColumn = 0.5;
    spec.orientation = {1, 0, 0, 0, 0.8, -0.6}; // tilted gantry
    spec.seriesNumber = 7;
    spec.temporalPhaseSize = 2;
    QStringList paths;
    QString error;
    QVERIFY2(velmaris::gen::writeSeries(spec, m_dir->path(), &paths, &error), qPrintable(error));
    QCOMPARE(paths.size(), 3);

    const auto normal = normalOf(spec.orientation);
    const double firstTime = *dicom::parseDicomTime(spec.acquisitionTime);
    for (int i = 0; i < paths.size(); ++i) {
        const auto s = dicom::readSummary(paths.at(i));
        QVERIFY(s.has_value());
        QCOMPARE(s->patient_id, spec.patientId);
        QCOMPARE(s->patient_name, spec.patientName);
        QCOMPARE(s->birth_date, spec.birthDate);
        QCOMPARE(s->sex, spec.sex);
        QCOMPARE(s->weight_kg, 72.5);
        QCOMPARE(s->height_cm, 0.0);
        QCOMPARE(s->study_instance_uid, spec.studyInstanceUid);
        QCOMPARE(s->study_date, spec.studyDate);
        QCOMPARE(s->study_time, spec.studyTime);
        QCOMPARE(s->study_description, spec.studyDescription);
        QCOMPARE(s->accession_number, spec.accessionNumber);
        QCOMPARE(s->referring_physician, spec.referringPhysician);
        QCOMPARE(s->series_instance_uid, spec.seriesInstanceUid);
        QCOMPARE(s->series_number, QString::number(spec.seriesNumber));
        QCOMPARE(s->series_description, spec.seriesDescription);
        QCOMPARE(s->modality, QStringLiteral("CT"));
        QCOMPARE(s->body_part_examined, spec.bodyPart);
        QCOMPARE(s->sop_instance_uid, velmaris::gen::sopInstanceUid(spec, i));
        QCOMPARE(s->instance_number, i + 1);
        QCOMPARE(s->rows, spec.rows);
        QCOMPARE(s->columns, spec.columns);
        QCOMPARE(s->number_of_frames, 1);
        QCOMPARE(s->pixel_spacing_x, 0.5);
        QCOMPARE(s->pixel_spacing_y, 0.7);
        QCOMPARE(s->slice_thickness, spec.sliceThickness);
        const auto position = velmaris::gen::slicePosition(spec, i);
        QVERIFY(fuzzy(s->slice_location, dot(position, normal)));
        for (int k = 0; k < 3; ++k)
            QVERIFY(fuzzy(s->image_position[k], position[k]));
        QCOMPARE(s->image_orientation, spec.orientation);
        QVERIFY(s->has_spatial_info);
        QCOMPARE(s->window_center, 40.0);
        QCOMPARE(s->window_width, 400.0);
        QCOMPARE(s->rescale_slope, spec.rescaleSlope);
        QCOMPARE(s->rescale_intercept, spec.rescaleIntercept);
        QVERIFY(fuzzy(s->acquisition_time_seconds, firstTime + i));
        QCOMPARE(s->temporal_position_index, spec.temporalIndexBase + i / 2);
        QCOMPARE(s->frame_of_reference_uid, spec.frameOfReferenceUid);
        QCOMPARE(s->trigger_time_ms, -1.0);
        QCOMPARE(s->cardiac_number_of_images, 0);
        QVERIFY(s->per_frame_position_x.isEmpty());
        QVERIFY(s->per_frame_temporal_indices.isEmpty());
        QCOMPARE(s->file_path, QFileInfo(paths.at(i)).absoluteFilePath());
        QCOMPARE(dicom::readSummaryFullLoad(paths.at(i)), s);
    }
}

void SummaryReaderTest::cyrillicNames_data()
{
    QTest::addColumn<NameEncoding>("encoding");
    QTest::newRow("utf-8") << NameEncoding::Utf8;
    QTest::newRow("windows-1251") << NameEncoding::Cp1251;
}

void SummaryReaderTest::cyrillicNames()
{
    QFETCH(NameEncoding, encoding);
    SeriesSpec spec;
    spec.patientName = QStringLiteral("Иванов^Иван Петрович");
    spec.studyDescription = QStringLiteral("КТ органов грудной клетки");
    spec.nameEncoding = encoding;
    const QString path = writeOne(spec);
    QVERIFY(!path.isEmpty());
    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    QCOMPARE(s->patient_name, spec.patientName);
}

void SummaryReaderTest::heightRule_data()
{
    QTest::addColumn<QString>("patientSize");
    QTest::addColumn<double>("heightCm");
    QTest::newRow("metres") << "1.75" << 175.0;
    QTest::newRow("centimetres") << "175" << 175.0;
    QTest::newRow("three metres exactly") << "3.0" << 300.0;
    QTest::newRow("just above three") << "3.5" << 3.5;
    QTest::newRow("zero") << "0" << 0.0;
    QTest::newRow("negative") << "-1.7" << 0.0;
    QTest::newRow("absent") << "" << 0.0;
}

void SummaryReaderTest::heightRule()
{
    QFETCH(QString, patientSize);
    QFETCH(double, heightCm);
    SeriesSpec spec;
    spec.patientSize = patientSize;
    const auto s = dicom::readSummary(writeOne(spec));
    QVERIFY(s.has_value());
    QVERIFY(fuzzy(s->height_cm, heightCm));
}

void SummaryReaderTest::lateralityRule_data()
{
    QTest::addColumn<QString>("laterality");
    QTest::addColumn<QString>("imageLaterality");
    QTest::addColumn<QString>("comments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("laterality wins") << "R" << "L" << "LEFT" << "R";
    QTest::newRow("image laterality next") << "" << "L" << "RIGHT" << "L";
    QTest::newRow("comment left, lower case") << "" << "" << "left" << "LEFT";
    QTest::newRow("comment r") << "" << "" << " r " << "R";
    QTest::newRow("comment left knee") << "" << "" << "left knee" << "";
    QTest::newRow("nothing") << "" << "" << "" << "";
}

void SummaryReaderTest::lateralityRule()
{
    QFETCH(QString, laterality);
    QFETCH(QString, imageLaterality);
    QFETCH(QString, comments);
    QFETCH(QString, expected);
    SeriesSpec spec;
    spec.laterality = laterality;
    spec.imageLaterality = imageLaterality;
    spec.imageComments = comments;
    const auto s = dicom::readSummary(writeOne(spec));
    QVERIFY(s.has_value());
    QCOMPARE(s->laterality, expected);
}

void SummaryReaderTest::acquisitionTimeRule_data()
{
    QTest::addColumn<QString>("acquisitionTime");
    QTest::addColumn<QString>("contentTime");
    QTest::addColumn<double>("seconds");
    QTest::newRow("acquisition time") << "101530.5" << "120000" << 36930.5;
    QTest::newRow("single digit falls back to content") << "1" << "101500" << 36900.0;
    QTest::newRow("content time only") << "" << "000010" << 10.0;
    QTest::newRow("neither") << "" << "" << -1.0;
}

void SummaryReaderTest::acquisitionTimeRule()
{
    QFETCH(QString, acquisitionTime);
    QFETCH(QString, contentTime);
    QFETCH(double, seconds);
    SeriesSpec spec;
    const QString path = writeOne(spec);
    // Plant the exact texts: the generator shifts acquisition times per slice.
    QVERIFY(editDataset(path, [&](DcmDataset &ds) {
        ds.findAndDeleteElement(DCM_AcquisitionTime);
        ds.findAndDeleteElement(DCM_ContentTime);
        if (!acquisitionTime.isEmpty())
            ds.putAndInsertString(DCM_AcquisitionTime, acquisitionTime.toLatin1().constData());
        if (!contentTime.isEmpty())
            ds.putAndInsertString(DCM_ContentTime, contentTime.toLatin1().constData());
    }));
    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    QVERIFY(fuzzy(s->acquisition_time_seconds, seconds));
}

void SummaryReaderTest::numericReading_data()
{
    QTest::addColumn<QString>("center");
    QTest::addColumn<QString>("width");
    QTest::addColumn<double>("expectedCenter");
    QTest::addColumn<double>("expectedWidth");
    QTest::newRow("single values") << "40" << "400" << 40.0 << 400.0;
    QTest::newRow("two values keep the default") << "40\\300" << "400\\1500" << 0.0 << 0.0;
    QTest::newRow("padded") << " -600 " << "1500" << -600.0 << 1500.0;
    QTest::newRow("not a number") << "abc" << "1e3" << 0.0 << 1000.0;
}

void SummaryReaderTest::numericReading()
{
    QFETCH(QString, center);
    QFETCH(QString, width);
    QFETCH(double, expectedCenter);
    QFETCH(double, expectedWidth);
    SeriesSpec spec;
    const QString path = writeOne(spec);
    QVERIFY(editDataset(path, [&](DcmDataset &ds) {
        ds.putAndInsertString(DCM_WindowCenter, center.toLatin1().constData());
        ds.putAndInsertString(DCM_WindowWidth, width.toLatin1().constData());
    }));
    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    QCOMPARE(s->window_center, expectedCenter);
    QCOMPARE(s->window_width, expectedWidth);
}

void SummaryReaderTest::geometryParts_data()
{
    QTest::addColumn<QString>("spacing");
    QTest::addColumn<QString>("position");
    QTest::addColumn<double>("spacingX");
    QTest::addColumn<double>("spacingY");
    QTest::addColumn<bool>("spatial");
    QTest::newRow("row spacing first") << "0.7\\0.5" << "1\\2\\3" << 0.5 << 0.7 << true;
    QTest::newRow("three spacing parts ignored") << "0.7\\0.5\\0.3" << "1\\2\\3" << 0.0 << 0.0 << true;
    QTest::newRow("unparsable part gives 0") << "x\\0.5" << "1\\2\\3" << 0.5 << 0.0 << true;
    QTest::newRow("two position parts: no position") << "0.7\\0.5" << "1\\2" << 0.5 << 0.7 << false;
}

void SummaryReaderTest::geometryParts()
{
    QFETCH(QString, spacing);
    QFETCH(QString, position);
    QFETCH(double, spacingX);
    QFETCH(double, spacingY);
    QFETCH(bool, spatial);
    SeriesSpec spec;
    const QString path = writeOne(spec);
    QVERIFY(editDataset(path, [&](DcmDataset &ds) {
        ds.putAndInsertString(DCM_PixelSpacing, spacing.toLatin1().constData());
        ds.putAndInsertString(DCM_ImagePositionPatient, position.toLatin1().constData());
    }));
    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    QCOMPARE(s->pixel_spacing_x, spacingX);
    QCOMPARE(s->pixel_spacing_y, spacingY);
    QCOMPARE(s->has_spatial_info, spatial);
}

void SummaryReaderTest::integersReadWithTheirOwnType()
{
    // Rows and Columns are US, Temporal Position Index UL: DCMTK's signed
    // 32-bit accessor refuses both, which must not reset them to 0.
    SeriesSpec spec;
    spec.rows = 48;
    spec.columns = 80;
    spec.temporalPhaseSize = 1;
    spec.temporalIndexBase = 7;
    const QString path = writeOne(spec);
    DcmFileFormat file;
    QVERIFY(file.loadFile(QFile::encodeName(path).constData()).good());
    Sint32 viaSigned = 0;
    QVERIFY(file.getDataset()->findAndGetSint32(DCM_Rows, viaSigned).bad());

    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    QCOMPARE(s->rows, 48);
    QCOMPARE(s->columns, 80);
    QCOMPARE(s->temporal_position_index, 7);

    // An Instance Number that is not a number keeps the default.
    QVERIFY(editDataset(path, [](DcmDataset &ds) {
        ds.putAndInsertString(DCM_InstanceNumber, "abc");
    }));
    QCOMPARE(dicom::readSummary(path)->instance_number, 0);
}

void SummaryReaderTest::mrTiming()
{
    SeriesSpec spec;
    spec.kind = Kind::MR;
    spec.repetitionTime = 3.2;
    spec.echoTime = 1.6;
    spec.triggerTime = 412.5;
    spec.cardiacNumberOfImages = 25;
    const auto s = dicom::readSummary(writeOne(spec));
    QVERIFY(s.has_value());
    QCOMPARE(s->modality, QStringLiteral("MR"));
    QCOMPARE(s->repetition_time, 3.2);
    QCOMPARE(s->echo_time, 1.6);
    QCOMPARE(s->trigger_time_ms, 412.5);
    QCOMPARE(s->cardiac_number_of_images, 25);
}

void SummaryReaderTest::enhancedMultiFrame_data()
{
    QTest::addColumn<EnhancedLayout>("layout");
    QTest::addColumn<bool>("positions");
    QTest::addColumn<Compression>("compression");
    QTest::newRow("shared geometry") << EnhancedLayout::SharedGeometry << true << Compression::None;
    QTest::newRow("per-frame geometry") << EnhancedLayout::PerFrameGeometry << true << Compression::None;
    QTest::newRow("no plane positions") << EnhancedLayout::SharedGeometry << false << Compression::None;
    QTest::newRow("shared geometry, jpeg-ls") << EnhancedLayout::SharedGeometry << true << Compression::JpegLs;
}

void SummaryReaderTest::enhancedMultiFrame()
{
    QFETCH(EnhancedLayout, layout);
    QFETCH(bool, positions);
    QFETCH(Compression, compression);
    SeriesSpec spec;
    spec.kind = Kind::EnhancedMultiFrame;
    spec.compression = compression;
    spec.enhancedLayout = layout;
    spec.perFramePositions = positions;
    spec.slices = 200;
    spec.rows = 16;
    spec.columns = 16;
    spec.pixelSpacingRow = 0.9;
    spec.pixelSpacingColumn = 0.6;
    spec.sliceThickness = 2.0;
    spec.sliceSpacing = 1.5;
    spec.orientation = {0.6, 0.8, 0, -0.8, 0.6, 0};
    spec.temporalPhaseSize = 50;
    const QString path = writeOne(spec);
    QVERIFY(!path.isEmpty());

    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    QCOMPARE(s->number_of_frames, 200);
    QCOMPARE(s->pixel_spacing_x, 0.6);
    QCOMPARE(s->pixel_spacing_y, 0.9);
    QCOMPARE(s->slice_thickness, 2.0);
    QCOMPARE(s->image_orientation, spec.orientation);
    QCOMPARE(s->has_spatial_info, positions);
    QCOMPARE(s->per_frame_temporal_indices.size(), 200);
    const qsizetype expectedPositions = positions ? 200 : 0;
    QCOMPARE(s->per_frame_position_x.size(), expectedPositions);
    QCOMPARE(s->per_frame_position_y.size(), expectedPositions);
    QCOMPARE(s->per_frame_position_z.size(), expectedPositions);
    QCOMPARE(s->per_frame_slice_positions.size(), expectedPositions);
    const auto normal = normalOf(spec.orientation);
    for (int f = 0; f < 200; ++f) {
        QCOMPARE(s->per_frame_temporal_indices.at(f), spec.temporalIndexBase + f / 50);
        if (!positions)
            continue;
        const auto p = velmaris::gen::slicePosition(spec, f);
        QVERIFY(fuzzy(s->per_frame_position_x.at(f), p[0]));
        QVERIFY(fuzzy(s->per_frame_position_y.at(f), p[1]));
        QVERIFY(fuzzy(s->per_frame_position_z.at(f), p[2]));
        QVERIFY(fuzzy(s->per_frame_slice_positions.at(f), dot(p, normal)));
    }
    // Stopping before the pixel data must not change a thing.
    QCOMPARE(dicom::readSummaryFullLoad(path), s);
}

void SummaryReaderTest::classicMultiFrame()
{
    SeriesSpec spec;
    spec.kind = Kind::ClassicMultiFrame;
    spec.slices = 5;
    const auto s = dicom::readSummary(writeOne(spec));
    QVERIFY(s.has_value());
    QCOMPARE(s->number_of_frames, 5);
    QVERIFY(s->has_spatial_info);
    QVERIFY(s->per_frame_position_x.isEmpty());
    QVERIFY(s->per_frame_temporal_indices.isEmpty());
    for (int k = 0; k < 3; ++k)
        QVERIFY(fuzzy(s->image_position[k], spec.origin[k]));
}

void SummaryReaderTest::damagedFiles_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<bool>("isDicom");
    QTest::addColumn<bool>("summarised");
    // A dataset without preamble is still a readable dataset; imports skip it
    // by the preamble test.
    QTest::newRow("no preamble") << Damage::NoPreamble << false << true;
    QTest::newRow("truncated pixel data") << Damage::TruncatedPixelData << true << false;
    QTest::newRow("no study uid") << Damage::NoStudyUid << true << false;
    QTest::newRow("no series uid") << Damage::NoSeriesUid << true << false;
    QTest::newRow("no sop instance uid") << Damage::NoSopInstanceUid << true << false;
}

void SummaryReaderTest::damagedFiles()
{
    QFETCH(Damage, damage);
    QFETCH(bool, isDicom);
    QFETCH(bool, summarised);
    SeriesSpec spec;
    const QString path = m_dir->filePath(QStringLiteral("damaged.dcm"));
    QString error;
    QVERIFY2(velmaris::gen::writeDamagedFile(spec, damage, path, &error), qPrintable(error));
    QCOMPARE(dicom::isDicomFile(path), isDicom);
    QCOMPARE(dicom::readSummary(path).has_value(), summarised);
    QCOMPARE(dicom::readSummaryFullLoad(path).has_value(), summarised);
}

void SummaryReaderTest::agreesWithPydicom()
{
    // pydicom is an independent reader: where we produce a summary, the UIDs,
    // matrix and frame count must be what it reads too.
    QStringList files;
    for (const QFileInfo &info : QDir(pydicomFolder).entryInfoList(QDir::Files))
        files << info.absoluteFilePath();
    if (files.isEmpty())
        QSKIP("pydicom's sample files are not installed");

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(PYDICOM_FIELDS_SCRIPT)} + files);
    QVERIFY(python.waitForFinished(120000));
    QCOMPARE(python.exitCode(), 0);
    int compared = 0;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject ref = QJsonDocument::fromJson(line).object();
        if (ref.contains(QLatin1String("error")))
            continue;
        const QString file = ref.value(QLatin1String("file")).toString();
        const auto s = dicom::readSummary(file);
        if (!s)
            continue;
        ++compared;
        const QByteArray where = file.toUtf8();
        QVERIFY2(s->study_instance_uid == ref.value(QLatin1String("study_instance_uid")).toString(), where);
        QVERIFY2(s->series_instance_uid == ref.value(QLatin1String("series_instance_uid")).toString(), where);
        QVERIFY2(s->sop_instance_uid == ref.value(QLatin1String("sop_instance_uid")).toString(), where);
        QVERIFY2(s->modality == ref.value(QLatin1String("modality")).toString(), where);
        QVERIFY2(s->rows == ref.value(QLatin1String("rows")).toInt(0), where);
        QVERIFY2(s->columns == ref.value(QLatin1String("columns")).toInt(0), where);
        QVERIFY2(s->number_of_frames == ref.value(QLatin1String("number_of_frames")).toInt(1), where);
        QVERIFY2(s->instance_number == ref.value(QLatin1String("instance_number")).toInt(0), where);
    }
    QVERIFY2(compared >= 40, qPrintable(QStringLiteral("only %1 files compared").arg(compared)));
}

QTEST_GUILESS_MAIN(SummaryReaderTest)
#include "test_summary_reader.moc"
