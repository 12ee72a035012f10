#include "seriesgen/SeriesGenerator.h"

#include "dicom/CodecRegistration.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcrlerp.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmjpeg/djrplol.h>
#include <dcmtk/dcmjpls/djrparam.h>
#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

namespace velmaris::gen {

namespace {

// ---------------------------------------------------------------------------
// Synthetic anatomy. Everything is integer arithmetic on a fixed grid so that
// the bulk writer and pixelValue() agree bit for bit, whatever the compiler
// does with floating point.

enum Tissue { Air, Lung, Fat, Soft, Contrast, Bone, TissueCount };

constexpr int64_t Unit = 4096; // half the image in grid units

inline bool insideEllipse(int64_t x, int64_t y, int64_t cx, int64_t cy, int64_t a, int64_t b)
{
    const int64_t dx = x - cx;
    const int64_t dy = y - cy;
    return dx * dx * b * b + dy * dy * a * a <= a * a * b * b;
}

std::array<double, 3> sliceNormal(const SeriesSpec &spec);

// The tube of the angiography phantom: its centre line sampled densely (the
// nearest sample stands in for the nearest curve point; at 4000 samples the
// error is far below a voxel).
class VesselModel
{
public:
    explicit VesselModel(const SeriesSpec &spec) : m_spec(spec)
    {
        m_curve = vesselCurve(spec);
        m_arc.resize(m_curve.size(), 0.0);
        for (std::size_t i = 1; i < m_curve.size(); ++i)
            m_arc[i] = m_arc[i - 1] + distance(m_curve[i], m_curve[i - 1]);
        m_normal = sliceNormal(spec);
        for (const auto &p : m_curve)
            m_depth.push_back(dotWith(p, m_normal));
    }

    // HU at pixel (r, c) of slice s, before noise.
    double hu(int s, int r, int c) const
    {
        const auto p = pixelPoint(s, r, c);
        const double reach = m_spec.vessel.radiusMm + 1.0;
        const double depth = dotWith(p, m_normal);
        double best = reach * reach;
        std::size_t nearest = m_curve.size();
        for (std::size_t i = 0; i < m_curve.size(); ++i) {
            if (std::fabs(m_depth[i] - depth) > reach)
                continue;
            const double d2 = distance2(p, m_curve[i]);
            if (d2 < best) {
                best = d2;
                nearest = i;
            }
        }
        if (nearest == m_curve.size())
            return m_spec.vessel.tissueHu;
        return std::sqrt(best) <= vesselRadiusAt(m_spec, m_arc[nearest]) ? m_spec.vessel.lumenHu
                                                                          : m_spec.vessel.tissueHu;
    }

    // Pixels of slice s that may lie near the tube: rows and columns of the
    // curve samples within reach of the slice, widened by the reach.
    void candidateWindow(int s, int &r0, int &r1, int &c0, int &c1) const
    {
        const double reach = m_spec.vessel.radiusMm + 1.0;
        const auto o = pixelPoint(s, 0, 0);
        const double depth = dotWith(o, m_normal);
        const std::array<double, 3> rowDir{m_spec.orientation[0], m_spec.orientation[1], m_spec.orientation[2]};
        const std::array<double, 3> colDir{m_spec.orientation[3], m_spec.orientation[4], m_spec.orientation[5]};
        r0 = c0 = std::numeric_limits<int>::max();
        r1 = c1 = std::numeric_limits<int>::min();
        for (std::size_t i = 0; i < m_curve.size(); ++i) {
            if (std::fabs(m_depth[i] - depth) > reach)
                continue;
            const std::array<double, 3> d{m_curve[i][0] - o[0], m_curve[i][1] - o[1], m_curve[i][2] - o[2]};
            const double c = dotWith(d, rowDir) / m_spec.pixelSpacingColumn;
            const double r = dotWith(d, colDir) / m_spec.pixelSpacingRow;
            c0 = std::min(c0, int(std::floor(c - reach / m_spec.pixelSpacingColumn)));
            c1 = std::max(c1, int(std::ceil(c + reach / m_spec.pixelSpacingColumn)));
            r0 = std::min(r0, int(std::floor(r - reach / m_spec.pixelSpacingRow)));
            r1 = std::max(r1, int(std::ceil(r + reach / m_spec.pixelSpacingRow)));
        }
    }

private:
    static double dotWith(const std::array<double, 3> &a, const std::array<double, 3> &b)
    {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    }
    static double distance2(const std::array<double, 3> &a, const std::array<double, 3> &b)
    {
        return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
    }
    static double distance(const std::array<double, 3> &a, const std::array<double, 3> &b)
    {
        return std::sqrt(distance2(a, b));
    }
    std::array<double, 3> pixelPoint(int s, int r, int c) const
    {
        std::array<double, 3> p{};
        for (int i = 0; i < 3; ++i)
            p[i] = m_spec.origin[i] + s * m_spec.sliceSpacing * m_normal[i]
                   + c * m_spec.pixelSpacingColumn * m_spec.orientation[i]
                   + r * m_spec.pixelSpacingRow * m_spec.orientation[3 + i];
        return p;
    }

    SeriesSpec m_spec;
    std::vector<std::array<double, 3>> m_curve;
    std::vector<double> m_arc;
    std::vector<double> m_depth;
    std::array<double, 3> m_normal{};
};

class Phantom
{
public:
    explicit Phantom(const SeriesSpec &spec)
        : m_rows(std::max(spec.rows, 1)), m_columns(std::max(spec.columns, 1)),
          m_slices(std::max(spec.slices, 1))
    {
        if (spec.anatomy == Anatomy::Vessel) {
            m_vessel = std::make_shared<const VesselModel>(spec);
            m_noise = std::max(spec.vessel.noiseHu, 0);
            m_slope = spec.rescaleSlope != 0.0 ? spec.rescaleSlope : 1.0;
            m_intercept = spec.rescaleIntercept;
            m_vesselTissue = spec.vessel.tissueHu;
        }
        // Physical values: Hounsfield units for the CT-like kinds, typical
        // T1-ish intensities for MR, so that windowing behaves as on real data.
        static constexpr double ctValues[TissueCount] = {-1000, -850, -100, 40, 250, 800};
        static constexpr double mrValues[TissueCount] = {0, 30, 900, 450, 1200, 150};
        const double *physical = spec.kind == Kind::MR ? mrValues : ctValues;

        const bool is8 = spec.bitsAllocated == 8;
        if (spec.signedPixels) {
            m_min = is8 ? -128 : -32768;
            m_max = is8 ? 127 : 32767;
        } else {
            m_min = 0;
            m_max = is8 ? 255 : 65535;
        }
        const double slope = spec.rescaleSlope != 0.0 ? spec.rescaleSlope : 1.0;
        for (int t = 0; t < TissueCount; ++t) {
            const double stored = std::round((physical[t] - spec.rescaleIntercept) / slope);
            m_stored[t] = static_cast<int>(std::clamp(stored, double(m_min), double(m_max)));
        }
    }

