#include "dicom/DatasetEditor.h"
#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomText.h"
#include "seriesgen/SeriesGenerator.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using velmaris::gen::Compression;
using velmaris::gen::Damage;
using velmaris::gen::EnhancedLayout;
using velmaris::gen::Kind;
using velmaris::gen::NameEncoding;
using velmaris::gen::SeriesSpec;

Q_DECLARE_METATYPE(Compression)
Q_DECLARE_METATYPE(EnhancedLayout)
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(NameEncoding)
Q_DECLARE_METATYPE(Damage)

namespace {

// Distance along the unit normal of the orientation, computed here rather than
// taken from the reader.
double alongNormal(const std::array<double, 6> &o, const std::array<double, 3> &p)
{
    const double n[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
    return (p[0] * n[0] + p[1] * n[1] + p[2] * n[2]) / std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

bool fuzzy(double a, double b)
{
    return std::abs(a - b) <= 1e-6 * std::max(1.0, std::abs(a));
}

QString num(double v)
{
    return QString::number(v, 'g', 12);
}

} // namespace

class SummaryReaderTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void singleFrameFields_data();
    void singleFrameFields();
    void plantedValues_data();
    void plantedValues();
    void multiFrame_data();
    void multiFrame();
    void damagedFiles_data();
    void damagedFiles();

private:
    QStringList write(SeriesSpec &spec)
    {
        QStringList paths;
        QString error;
        if (!velmaris::gen::writeSeries(spec, m_dir->filePath(QString::number(++m_written)), &paths, &error))
            qWarning("%s", qPrintable(error));
        return paths;
    }
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_written = 0;
};

void SummaryReaderTest::singleFrameFields_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Compression>("compression");
    QTest::addColumn<NameEncoding>("encoding");
    QTest::newRow("ct, uncompressed, utf-8") << Kind::CT << Compression::None << NameEncoding::Utf8;
    QTest::newRow("mr, jpeg-ls, windows-1251") << Kind::MR << Compression::JpegLs << NameEncoding::Cp1251;
}

void SummaryReaderTest::singleFrameFields()
{
    QFETCH(Kind, kind);
    QFETCH(Compression, compression);
    QFETCH(NameEncoding, encoding);
    const bool mr = kind == Kind::MR;
    SeriesSpec spec;
    spec.kind = kind;
    spec.compression = compression;
    spec.slices = 3;
    spec.patientName = QStringLiteral("Иванов^Иван Петрович");
    spec.studyDescription = QStringLiteral("КТ органов грудной клетки");
    spec.nameEncoding = encoding;
    spec.patientWeight = QStringLiteral("72.5");
    // Rows and Columns are US, Temporal Position Index UL: DCMTK's signed
    // 32-bit accessor refuses both, which must not reset them to 0.
    spec.rows = 48;
    spec.columns = 80;
    spec.pixelSpacingRow = 0.7;
    spec.pixelSpacingColumn = 0.5;
    spec.orientation = {1, 0, 0, 0, 0.8, -0.6}; // tilted gantry
    spec.seriesNumber = 7;
    spec.temporalPhaseSize = 2;
    if (mr) {
        spec.repetitionTime = 3.2;
        spec.echoTime = 1.6;
        spec.triggerTime = 412.5;
        spec.cardiacNumberOfImages = 25;
    }
    const QStringList paths = write(spec);
    QCOMPARE(paths.size(), 3);

    const double firstTime = *dicom::parseDicomTime(spec.acquisitionTime);
    for (int i = 0; i < paths.size(); ++i) {
        const auto s = dicom::readSummary(paths.at(i));
        QVERIFY(s.has_value());
        QCOMPARE((QStringList{s->patient_id, s->patient_name, s->birth_date, s->sex, s->study_instance_uid,
                              s->study_date, s->study_time, s->study_description, s->accession_number,
                              s->referring_physician, s->series_instance_uid, s->series_number,
                              s->series_description, s->modality, s->body_part_examined, s->sop_instance_uid,
                              s->frame_of_reference_uid, s->laterality, s->file_path}),
                 (QStringList{spec.patientId, spec.patientName, spec.birthDate, spec.sex, spec.studyInstanceUid,
                              spec.studyDate, spec.studyTime, spec.studyDescription, spec.accessionNumber,
                              spec.referringPhysician, spec.seriesInstanceUid, QString::number(spec.seriesNumber),
                              spec.seriesDescription, mr ? QStringLiteral("MR") : QStringLiteral("CT"), spec.bodyPart,
                              velmaris::gen::sopInstanceUid(spec, i), spec.frameOfReferenceUid, QString(),
                              QFileInfo(paths.at(i)).absoluteFilePath()}));
        QCOMPARE((QList<qint32>{s->instance_number, s->rows, s->columns, s->number_of_frames,
                                s->temporal_position_index, s->cardiac_number_of_images}),
                 (QList<qint32>{i + 1, 48, 80, 1, spec.temporalIndexBase + i / 2, spec.cardiacNumberOfImages}));
        QCOMPARE((QList<double>{s->weight_kg, s->height_cm, s->pixel_spacing_x, s->pixel_spacing_y, s->slice_thickness,
                                s->window_center, s->window_width, s->rescale_slope, s->rescale_intercept,
                                s->repetition_time, s->echo_time, s->trigger_time_ms}),
                 (QList<double>{72.5, 0.0, 0.5, 0.7, spec.sliceThickness, 40.0, 400.0, spec.rescaleSlope,
                                spec.rescaleIntercept, mr ? 3.2 : 0.0, mr ? 1.6 : 0.0, spec.triggerTime}));
        const auto position = velmaris::gen::slicePosition(spec, i);
        QVERIFY(fuzzy(s->slice_location, alongNormal(spec.orientation, position)));
        for (int k = 0; k < 3; ++k)
            QVERIFY(fuzzy(s->image_position[k], position[k]));
        QCOMPARE(s->image_orientation, spec.orientation);
        QVERIFY(s->has_spatial_info);
        QVERIFY(fuzzy(s->acquisition_time_seconds, firstTime + i));
        QVERIFY(s->per_frame_position_x.isEmpty() && s->per_frame_temporal_indices.isEmpty());
        QCOMPARE(dicom::readSummaryFullLoad(paths.at(i)), s);
    }
}

