#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

// Writes realistic synthetic DICOM series for tests and benchmarks. Every value
// that a test may want to check is set from the spec, so tests compare against
// the spec rather than against numbers copied from a file.
namespace velmaris::gen {

enum class Kind {
    CT,                 // CT Image Storage, one frame per file
    MR,                 // MR Image Storage, one frame per file
    ClassicMultiFrame,  // one file, Number of Frames > 1, one plain Image Position
    EnhancedMultiFrame, // Enhanced CT Image Storage with shared and per-frame groups
};

enum class Compression {
    None,         // Explicit VR Little Endian
    JpegLs,       // JPEG-LS lossless
    Rle,          // RLE lossless
    JpegLossless, // JPEG lossless, process 14, first-order prediction
};

enum class NameEncoding {
    Utf8,    // Specific Character Set ISO_IR 192, UTF-8 bytes
    Cp1251,  // Windows-1251 bytes, no Specific Character Set
};

// Where the enhanced object keeps its geometry.
enum class EnhancedLayout {
    SharedGeometry,   // spacing, thickness and orientation in the shared groups
    PerFrameGeometry, // spacing, thickness and orientation in each per-frame item
};

// What the pixels show.
enum class Anatomy {
    Chest,  // trunk with lungs, vertebra, aorta and a nodule
    Vessel, // CT angiography phantom: one contrast-filled tube (VesselPhantom)
};

// A curved contrast-filled tube in soft tissue. Its centre line
// (vesselCurvePoint) runs through the slices along a fixed 3D curve scaled to
// the image extent; its radius is radiusMm except around stenosisArcMm,
// where it narrows smoothly (raised cosine over stenosisLengthMm) to
// (1 − stenosisReduction) × radiusMm.
struct VesselPhantom
{
    double radiusMm = 3.0;
    double lumenHu = 300.0;
    double tissueHu = -50.0;
    int noiseHu = 10;               // deterministic noise, −noiseHu … noiseHu
    double stenosisReduction = 0.5; // of the diameter at the narrowest point
    double stenosisArcMm = 30.0;    // arc length from the curve's start
    double stenosisLengthMm = 10.0;
};

struct SeriesSpec
{
    Kind kind = Kind::CT;
    Anatomy anatomy = Anatomy::Chest;
    VesselPhantom vessel; // used with Anatomy::Vessel
    Compression compression = Compression::None;

    int slices = 4;     // files for CT/MR, frames for the multi-frame kinds
    int rows = 64;
    int columns = 64;

    // Patient and study. Empty UIDs are generated (and written back by
    // writeSeries so the caller learns them).
    QString patientName = QStringLiteral("Test^Patient");
    NameEncoding nameEncoding = NameEncoding::Utf8;
    QString patientId = QStringLiteral("PID0001");
    QString birthDate = QStringLiteral("19700101");
    QString sex = QStringLiteral("M");
    QString patientWeight;   // DS text, empty: element absent
    QString patientSize;     // DS text in metres, empty: element absent
    QString studyInstanceUid;
    QString studyDate = QStringLiteral("20240115");
    QString studyTime = QStringLiteral("101500");
    QString studyDescription = QStringLiteral("Study");
    QString accessionNumber = QStringLiteral("ACC1");
    QString referringPhysician = QStringLiteral("Ref^Doctor");
    QString seriesInstanceUid;
    QString frameOfReferenceUid;
    int seriesNumber = 1;
    QString seriesDescription = QStringLiteral("Series");
    QString bodyPart = QStringLiteral("CHEST");
    QString laterality;       // (0020,0060), empty: absent
    QString imageLaterality;  // (0020,0062), empty: absent
    QString imageComments;    // (0020,4000), empty: absent

    // Geometry (patient coordinates, mm).
    double pixelSpacingRow = 0.7;    // first value of Pixel Spacing
    double pixelSpacingColumn = 0.7; // second value
    double sliceThickness = 1.25;
    double sliceSpacing = 1.25;      // distance between consecutive slices
    std::array<double, 3> origin{-160.0, -160.0, 100.0};
    std::array<double, 6> orientation{1, 0, 0, 0, 1, 0};
    bool writeGeometry = true;       // false: no position, orientation, spacing

    // Pixel data and its display.
    int bitsAllocated = 16;
    bool signedPixels = true;
    double rescaleSlope = 1.0;
    double rescaleIntercept = -1024.0;
    QString windowCenter = QStringLiteral("40");   // DS text, may hold two values
    QString windowWidth = QStringLiteral("400");

    // Timing. Acquisition Time of slice i is acquisitionTime + i seconds.
    QString acquisitionTime = QStringLiteral("101530.5");
    QString contentTime;
    // MR only.
    double repetitionTime = 500.0;
    double echoTime = 15.0;
    double triggerTime = -1.0;     // < 0: absent
    int cardiacNumberOfImages = 0; // 0: absent
    // Temporal Position Index (UL): slice i gets temporalIndexBase + i / phaseSize
    // when temporalPhaseSize > 0; otherwise absent.
    int temporalPhaseSize = 0;
    int temporalIndexBase = 1;

    // Enhanced multi-frame only.
    EnhancedLayout enhancedLayout = EnhancedLayout::SharedGeometry;
    bool perFramePositions = true;   // Plane Position Sequence in each item
};

// The value the generator stores at pixel (r, c) of slice (or frame) s,
// before rescale. Deterministic, so decoded pixels can be checked.
int pixelValue(const SeriesSpec &spec, int slice, int row, int column);

// The vessel phantom's centre line in patient mm at t in 0 … 1.
std::array<double, 3> vesselCurvePoint(const SeriesSpec &spec, double t);

// The centre line as `samples` + 1 points at t = k / samples (patient mm).
std::vector<std::array<double, 3>> vesselCurve(const SeriesSpec &spec, int samples = 4000);

// The tube's radius at an arc length along the centre line.
double vesselRadiusAt(const SeriesSpec &spec, double arcMm);

// The stored values of slice s, row by row (faster than pixelValue for a
// whole image).
std::vector<int> slicePixelValues(const SeriesSpec &spec, int slice);

// Image Position (Patient) of slice s: origin + s * sliceSpacing * normal.
std::array<double, 3> slicePosition(const SeriesSpec &spec, int slice);

// SOP Instance UID of slice s in the series (file s, or the multi-frame file).
QString sopInstanceUid(const SeriesSpec &spec, int slice);

// Writes the series into directory (created if missing) as IMG0001.dcm, ...
// Fills missing UIDs in spec. Returns the written paths in slice order.
bool writeSeries(SeriesSpec &spec, const QString &directory, QStringList *paths,
                 QString *error = nullptr);

enum class Damage {
    NoPreamble,         // dataset only, no 128-byte preamble and "DICM"
    TruncatedPixelData, // the last part of Pixel Data cut off
    NoStudyUid,
    NoSeriesUid,
    NoSopInstanceUid,
};

// Writes one CT file of spec (slice 0) with the given damage.
bool writeDamagedFile(SeriesSpec &spec, Damage damage, const QString &filePath,
                      QString *error = nullptr);

} // namespace velmaris::gen