    int rows() const { return m_rows; }
    int columns() const { return m_columns; }

    // Per-slice shape: the trunk widens towards the middle of the stack and
    // the lungs shrink towards its ends.
    struct Slice
    {
        int index;
        int64_t bodyA, bodyB, lungA, lungB, nodule;
    };

    Slice slice(int s) const
    {
        const int64_t z = m_slices > 1 ? int64_t(s) * Unit / (m_slices - 1) : Unit / 2;
        const int64_t bulge = z * (Unit - z) / 20000; // 0 .. ~210
        Slice sl;
        sl.index = s;
        sl.bodyA = 3400 + bulge;
        sl.bodyB = 2600 + bulge * 3 / 4;
        sl.lungA = 800 + bulge;
        sl.lungB = 1200 + bulge * 2;
        sl.nodule = -700 + z / 3; // a nodule that travels through the right lung
        return sl;
    }

    int value(const Slice &sl, int r, int c) const
    {
        if (m_vessel)
            return vesselValue(m_vessel->hu(sl.index, r, c), sl.index, r, c);
        const int64_t x = (2 * int64_t(c) + 1) * Unit / m_columns - Unit;
        const int64_t y = (2 * int64_t(r) + 1) * Unit / m_rows - Unit;
        Tissue t;
        if (!insideEllipse(x, y, 0, 0, sl.bodyA, sl.bodyB))
            t = Air;
        else if (!insideEllipse(x, y, 0, 0, sl.bodyA - 220, sl.bodyB - 220))
            t = Fat;
        else if (insideEllipse(x, y, 0, 1750, 430, 430) || insideEllipse(x, y, 0, -2150, 900, 160))
            t = Bone; // vertebra and sternum
        else if (insideEllipse(x, y, 350, 900, 260, 260))
            t = Contrast; // descending aorta
        else if (insideEllipse(x, y, -1500, sl.nodule, 170, 170))
            t = Soft;
        else if (insideEllipse(x, y, -1500, -150, sl.lungA, sl.lungB)
                 || insideEllipse(x, y, 1500, -150, sl.lungA, sl.lungB))
            t = Lung;
        else
            t = Soft;

        // Deterministic noise of a few stored units, so that compressors see
        // texture rather than flat areas.
        uint32_t h = uint32_t(sl.index) * 0x9E3779B1u ^ uint32_t(r) * 0x85EBCA77u
                     ^ uint32_t(c) * 0xC2B2AE3Du;
        h ^= h >> 15;
        h *= 0x2C1B3C6Du;
        h ^= h >> 12;
        const int noise = int(h & 15u) - 8;
        return std::clamp(m_stored[t] + noise, m_min, m_max);
    }

    // The stored values of one slice; the tube is looked for only near the
    // curve, the rest is tissue.
    std::vector<int> sliceValues(int s) const
    {
        std::vector<int> values(std::size_t(m_rows) * std::size_t(m_columns));
        if (!m_vessel) {
            const Slice sl = slice(s);
            for (int r = 0; r < m_rows; ++r)
                for (int c = 0; c < m_columns; ++c)
                    values[std::size_t(r) * std::size_t(m_columns) + std::size_t(c)] = value(sl, r, c);
            return values;
        }
        int r0 = 0, r1 = -1, c0 = 0, c1 = -1;
        m_vessel->candidateWindow(s, r0, r1, c0, c1);
        for (int r = 0; r < m_rows; ++r)
            for (int c = 0; c < m_columns; ++c) {
                const bool near = r >= r0 && r <= r1 && c >= c0 && c <= c1;
                const double hu = near ? m_vessel->hu(s, r, c) : m_vesselTissue;
                values[std::size_t(r) * std::size_t(m_columns) + std::size_t(c)] = vesselValue(hu, s, r, c);
            }
        return values;
    }

private:
    int vesselValue(double hu, int s, int r, int c) const
    {
        uint32_t h = uint32_t(s) * 0x9E3779B1u ^ uint32_t(r) * 0x85EBCA77u ^ uint32_t(c) * 0xC2B2AE3Du;
        h ^= h >> 15;
        h *= 0x2C1B3C6Du;
        h ^= h >> 12;
        const int noise = m_noise > 0 ? int(h % uint32_t(2 * m_noise + 1)) - m_noise : 0;
        const double stored = std::round((hu + noise - m_intercept) / m_slope);
        return int(std::clamp(stored, double(m_min), double(m_max)));
    }

    std::shared_ptr<const VesselModel> m_vessel;
    int m_noise = 0;
    double m_slope = 1.0;
    double m_intercept = 0.0;
    double m_vesselTissue = 0.0;

    int m_rows;
    int m_columns;
    int m_slices;
    int m_min = 0;
    int m_max = 0;
    int m_stored[TissueCount] = {};
};

// ---------------------------------------------------------------------------
// Text encoding of string values.

// Windows-1251 bytes 0x80..0xFF; 0 marks the one unassigned byte (0x98).
constexpr char16_t cp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// An explicit table rather than QStringEncoder: whether Qt knows
// "windows-1251" depends on its ICU build, and a silent '?' substitution
// would hide a broken test name.
bool toCp1251(const QString &text, QByteArray *out, QString *error)
{
    out->clear();
    out->reserve(text.size());
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80) {
            out->append(char(u));
            continue;
        }
        const char16_t *found = std::find(std::begin(cp1251High), std::end(cp1251High), u);
        if (u == 0 || found == std::end(cp1251High)) {
            if (error)
                *error = QStringLiteral("'%1' cannot be written in Windows-1251").arg(text);
            return false;
        }
        out->append(char(0x80 + (found - std::begin(cp1251High))));
    }
    return true;
}

// ---------------------------------------------------------------------------
// Small helpers.

QString tagText(const DcmTagKey &key)
{
    return QString::fromLatin1(key.toString().c_str());
}