void SummaryReaderTest::plantedValues_data()
{
    // Values planted as dcmodify takes them, Keyword= removing the element;
    // then one field of the summary, as text.
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QStringList &edits, const char *field, const char *expected) {
        QTest::newRow(name) << edits << QString::fromLatin1(field) << QString::fromLatin1(expected);
    };
    // Patient Size in metres, unless it can only be centimetres.
    row("height in metres", {"PatientSize=1.75"}, "height", "175");
    row("height in centimetres", {"PatientSize=175"}, "height", "175");
    row("three metres exactly", {"PatientSize=3.0"}, "height", "300");
    row("just above three", {"PatientSize=3.5"}, "height", "3.5");
    row("height negative", {"PatientSize=-1.7"}, "height", "0");
    row("height absent", {"PatientSize="}, "height", "0");
    row("laterality wins", {"Laterality=R", "ImageLaterality=L", "ImageComments=LEFT"}, "laterality", "R");
    row("image laterality next", {"ImageLaterality=L", "ImageComments=RIGHT"}, "laterality", "L");
    row("comment left, lower case", {"ImageComments=left"}, "laterality", "LEFT");
    row("comment r", {"ImageComments= r "}, "laterality", "R");
    row("comment left knee", {"ImageComments=left knee"}, "laterality", "");
    row("acquisition time", {"AcquisitionTime=101530.5", "ContentTime=120000"}, "time", "36930.5");
    row("single digit falls back to content", {"AcquisitionTime=1", "ContentTime=101500"}, "time", "36900");
    row("content time only", {"AcquisitionTime=", "ContentTime=000010"}, "time", "10");
    row("neither time", {"AcquisitionTime=", "ContentTime="}, "time", "-1");
    row("two window values keep the default", {"WindowCenter=40\\300", "WindowWidth=400\\1500"}, "window", "0 0");
    row("padded window", {"WindowCenter= -600 ", "WindowWidth=1500"}, "window", "-600 1500");
    row("window not a number", {"WindowCenter=abc", "WindowWidth=1e3"}, "window", "0 1000");
    row("three spacing parts ignored", {"PixelSpacing=0.7\\0.5\\0.3"}, "spacing", "0 0");
    row("unparsable spacing part gives 0", {"PixelSpacing=x\\0.5"}, "spacing", "0.5 0");
    row("two position parts: no position", {"ImagePositionPatient=1\\2"}, "spatial", "no");
    row("instance number not a number", {"InstanceNumber=abc"}, "instance", "0");
}