QByteArray dsText(double value)
{
    // 10 significant digits keep every value within the 16 characters of DS.
    return QByteArray::number(value, 'g', 10);
}

QByteArray dsList(const double *values, int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        if (i)
            text += '\\';
        text += dsText(values[i]);
    }
    return text;
}

std::array<double, 3> sliceNormal(const SeriesSpec &spec)
{
    const auto &o = spec.orientation;
    return {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
}

// TM as "HHMMSS[.F]", also the short forms and the old "HH:MM:SS" style.
bool parseTime(const QString &text, int *secondsOfDay, QString *fraction)
{
    QString t = text.trimmed();
    t.remove(QLatin1Char(':'));
    QString whole = t;
    fraction->clear();
    const qsizetype dot = t.indexOf(QLatin1Char('.'));
    if (dot >= 0) {
        whole = t.left(dot);
        *fraction = t.mid(dot + 1);
        if (fraction->isEmpty() || fraction->size() > 6)
            return false;
        for (const QChar ch : *fraction)
            if (!ch.isDigit())
                return false;
    }
    if (whole.size() != 2 && whole.size() != 4 && whole.size() != 6)
        return false;
    for (const QChar ch : whole)
        if (!ch.isDigit())
            return false;
    const int h = whole.mid(0, 2).toInt();
    const int m = whole.size() >= 4 ? whole.mid(2, 2).toInt() : 0;
    const int s = whole.size() >= 6 ? whole.mid(4, 2).toInt() : 0;
    if (h > 23 || m > 59 || s > 60)
        return false;
    *secondsOfDay = h * 3600 + m * 60 + s;
    return true;
}

QByteArray timeText(int secondsOfDay, const QString &fraction)
{
    const int t = ((secondsOfDay % 86400) + 86400) % 86400;
    QByteArray text = QByteArray::number(t / 3600).rightJustified(2, '0')
                      + QByteArray::number(t / 60 % 60).rightJustified(2, '0')
                      + QByteArray::number(t % 60).rightJustified(2, '0');
    if (!fraction.isEmpty())
        text += '.' + fraction.toLatin1();
    return text;
}

QString generateUid(const char *root)
{
    char buffer[100];
    return QString::fromLatin1(dcmGenerateUniqueIdentifier(buffer, root));
}

E_TransferSyntax transferSyntax(Compression compression)
{
    switch (compression) {
    case Compression::None: return EXS_LittleEndianExplicit;
    case Compression::JpegLs: return EXS_JPEGLSLossless;
    case Compression::Rle: return EXS_RLELossless;
    case Compression::JpegLossless: return EXS_JPEGProcess14SV1;
    }
    return EXS_LittleEndianExplicit;
}

// ---------------------------------------------------------------------------
// Dataset assembly. The first failing put is remembered and everything after
// it becomes a no-op, so the builders read as a plain list of attributes.

class Builder
{
public:
    Builder(const SeriesSpec &spec, const Phantom &phantom)
        : m_spec(spec), m_phantom(phantom)
    {
    }

    bool ok() const { return m_status.good() && m_error.isEmpty(); }
    QString error() const
    {
        return m_error.isEmpty() ? QString::fromLatin1(m_status.text()) : m_error;
    }
    void fail(const QString &text)
    {
        if (ok())
            m_error = text;
    }

    // Raw bytes, already in the file's character set.
    void bytes(DcmItem &item, const DcmTagKey &key, const QByteArray &value)
    {
        if (!ok())
            return;
        m_status = item.putAndInsertString(DcmTag(key), value.constData(), Uint32(value.size()));
        note(key);
    }
    // Text in the file's character set; empty text writes an empty element.
    void text(DcmItem &item, const DcmTagKey &key, const QString &value)
    {
        if (!ok())
            return;
        QByteArray encoded;
        if (m_spec.nameEncoding == NameEncoding::Cp1251) {
            QString error;
            if (!toCp1251(value, &encoded, &error)) {
                fail(tagText(key) + QStringLiteral(": ") + error);
                return;
            }
        } else {
            encoded = value.toUtf8();
        }
        bytes(item, key, encoded);
    }
    void optionalText(DcmItem &item, const DcmTagKey &key, const QString &value)
    {
        if (!value.isEmpty())
            text(item, key, value);
    }
    void us(DcmItem &item, const DcmTagKey &key, int value)
    {
        if (!ok())
            return;
        m_status = item.putAndInsertUint16(DcmTag(key), Uint16(value));
        note(key);
    }
    void ul(DcmItem &item, const DcmTagKey &key, long value)
    {
        if (!ok())
            return;
        m_status = item.putAndInsertUint32(DcmTag(key), Uint32(value));
        note(key);
    }
    DcmItem *sequenceItem(DcmItem &parent, const DcmTagKey &sequence)
    {
        if (!ok())
            return nullptr;
        DcmItem *item = nullptr;
        m_status = parent.findOrCreateSequenceItem(sequence, item, 0);
        note(sequence);
        return ok() ? item : nullptr;
    }

    void patientStudySeries(DcmItem &ds, const char *sopClass, const QString &sopInstance,
                            const char *modality);
    void imagePixelModule(DcmItem &ds, int frames);
    void geometry(DcmItem &ds, int slice, bool withSliceLocation);
    void rescaleAndWindow(DcmItem &ds, bool withRescaleType);
    void timing(DcmItem &ds, int slice);
    bool pixelData(DcmDataset &ds, int firstSlice, int frames);

private:
    void note(const DcmTagKey &key)
    {
        if (m_status.bad())
            m_error = QStringLiteral("cannot set %1: %2")
                          .arg(tagText(key), QString::fromLatin1(m_status.text()));
    }

    const SeriesSpec &m_spec;
    const Phantom &m_phantom;
    OFCondition m_status = EC_Normal;
    QString m_error;
};

void Builder::patientStudySeries(DcmItem &ds, const char *sopClass, const QString &sopInstance,
                                 const char *modality)
{
    const SeriesSpec &s = m_spec;
    if (s.nameEncoding == NameEncoding::Utf8)
        bytes(ds, DCM_SpecificCharacterSet, "ISO_IR 192");
    bytes(ds, DCM_SOPClassUID, sopClass);
    text(ds, DCM_SOPInstanceUID, sopInstance);
    text(ds, DCM_StudyDate, s.studyDate);
    text(ds, DCM_SeriesDate, s.studyDate);
    text(ds, DCM_ContentDate, s.studyDate);
    text(ds, DCM_StudyTime, s.studyTime);
    text(ds, DCM_SeriesTime, s.studyTime);
    optionalText(ds, DCM_ContentTime, s.contentTime);
    text(ds, DCM_AccessionNumber, s.accessionNumber);
    bytes(ds, DCM_Modality, modality);
    bytes(ds, DCM_Manufacturer, "Velmaris");
    bytes(ds, DCM_ManufacturerModelName, "seriesgen");
    text(ds, DCM_ReferringPhysicianName, s.referringPhysician);
    text(ds, DCM_StudyDescription, s.studyDescription);
    text(ds, DCM_SeriesDescription, s.seriesDescription);
    text(ds, DCM_PatientName, s.patientName);
    text(ds, DCM_PatientID, s.patientId);
    text(ds, DCM_PatientBirthDate, s.birthDate);
    text(ds, DCM_PatientSex, s.sex);
    optionalText(ds, DCM_PatientSize, s.patientSize);
    optionalText(ds, DCM_PatientWeight, s.patientWeight);
    optionalText(ds, DCM_BodyPartExamined, s.bodyPart);
    text(ds, DCM_StudyInstanceUID, s.studyInstanceUid);
    text(ds, DCM_SeriesInstanceUID, s.seriesInstanceUid);
    bytes(ds, DCM_StudyID, "1");
    bytes(ds, DCM_SeriesNumber, QByteArray::number(s.seriesNumber));
    text(ds, DCM_FrameOfReferenceUID, s.frameOfReferenceUid);
    bytes(ds, DCM_PositionReferenceIndicator, "");
    optionalText(ds, DCM_Laterality, s.laterality);
    optionalText(ds, DCM_ImageLaterality, s.imageLaterality);
    optionalText(ds, DCM_ImageComments, s.imageComments);
}

void Builder::imagePixelModule(DcmItem &ds, int frames)
{
    us(ds, DCM_SamplesPerPixel, 1);
    bytes(ds, DCM_PhotometricInterpretation, "MONOCHROME2");
    if (frames > 0)
        bytes(ds, DCM_NumberOfFrames, QByteArray::number(frames));
    us(ds, DCM_Rows, m_spec.rows);
    us(ds, DCM_Columns, m_spec.columns);
    us(ds, DCM_BitsAllocated, m_spec.bitsAllocated);
    us(ds, DCM_BitsStored, m_spec.bitsAllocated);
    us(ds, DCM_HighBit, m_spec.bitsAllocated - 1);
    us(ds, DCM_PixelRepresentation, m_spec.signedPixels ? 1 : 0);
}

void Builder::geometry(DcmItem &ds, int slice, bool withSliceLocation)
{
    if (!m_spec.writeGeometry)
        return;
    const auto position = slicePosition(m_spec, slice);
    bytes(ds, DCM_ImagePositionPatient, dsList(position.data(), 3));
    bytes(ds, DCM_ImageOrientationPatient, dsList(m_spec.orientation.data(), 6));
    const double spacing[2] = {m_spec.pixelSpacingRow, m_spec.pixelSpacingColumn};
    bytes(ds, DCM_PixelSpacing, dsList(spacing, 2));
    if (withSliceLocation) {
        const auto n = sliceNormal(m_spec);
        const double location = position[0] * n[0] + position[1] * n[1] + position[2] * n[2];
        bytes(ds, DCM_SliceLocation, dsText(location));
    }
}

void Builder::rescaleAndWindow(DcmItem &ds, bool withRescaleType)
{
    bytes(ds, DCM_RescaleIntercept, dsText(m_spec.rescaleIntercept));
    bytes(ds, DCM_RescaleSlope, dsText(m_spec.rescaleSlope));
    if (withRescaleType)
        bytes(ds, DCM_RescaleType, "HU");
    if (!m_spec.windowCenter.isEmpty() && !m_spec.windowWidth.isEmpty()) {
        bytes(ds, DCM_WindowCenter, m_spec.windowCenter.toLatin1());
        bytes(ds, DCM_WindowWidth, m_spec.windowWidth.toLatin1());
    }
}

void Builder::timing(DcmItem &ds, int slice)
{
    if (m_spec.acquisitionTime.isEmpty())
        return;
    int seconds = 0;
    QString fraction;
    if (!parseTime(m_spec.acquisitionTime, &seconds, &fraction)) {
        fail(QStringLiteral("invalid acquisition time '%1'").arg(m_spec.acquisitionTime));
        return;
    }
    text(ds, DCM_AcquisitionDate, m_spec.studyDate);
    bytes(ds, DCM_AcquisitionTime, timeText(seconds + slice, fraction));
}

bool Builder::pixelData(DcmDataset &ds, int firstSlice, int frames)
{
    if (!ok())
        return false;
    const size_t perFrame = size_t(m_spec.rows) * size_t(m_spec.columns);
    const size_t count = perFrame * size_t(frames);
    const size_t bytesTotal = count * size_t(m_spec.bitsAllocated / 8);
    if (bytesTotal >= 0xFFFFFFFEu) {
        fail(QStringLiteral("pixel data of %1 bytes does not fit one DICOM element").arg(bytesTotal));
        return false;
    }
    // Filled in place in the element's own buffer: no copy of a frame stack
    // that may be a gigabyte.
    auto *element = new DcmPixelData(DCM_PixelData);
    m_status = ds.insert(element, true);
    if (m_status.bad()) {
        delete element;
        note(DCM_PixelData);
        return false;
    }
    if (m_spec.bitsAllocated == 16) {
        Uint16 *words = nullptr;
        m_status = element->createUint16Array(Uint32(count), words);
        note(DCM_PixelData);
        if (!ok())
            return false;
        for (int f = 0; f < frames; ++f) {
            for (const int value : m_phantom.sliceValues(firstSlice + f))
                *words++ = Uint16(value);
        }
    } else {
        element->setVR(EVR_OB);
        Uint8 *bytesOut = nullptr;
        m_status = element->createUint8Array(Uint32(count), bytesOut);
        note(DCM_PixelData);
        if (!ok())
            return false;
        for (int f = 0; f < frames; ++f) {
            for (const int value : m_phantom.sliceValues(firstSlice + f))
                *bytesOut++ = Uint8(value);
        }
    }
    return true;
}

// One CT or MR image per file.
bool buildSingleFrame(const SeriesSpec &spec, const Phantom &phantom, Kind kind, int slice,
                      DcmDataset &ds, QString *error)
{
    Builder b(spec, phantom);
    const bool mr = kind == Kind::MR;
    b.patientStudySeries(ds, mr ? UID_MRImageStorage : UID_CTImageStorage,
                         sopInstanceUid(spec, slice), mr ? "MR" : "CT");
    b.bytes(ds, DCM_ImageType, "ORIGINAL\\PRIMARY\\AXIAL");
    b.timing(ds, slice);
    b.bytes(ds, DCM_AcquisitionNumber, "1");
    b.bytes(ds, DCM_InstanceNumber, QByteArray::number(slice + 1));
    b.bytes(ds, DCM_SliceThickness, dsText(spec.sliceThickness));
    if (mr) {
        b.bytes(ds, DCM_ScanningSequence, "SE");
        b.bytes(ds, DCM_SequenceVariant, "NONE");
        b.bytes(ds, DCM_ScanOptions, "");
        b.bytes(ds, DCM_MRAcquisitionType, "2D");
        b.bytes(ds, DCM_RepetitionTime, dsText(spec.repetitionTime));
        b.bytes(ds, DCM_EchoTime, dsText(spec.echoTime));
        b.bytes(ds, DCM_EchoTrainLength, "1");
        b.bytes(ds, DCM_MagneticFieldStrength, "1.5");
        if (spec.writeGeometry)
            b.bytes(ds, DCM_SpacingBetweenSlices, dsText(spec.sliceSpacing));
        if (spec.triggerTime >= 0)
            b.bytes(ds, DCM_TriggerTime, dsText(spec.triggerTime));
        if (spec.cardiacNumberOfImages > 0)
            b.bytes(ds, DCM_CardiacNumberOfImages, QByteArray::number(spec.cardiacNumberOfImages));
    } else {
        b.bytes(ds, DCM_KVP, "120");
        b.bytes(ds, DCM_ConvolutionKernel, "STANDARD");
    }
    if (spec.temporalPhaseSize > 0)
        b.ul(ds, DCM_TemporalPositionIndex, spec.temporalIndexBase + slice / spec.temporalPhaseSize);
    b.geometry(ds, slice, true);
    b.imagePixelModule(ds, 0);
    b.rescaleAndWindow(ds, !mr);
    b.pixelData(ds, slice, 1);
    if (!b.ok() && error)
        *error = b.error();
    return b.ok();
}

// The old way of stacking slices into one object: a multi-frame secondary
// capture with a single position, as some MPR exports produce.
bool buildClassicMultiFrame(const SeriesSpec &spec, const Phantom &phantom, DcmDataset &ds,
                            QString *error)
{
    Builder b(spec, phantom);
    const char *sopClass = spec.bitsAllocated == 8
                               ? UID_MultiframeGrayscaleByteSecondaryCaptureImageStorage
                               : UID_MultiframeGrayscaleWordSecondaryCaptureImageStorage;
    b.patientStudySeries(ds, sopClass, sopInstanceUid(spec, 0), "CT");
    b.bytes(ds, DCM_ImageType, "DERIVED\\SECONDARY\\AXIAL");
    b.bytes(ds, DCM_ConversionType, "WSD");
    b.timing(ds, 0);
    b.bytes(ds, DCM_InstanceNumber, "1");
    b.bytes(ds, DCM_SliceThickness, dsText(spec.sliceThickness));
    b.geometry(ds, 0, true);
    if (spec.writeGeometry) {
        b.bytes(ds, DCM_SpacingBetweenSlices, dsText(spec.sliceSpacing));
        // Slice Location Vector is one of the frame increments the
        // multi-frame secondary capture allows; it gives readers the stack.
        const auto n = sliceNormal(spec);
        QByteArray locations;
        for (int s = 0; s < spec.slices; ++s) {
            const auto p = slicePosition(spec, s);
            if (s)
                locations += '\\';
            locations += dsText(p[0] * n[0] + p[1] * n[1] + p[2] * n[2]);
        }
        b.bytes(ds, DCM_SliceLocationVector, locations);
        if (b.ok()) {
            const OFCondition status = ds.putAndInsertTagKey(DCM_FrameIncrementPointer,
                                                             DCM_SliceLocationVector);
            if (status.bad())
                b.fail(QString::fromLatin1(status.text()));
        }
    }
    b.imagePixelModule(ds, spec.slices);
    b.rescaleAndWindow(ds, false);
    b.pixelData(ds, 0, spec.slices);
    if (!b.ok() && error)
        *error = b.error();
    return b.ok();
}

bool buildEnhanced(const SeriesSpec &spec, const Phantom &phantom, DcmDataset &ds, QString *error)
{
    Builder b(spec, phantom);
    b.patientStudySeries(ds, UID_EnhancedCTImageStorage, sopInstanceUid(spec, 0), "CT");
    b.bytes(ds, DCM_ImageType, "ORIGINAL\\PRIMARY\\VOLUME\\NONE");
    int acquisitionSeconds = 0;
    QString fraction;
    const bool timed = !spec.acquisitionTime.isEmpty();
    if (timed) {
        if (!parseTime(spec.acquisitionTime, &acquisitionSeconds, &fraction))
            b.fail(QStringLiteral("invalid acquisition time '%1'").arg(spec.acquisitionTime));
        b.bytes(ds, DCM_AcquisitionDateTime,
                spec.studyDate.toLatin1() + timeText(acquisitionSeconds, fraction));
    }
    b.bytes(ds, DCM_InstanceNumber, "1");
    b.bytes(ds, DCM_AcquisitionNumber, "1");
    b.bytes(ds, DCM_PresentationLUTShape, "IDENTITY");
    b.bytes(ds, DCM_BurnedInAnnotation, "NO");
    b.bytes(ds, DCM_LossyImageCompression, "00");
    b.imagePixelModule(ds, spec.slices);

    const double spacing[2] = {spec.pixelSpacingRow, spec.pixelSpacingColumn};
    const QByteArray spacingText = dsList(spacing, 2);
    const QByteArray orientationText = dsList(spec.orientation.data(), 6);
    auto frameGeometry = [&](DcmItem &group) {
        if (DcmItem *measures = b.sequenceItem(group, DCM_PixelMeasuresSequence)) {
            if (spec.writeGeometry)
                b.bytes(*measures, DCM_PixelSpacing, spacingText);
            b.bytes(*measures, DCM_SliceThickness, dsText(spec.sliceThickness));
        }
        if (spec.writeGeometry)
            if (DcmItem *plane = b.sequenceItem(group, DCM_PlaneOrientationSequence))
                b.bytes(*plane, DCM_ImageOrientationPatient, orientationText);
    };

    if (DcmItem *shared = b.sequenceItem(ds, DCM_SharedFunctionalGroupsSequence)) {
        if (spec.enhancedLayout == EnhancedLayout::SharedGeometry)
            frameGeometry(*shared);
        if (DcmItem *pixelValue = b.sequenceItem(*shared, DCM_PixelValueTransformationSequence)) {
            b.bytes(*pixelValue, DCM_RescaleIntercept, dsText(spec.rescaleIntercept));
            b.bytes(*pixelValue, DCM_RescaleSlope, dsText(spec.rescaleSlope));
            b.bytes(*pixelValue, DCM_RescaleType, "HU");
        }
        if (!spec.windowCenter.isEmpty() && !spec.windowWidth.isEmpty())
            if (DcmItem *voi = b.sequenceItem(*shared, DCM_FrameVOILUTSequence)) {
                b.bytes(*voi, DCM_WindowCenter, spec.windowCenter.toLatin1());
                b.bytes(*voi, DCM_WindowWidth, spec.windowWidth.toLatin1());
            }
        if (DcmItem *frameType = b.sequenceItem(*shared, DCM_CTImageFrameTypeSequence))
            b.bytes(*frameType, DCM_FrameType, "ORIGINAL\\PRIMARY\\VOLUME\\NONE");
    }

    if (b.ok()) {
        // Built directly rather than through findOrCreateSequenceItem, which
        // walks the item list for every frame.
        auto perFrame = std::make_unique<DcmSequenceOfItems>(DCM_PerFrameFunctionalGroupsSequence);
        for (int f = 0; f < spec.slices && b.ok(); ++f) {
            auto item = std::make_unique<DcmItem>();
            if (DcmItem *content = b.sequenceItem(*item, DCM_FrameContentSequence)) {
                b.ul(*content, DCM_InStackPositionNumber, f + 1);
                b.bytes(*content, DCM_StackID, "1");
                if (spec.temporalPhaseSize > 0)
                    b.ul(*content, DCM_TemporalPositionIndex,
                         spec.temporalIndexBase + f / spec.temporalPhaseSize);
                if (timed)
                    b.bytes(*content, DCM_FrameAcquisitionDateTime,
                            spec.studyDate.toLatin1() + timeText(acquisitionSeconds + f, fraction));
            }
            if (spec.writeGeometry && spec.perFramePositions)
                if (DcmItem *plane = b.sequenceItem(*item, DCM_PlanePositionSequence)) {
                    const auto position = slicePosition(spec, f);
                    b.bytes(*plane, DCM_ImagePositionPatient, dsList(position.data(), 3));
                }
            if (spec.enhancedLayout == EnhancedLayout::PerFrameGeometry)
                frameGeometry(*item);
            if (b.ok()) {
                const OFCondition status = perFrame->append(item.get());
                if (status.good())
                    item.release();
                else
                    b.fail(QString::fromLatin1(status.text()));
            }
        }
        if (b.ok()) {
            const OFCondition status = ds.insert(perFrame.get(), true);
            if (status.good())
                perFrame.release();
            else
                b.fail(QString::fromLatin1(status.text()));
        }
    }
    b.pixelData(ds, 0, spec.slices);
    if (!b.ok() && error)
        *error = b.error();
    return b.ok();
}

// Raises one DCMTK logger's threshold for the lifetime of the guard. Used
// where DCMTK reports at info or warning level something this generator does
// on purpose, once per file: benchmarks writing thousands of files do not
// want the line each time. Failures still come back as conditions.
class QuietLogger
{
public:
    QuietLogger(const char *name, OFLogger::LogLevel threshold) : m_logger(OFLog::getLogger(name))
    {
        m_level = m_logger.getLogLevel();
        if (m_logger.getChainedLogLevel() < threshold)
            m_logger.setLogLevel(threshold);
    }
    ~QuietLogger() { m_logger.setLogLevel(m_level); }
    QuietLogger(const QuietLogger &) = delete;
    QuietLogger &operator=(const QuietLogger &) = delete;

private:
    OFLogger m_logger;
    dcmtk::log4cplus::LogLevel m_level;
};

bool compress(DcmFileFormat &file, Compression compression, QString *error)
{
    if (compression == Compression::None)
        return true;
    DcmDataset *ds = file.getDataset();
    const E_TransferSyntax xfer = transferSyntax(compression);
    // DCMTK 3.6.7's JPEG-LS encoder writes past its output buffer when a
    // frame's stream outgrows the frame (tiny frames: its headers alone do);
    // the heap it corrupts would make the tests that use such files flaky.
    if (compression == Compression::JpegLs) {
        Uint16 rows = 0, columns = 0, samples = 1;
        ds->findAndGetUint16(DCM_Rows, rows);
        ds->findAndGetUint16(DCM_Columns, columns);
        ds->findAndGetUint16(DCM_SamplesPerPixel, samples);
        if (static_cast<unsigned long>(rows) * columns * samples * 2 < 256) {
            if (error)
                *error = QStringLiteral("JPEG-LS needs frames of at least 256 bytes (DCMTK's encoder overruns its "
                                        "buffer on smaller ones): %1 x %2").arg(columns).arg(rows);
            return false;
        }
    }
    // Only lossless processes: tests compare decoded pixels exactly.
    std::unique_ptr<DcmRepresentationParameter> parameter;
    switch (compression) {
    case Compression::JpegLs: parameter = std::make_unique<DJLSRepresentationParameter>(0, OFTrue); break;
    case Compression::Rle: parameter = std::make_unique<DcmRLERepresentationParameter>(); break;
    case Compression::JpegLossless: parameter = std::make_unique<DJ_RPLossless>(1, 0); break;
    case Compression::None: break;
    }
    // The JPEG-LS encoder renders through dcmimgle, which announces for
    // every frame that it skips the modality transform.
    const QuietLogger quiet("dcmtk.dcmimgle", OFLogger::WARN_LOG_LEVEL);
    const OFCondition status = ds->chooseRepresentation(xfer, parameter.get());
    if (status.bad() || !ds->canWriteXfer(xfer)) {
        if (error)
            *error = QStringLiteral("pixel data cannot be converted to %1: %2")
                         .arg(QString::fromLatin1(DcmXfer(xfer).getXferName()),
                              status.bad() ? QString::fromLatin1(status.text())
                                           : QStringLiteral("no encoder accepted it"));
        return false;
    }
    return true;
}

bool save(DcmFileFormat &file, Compression compression, const QString &path,
          E_FileWriteMode writeMode, QString *error)
{
    const OFCondition status =
        file.saveFile(OFFilename(QFile::encodeName(path).constData()), transferSyntax(compression),
                      EET_ExplicitLength, EGL_recalcGL, EPD_noChange, 0, 0, writeMode);
    if (status.bad()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2")
                         .arg(path, QString::fromLatin1(status.text()));
        return false;
    }
    return true;
}

bool compressAndSave(DcmFileFormat &file, Compression compression, const QString &path,
                     QString *error)
{
    return compress(file, compression, error)
           && save(file, compression, path, EWM_createNewMeta, error);
}

// DCMTK fills a missing Media Storage SOP Instance UID with a fresh one when
// it builds the meta header. A file whose instance UID is meant to be absent
// must not carry a random one there, so the meta header is built here, the
// UID removed from it and the group length recomputed by hand.
bool saveWithoutInstanceUid(DcmFileFormat &file, Compression compression, const QString &path,
                            QString *error)
{
    if (!compress(file, compression, error))
        return false;
    OFCondition status = file.validateMetaInfo(transferSyntax(compression), EWM_createNewMeta);
    DcmMetaInfo *meta = file.getMetaInfo();
    if (status.good()) {
        delete meta->remove(DCM_MediaStorageSOPInstanceUID);
        Uint32 groupLength = 0;
        for (unsigned long i = 0; i < meta->card(); ++i) {
            DcmElement *element = meta->getElement(i);
            if (element->getTag() != DCM_FileMetaInformationGroupLength)
                groupLength += element->calcElementLength(EXS_LittleEndianExplicit,
                                                          EET_ExplicitLength);
        }
        status = meta->putAndInsertUint32(DCM_FileMetaInformationGroupLength, groupLength);
    }
    if (status.bad()) {
        if (error)
            *error = QStringLiteral("cannot build the meta header of %1: %2")
                         .arg(path, QString::fromLatin1(status.text()));
        return false;
    }
    // Writing a meta header as is draws a warning; here that is the point.
    const QuietLogger quiet("dcmtk.dcmdata", OFLogger::ERROR_LOG_LEVEL);
    return save(file, compression, path, EWM_dontUpdateMeta, error);
}

void fillUids(SeriesSpec &spec)
{
    if (spec.studyInstanceUid.isEmpty())
        spec.studyInstanceUid = generateUid(SITE_STUDY_UID_ROOT);
    if (spec.seriesInstanceUid.isEmpty())
        spec.seriesInstanceUid = generateUid(SITE_SERIES_UID_ROOT);
    if (spec.frameOfReferenceUid.isEmpty())
        spec.frameOfReferenceUid = generateUid(SITE_INSTANCE_UID_ROOT);
}

bool checkSpec(const SeriesSpec &spec, QString *error)
{
    QString problem;
    if (spec.slices < 1)
        problem = QStringLiteral("at least one slice is needed");
    else if (spec.rows < 1 || spec.columns < 1 || spec.rows > 65535 || spec.columns > 65535)
        problem = QStringLiteral("rows and columns must lie in 1..65535");
    else if (spec.bitsAllocated != 8 && spec.bitsAllocated != 16)
        problem = QStringLiteral("bits allocated must be 8 or 16");
    if (!problem.isEmpty() && error)
        *error = problem;
    return problem.isEmpty();
}

// Byte offset of the Pixel Data value in a file we wrote ourselves with
// explicit VR: nothing before it can hold the bytes E0 7F 10 00 followed by
// "OB" or "OW".
qint64 pixelDataValueOffset(const QByteArray &content)
{
    static const QByteArray tag("\xE0\x7F\x10\x00", 4);
    qsizetype from = 0;
    while (true) {
        const qsizetype pos = content.indexOf(tag, from);
        if (pos < 0 || pos + 12 > content.size())
            return -1;
        const QByteArray vr = content.mid(pos + 4, 2);
        if (vr == "OB" || vr == "OW")
            return pos + 12;
        from = pos + 1;
    }
}

} // namespace

int pixelValue(const SeriesSpec &spec, int slice, int row, int column)
{
    const Phantom phantom(spec);
    return phantom.value(phantom.slice(slice), row, column);
}

std::array<double, 3> vesselCurvePoint(const SeriesSpec &spec, double t)
{
    // Image-relative: across the columns, down the rows and through the
    // slices, kept clear of the borders by more than the radius.
    const double width = (std::max(spec.columns, 2) - 1) * spec.pixelSpacingColumn;
    const double height = (std::max(spec.rows, 2) - 1) * spec.pixelSpacingRow;
    const double depth = (std::max(spec.slices, 2) - 1) * spec.sliceSpacing;
    const double u = width * (0.5 + 0.25 * std::sin(1.5 * M_PI * t));
    const double v = height * (0.5 + 0.2 * std::cos(M_PI * t));
    const double w = depth * (0.12 + 0.76 * t);
    const auto n = sliceNormal(spec);
    std::array<double, 3> p{};
    for (int i = 0; i < 3; ++i)
        p[i] = spec.origin[i] + u * spec.orientation[i] + v * spec.orientation[3 + i] + w * n[i];
    return p;
}

std::vector<std::array<double, 3>> vesselCurve(const SeriesSpec &spec, int samples)
{
    const int n = std::max(samples, 1);
    std::vector<std::array<double, 3>> curve;
    curve.reserve(std::size_t(n) + 1);
    for (int k = 0; k <= n; ++k)
        curve.push_back(vesselCurvePoint(spec, double(k) / n));
    return curve;
}