void SummaryReaderTest::plantedValues()
{
    QFETCH(QStringList, edits);
    QFETCH(QString, field);
    QFETCH(QString, expected);
    SeriesSpec spec;
    spec.slices = 1;
    const QString path = write(spec).value(0);
    // Planted as exact texts: the generator shifts times per slice, and has no
    // option for most of these.
    QVERIFY(velmaris::testing::setValues(path, edits));
    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    const QHash<QString, QString> fields{
        {QStringLiteral("height"), num(s->height_cm)},
        {QStringLiteral("laterality"), s->laterality},
        {QStringLiteral("time"), num(s->acquisition_time_seconds)},
        {QStringLiteral("window"), num(s->window_center) + u' ' + num(s->window_width)},
        {QStringLiteral("spacing"), num(s->pixel_spacing_x) + u' ' + num(s->pixel_spacing_y)},
        {QStringLiteral("spatial"), s->has_spatial_info ? QStringLiteral("yes") : QStringLiteral("no")},
        {QStringLiteral("instance"), num(s->instance_number)},
    };
    QVERIFY(fields.contains(field));
    QCOMPARE(fields.value(field), expected);
}

void SummaryReaderTest::multiFrame_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<EnhancedLayout>("layout");
    QTest::addColumn<bool>("positions");
    QTest::newRow("shared geometry") << Kind::EnhancedMultiFrame << EnhancedLayout::SharedGeometry << true;
    QTest::newRow("per-frame geometry") << Kind::EnhancedMultiFrame << EnhancedLayout::PerFrameGeometry << true;
    QTest::newRow("no plane positions") << Kind::EnhancedMultiFrame << EnhancedLayout::SharedGeometry << false;
    // One plain position for the whole stack, no per-frame lists.
    QTest::newRow("classic") << Kind::ClassicMultiFrame << EnhancedLayout::SharedGeometry << false;
}

void SummaryReaderTest::multiFrame()
{
    QFETCH(Kind, kind);
    QFETCH(EnhancedLayout, layout);
    QFETCH(bool, positions);
    const bool enhanced = kind == Kind::EnhancedMultiFrame;
    SeriesSpec spec;
    spec.kind = kind;
    spec.enhancedLayout = layout;
    spec.perFramePositions = positions;
    spec.slices = enhanced ? 200 : 5;
    spec.rows = 16;
    spec.columns = 16;
    spec.pixelSpacingRow = 0.9;
    spec.pixelSpacingColumn = 0.6;
    spec.sliceThickness = 2.0;
    spec.sliceSpacing = 1.5;
    spec.orientation = {0.6, 0.8, 0, -0.8, 0.6, 0};
    if (enhanced)
        spec.temporalPhaseSize = 50;
    const QString path = write(spec).value(0);
    QVERIFY(!path.isEmpty());

    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    QCOMPARE(s->number_of_frames, spec.slices);
    QCOMPARE((QList<double>{s->pixel_spacing_x, s->pixel_spacing_y, s->slice_thickness}), (QList<double>{0.6, 0.9, 2.0}));
    QCOMPARE(s->image_orientation, spec.orientation);
    QCOMPARE(s->has_spatial_info, positions || !enhanced);
    for (int k = 0; !enhanced && k < 3; ++k)
        QVERIFY(fuzzy(s->image_position[k], spec.origin[k]));
    const qsizetype n = positions ? 200 : 0;
    QCOMPARE((QList<qsizetype>{s->per_frame_temporal_indices.size(), s->per_frame_position_x.size(),
                               s->per_frame_position_y.size(), s->per_frame_position_z.size(),
                               s->per_frame_slice_positions.size()}),
             (QList<qsizetype>{enhanced ? 200 : 0, n, n, n, n}));
    for (int f = 0; f < s->per_frame_temporal_indices.size(); ++f) {
        QCOMPARE(s->per_frame_temporal_indices.at(f), spec.temporalIndexBase + f / 50);
        if (!positions)
            continue;
        const auto p = velmaris::gen::slicePosition(spec, f);
        QVERIFY(fuzzy(s->per_frame_position_x.at(f), p[0]) && fuzzy(s->per_frame_position_y.at(f), p[1])
                && fuzzy(s->per_frame_position_z.at(f), p[2]));
        QVERIFY(fuzzy(s->per_frame_slice_positions.at(f), alongNormal(spec.orientation, p)));
    }
    // Stopping before the pixel data must not change a thing.
    QCOMPARE(dicom::readSummaryFullLoad(path), s);
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

QTEST_GUILESS_MAIN(SummaryReaderTest)
#include "test_summary_reader.moc"