double vesselRadiusAt(const SeriesSpec &spec, double arcMm)
{
    const VesselPhantom &v = spec.vessel;
    const double half = v.stenosisLengthMm * 0.5;
    const double d = arcMm - v.stenosisArcMm;
    if (!(half > 0.0) || std::fabs(d) >= half)
        return v.radiusMm;
    const double narrowing = v.stenosisReduction * 0.5 * (1.0 + std::cos(M_PI * d / half));
    return v.radiusMm * (1.0 - narrowing);
}

std::vector<int> slicePixelValues(const SeriesSpec &spec, int slice)
{
    return Phantom(spec).sliceValues(slice);
}

std::array<double, 3> slicePosition(const SeriesSpec &spec, int slice)
{
    const auto n = sliceNormal(spec);
    const double d = slice * spec.sliceSpacing;
    return {spec.origin[0] + d * n[0], spec.origin[1] + d * n[1], spec.origin[2] + d * n[2]};
}

QString sopInstanceUid(const SeriesSpec &spec, int slice)
{
    const bool multiFrame =
        spec.kind == Kind::ClassicMultiFrame || spec.kind == Kind::EnhancedMultiFrame;
    const int number = multiFrame ? 1 : slice + 1;
    // The suffix must fit 64 characters for the largest instance number of
    // the series, so that one series never mixes the two forms.
    const int largest = multiFrame ? 1 : std::max(spec.slices, number);
    const int digits = int(QString::number(largest).size());
    if (!spec.seriesInstanceUid.isEmpty() && spec.seriesInstanceUid.size() + 1 + digits <= 64)
        return spec.seriesInstanceUid + QLatin1Char('.') + QString::number(number);

    // Too long for a suffix: a UUID-derived UID (2.25 arc) from a hash of the
    // series UID and the number, still reproducible by tests.
    const QByteArray key = spec.seriesInstanceUid.toLatin1() + '/' + QByteArray::number(number);
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Md5);
    unsigned __int128 value = 0;
    for (const char byte : hash)
        value = (value << 8) | static_cast<unsigned char>(byte);
    QByteArray decimal;
    do {
        decimal.prepend(char('0' + int(value % 10)));
        value /= 10;
    } while (value != 0);
    return QStringLiteral("2.25.") + QString::fromLatin1(decimal);
}

bool writeSeries(SeriesSpec &spec, const QString &directory, QStringList *paths, QString *error)
{
    if (paths)
        paths->clear();
    if (!checkSpec(spec, error))
        return false;
    if (!QDir().mkpath(directory)) {
        if (error)
            *error = QStringLiteral("cannot create directory %1").arg(directory);
        return false;
    }
    fillUids(spec);

    std::unique_ptr<dicom::CodecRegistration> codecs;
    if (spec.compression != Compression::None)
        codecs = std::make_unique<dicom::CodecRegistration>();

    const Phantom phantom(spec);
    const QDir dir(directory);
    auto fileName = [&](int index) {
        return dir.filePath(QStringLiteral("IMG%1.dcm").arg(index + 1, 4, 10, QLatin1Char('0')));
    };

    if (spec.kind == Kind::CT || spec.kind == Kind::MR) {
        for (int s = 0; s < spec.slices; ++s) {
            DcmFileFormat file;
            const QString path = fileName(s);
            if (!buildSingleFrame(spec, phantom, spec.kind, s, *file.getDataset(), error)
                || !compressAndSave(file, spec.compression, path, error))
                return false;
            if (paths)
                paths->append(path);
        }
        return true;
    }

    DcmFileFormat file;
    const bool built = spec.kind == Kind::ClassicMultiFrame
                           ? buildClassicMultiFrame(spec, phantom, *file.getDataset(), error)
                           : buildEnhanced(spec, phantom, *file.getDataset(), error);
    const QString path = fileName(0);
    if (!built || !compressAndSave(file, spec.compression, path, error))
        return false;
    if (paths)
        paths->append(path);
    return true;
}

bool writeDamagedFile(SeriesSpec &spec, Damage damage, const QString &filePath, QString *error)
{
    if (!checkSpec(spec, error))
        return false;
    const QString parent = QFileInfo(filePath).absolutePath();
    if (!QDir().mkpath(parent)) {
        if (error)
            *error = QStringLiteral("cannot create directory %1").arg(parent);
        return false;
    }
    fillUids(spec);

    std::unique_ptr<dicom::CodecRegistration> codecs;
    if (spec.compression != Compression::None)
        codecs = std::make_unique<dicom::CodecRegistration>();

    // Always a single CT image, whatever kind the spec names: the damage is
    // the subject, and one well-known kind keeps readers' other paths out.
    SeriesSpec ct = spec;
    ct.kind = Kind::CT;
    const Phantom phantom(ct);
    DcmFileFormat file;
    DcmDataset *ds = file.getDataset();
    if (!buildSingleFrame(ct, phantom, Kind::CT, 0, *ds, error))
        return false;

    const QByteArray nativePath = QFile::encodeName(filePath);
    switch (damage) {
    case Damage::NoPreamble: {
        // Without a meta header nothing declares the transfer syntax, so the
        // dataset goes out the way such files occur in the wild: implicit
        // VR little endian, uncompressed.
        const OFCondition status = ds->saveFile(OFFilename(nativePath.constData()),
                                                EXS_LittleEndianImplicit, EET_ExplicitLength);
        if (status.bad()) {
            if (error)
                *error = QStringLiteral("cannot write %1: %2")
                             .arg(filePath, QString::fromLatin1(status.text()));
            return false;
        }
        return true;
    }
    case Damage::NoStudyUid:
        ds->findAndDeleteElement(DCM_StudyInstanceUID);
        break;
    case Damage::NoSeriesUid:
        ds->findAndDeleteElement(DCM_SeriesInstanceUID);
        break;
    case Damage::NoSopInstanceUid:
        ds->findAndDeleteElement(DCM_SOPInstanceUID);
        break;
    case Damage::TruncatedPixelData:
        break;
    }
    const bool saved = damage == Damage::NoSopInstanceUid
                           ? saveWithoutInstanceUid(file, spec.compression, filePath, error)
                           : compressAndSave(file, spec.compression, filePath, error);
    if (!saved)
        return false;
    if (damage != Damage::TruncatedPixelData)
        return true;

    QFile out(filePath);
    if (!out.open(QIODevice::ReadWrite)) {
        if (error)
            *error = QStringLiteral("cannot reopen %1: %2").arg(filePath, out.errorString());
        return false;
    }
    const QByteArray content = out.readAll();
    const qint64 valueStart = pixelDataValueOffset(content);
    if (valueStart < 0 || valueStart >= content.size()) {
        if (error)
            *error = QStringLiteral("no pixel data found in %1").arg(filePath);
        return false;
    }
    // Pixel Data is the last element, so its value runs to the end of file;
    // cutting half of it leaves the header intact and the value short.
    const qint64 cut = valueStart + (content.size() - valueStart) / 2;
    if (!out.resize(cut)) {
        if (error)
            *error = QStringLiteral("cannot truncate %1: %2").arg(filePath, out.errorString());
        return false;
    }
    return true;
}

} // namespace velmaris::gen
