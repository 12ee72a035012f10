#include "dicom/DicomSummaryReader.h"

#include "DcmtkSupport.h"
#include "dicom/DicomText.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <vector>

namespace dicom {

using detail::doubleParts;
using detail::firstItem;
using detail::integer;
using detail::number;
using detail::text;

namespace {

const QSet<QString> &lateralityWords()
{
    // Function-local static: construction is thread-safe.
    static const QSet<QString> words{QStringLiteral("L"), QStringLiteral("R"),
                                     QStringLiteral("LEFT"), QStringLiteral("RIGHT")};
    return words;
}

// The data set's own elements in one walk over them: the summary reads some
// forty, and DcmItem would walk its list from the start to find each one.
class TopLevelElements
{
public:
    explicit TopLevelElements(DcmItem &item)
    {
        m_elements.reserve(item.card());
        for (DcmObject *object = item.nextInContainer(nullptr); object != nullptr;
             object = item.nextInContainer(object))
            m_elements.push_back(static_cast<DcmElement *>(object));
        // DCMTK keeps them in tag order; the first of equal tags is the one
        // a search finds.
        std::stable_sort(m_elements.begin(), m_elements.end(),
                         [](const DcmElement *a, const DcmElement *b) { return a->getTag() < b->getTag(); });
    }

    // The first element with the tag, or null.
    DcmElement *operator()(const DcmTagKey &tag) const
    {
        const auto it = std::lower_bound(m_elements.begin(), m_elements.end(), tag,
                                         [](const DcmElement *e, const DcmTagKey &key) { return e->getTag() < key; });
        return it != m_elements.end() && (*it)->getTag() == tag ? *it : nullptr;
    }

private:
    std::vector<DcmElement *> m_elements;
};

bool spacingMissing(const DicomFileSummary &s)
{
    return s.pixel_spacing_x <= 0.0 || s.pixel_spacing_y <= 0.0;
}

void takeSpacing(DicomFileSummary &s, DcmElement *pixelSpacing)
{
    if (const auto spacing = doubleParts(pixelSpacing, 2)) {
        s.pixel_spacing_y = spacing->at(0); // row spacing comes first
        s.pixel_spacing_x = spacing->at(1);
    }
}

bool takeOrientation(DicomFileSummary &s, DcmElement *imageOrientation)
{
    const auto orientation = doubleParts(imageOrientation, 6);
    if (!orientation)
        return false;
    for (int i = 0; i < 6; ++i)
        s.image_orientation[static_cast<std::size_t>(i)] = orientation->at(i);
    return true;
}

// Spacing and thickness from a Pixel Measures item, orientation from a Plane
// Orientation item of one functional group item.
void fillFromFunctionalGroup(DicomFileSummary &s, DcmItem &group, bool &orientationKnown)
{
    if (DcmItem *measures = firstItem(group, DCM_PixelMeasuresSequence)) {
        if (spacingMissing(s))
            takeSpacing(s, detail::findElement(*measures, DCM_PixelSpacing));
        if (s.slice_thickness <= 0.0) {
            if (const auto thickness = number(*measures, DCM_SliceThickness))
                s.slice_thickness = *thickness;
        }
    }
    if (!orientationKnown) {
        if (DcmItem *plane = firstItem(group, DCM_PlaneOrientationSequence))
            orientationKnown = takeOrientation(s, detail::findElement(*plane, DCM_ImageOrientationPatient));
    }
}

void readEnhancedGeometry(DicomFileSummary &s, DcmDataset &dataset, bool &orientationKnown)
{
    if (spacingMissing(s) || !orientationKnown) {
        if (DcmItem *shared = firstItem(dataset, DCM_SharedFunctionalGroupsSequence))
            fillFromFunctionalGroup(s, *shared, orientationKnown);
    }

    DcmSequenceOfItems *perFrame = nullptr;
    if (dataset.findAndGetSequence(DCM_PerFrameFunctionalGroupsSequence, perFrame).bad()
        || perFrame == nullptr) {
        return;
    }
    const unsigned long itemCount = perFrame->card();
    if ((spacingMissing(s) || s.slice_thickness <= 0.0 || !orientationKnown) && itemCount > 0)
        fillFromFunctionalGroup(s, *perFrame->getItem(0), orientationKnown);

    bool haveNormal = false;
    double normal[3] = {0.0, 0.0, 0.0};
    if (orientationKnown) {
        const auto &o = s.image_orientation;
        const double rowLength = o[0] * o[0] + o[1] * o[1] + o[2] * o[2];
        const double columnLength = o[3] * o[3] + o[4] * o[4] + o[5] * o[5];
        if (rowLength > 1e-6 && columnLength > 1e-6) {
            normal[0] = o[1] * o[5] - o[2] * o[4];
            normal[1] = o[2] * o[3] - o[0] * o[5];
            normal[2] = o[0] * o[4] - o[1] * o[3];
            const double length = normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2];
            if (length > 1e-6) {
                const double norm = std::sqrt(length);
                for (double &n : normal)
                    n /= norm;
                haveNormal = true;
            }
        }
    }

    s.per_frame_temporal_indices.reserve(static_cast<qsizetype>(itemCount));
    for (unsigned long i = 0; i < itemCount; ++i) {
        DcmItem *frame = perFrame->getItem(i);
        if (frame == nullptr)
            continue;
        qint32 temporal = 0;
        if (DcmItem *content = firstItem(*frame, DCM_FrameContentSequence))
            temporal = integer(*content, DCM_TemporalPositionIndex).value_or(0);
        s.per_frame_temporal_indices.append(temporal);

        DcmItem *plane = firstItem(*frame, DCM_PlanePositionSequence);
        if (plane == nullptr)
            continue;
        const auto position = doubleParts(*plane, DCM_ImagePositionPatient, 3);
        if (!position)
            continue;
        const double x = position->at(0), y = position->at(1), z = position->at(2);
        s.per_frame_position_x.append(x);
        s.per_frame_position_y.append(y);
        s.per_frame_position_z.append(z);
        s.per_frame_slice_positions.append(
            haveNormal ? x * normal[0] + y * normal[1] + z * normal[2] : z);
    }
}

std::optional<DicomFileSummary> summarise(DcmDataset &ds, const QString &filePath)
{
    DicomFileSummary s;
    const TopLevelElements at(ds);
    s.patient_id = text(at(DCM_PatientID));
    s.patient_name = text(at(DCM_PatientName));
    s.birth_date = text(at(DCM_PatientBirthDate));
    s.sex = text(at(DCM_PatientSex));
    s.weight_kg = number(at(DCM_PatientWeight)).value_or(0.0);
    if (const auto size = number(at(DCM_PatientSize)); size && *size > 0.0)
        s.height_cm = *size <= 3.0 ? *size * 100.0 : *size; // metres, unless clearly cm

    s.study_instance_uid = text(at(DCM_StudyInstanceUID));
    s.study_date = text(at(DCM_StudyDate));
    s.study_time = text(at(DCM_StudyTime));
    s.study_description = text(at(DCM_StudyDescription));
    s.accession_number = text(at(DCM_AccessionNumber));
    s.referring_physician = text(at(DCM_ReferringPhysicianName));

    s.series_instance_uid = text(at(DCM_SeriesInstanceUID));
    s.series_number = text(at(DCM_SeriesNumber));
    s.series_description = text(at(DCM_SeriesDescription));
    s.modality = text(at(DCM_Modality));
    s.body_part_examined = text(at(DCM_BodyPartExamined));
    s.laterality = text(at(DCM_Laterality));
    if (s.laterality.isEmpty())
        s.laterality = text(at(DCM_ImageLaterality));
    if (s.laterality.isEmpty()) {
        const QString comment = text(at(DCM_ImageComments)).toUpper();
        if (lateralityWords().contains(comment))
            s.laterality = comment;
    }

    s.sop_instance_uid = text(at(DCM_SOPInstanceUID));
    s.instance_number = integer(at(DCM_InstanceNumber)).value_or(0);
    s.rows = integer(at(DCM_Rows)).value_or(0);
    s.columns = integer(at(DCM_Columns)).value_or(0);
    s.number_of_frames = integer(at(DCM_NumberOfFrames)).value_or(1);
    takeSpacing(s, at(DCM_PixelSpacing));
    s.slice_thickness = number(at(DCM_SliceThickness)).value_or(0.0);
    s.slice_location = number(at(DCM_SliceLocation)).value_or(0.0);
    s.window_center = number(at(DCM_WindowCenter)).value_or(0.0);
    s.window_width = number(at(DCM_WindowWidth)).value_or(0.0);
    s.rescale_slope = number(at(DCM_RescaleSlope)).value_or(1.0);
    s.rescale_intercept = number(at(DCM_RescaleIntercept)).value_or(0.0);
    s.repetition_time = number(at(DCM_RepetitionTime)).value_or(0.0);
    s.echo_time = number(at(DCM_EchoTime)).value_or(0.0);
    s.trigger_time_ms = number(at(DCM_TriggerTime)).value_or(-1.0);
    s.cardiac_number_of_images = integer(at(DCM_CardiacNumberOfImages)).value_or(0);
    if (auto t = parseDicomTime(text(at(DCM_AcquisitionTime))))
        s.acquisition_time_seconds = *t;
    else if (auto c = parseDicomTime(text(at(DCM_ContentTime))))
        s.acquisition_time_seconds = *c;
    s.temporal_position_index = integer(at(DCM_TemporalPositionIndex)).value_or(0);
    s.frame_of_reference_uid = text(at(DCM_FrameOfReferenceUID));

    bool positionFound = false;
    if (const auto position = doubleParts(at(DCM_ImagePositionPatient), 3)) {
        for (int i = 0; i < 3; ++i)
            s.image_position[static_cast<std::size_t>(i)] = position->at(i);
        positionFound = true;
    }
    bool orientationKnown = takeOrientation(s, at(DCM_ImageOrientationPatient));

    if (s.number_of_frames >= 2)
        readEnhancedGeometry(s, ds, orientationKnown);

    s.has_spatial_info = orientationKnown && (!s.per_frame_position_x.isEmpty() || positionFound);
    s.file_path = QFileInfo(filePath).absoluteFilePath();

    if (s.study_instance_uid.isEmpty() || s.series_instance_uid.isEmpty()
        || s.sop_instance_uid.isEmpty()) {
        return std::nullopt;
    }
    return s;
}

std::optional<DicomFileSummary> readWith(const QString &filePath, detail::LoadMode mode)
{
    const auto file = detail::loadFile(filePath, mode);
    if (!file || file->getDataset() == nullptr)
        return std::nullopt;
    return summarise(*file->getDataset(), filePath);
}

} // namespace

std::optional<DicomFileSummary> readSummary(const QString &filePath)
{
    // Large values (pixel data above all) are skipped rather than read: the
    // parser still checks every element against the file's length, so the
    // result is the same as with the whole file in memory.
    return readWith(filePath, detail::LoadMode::Lazy);
}

std::optional<DicomFileSummary> readSummaryFullLoad(const QString &filePath)
{
    return readWith(filePath, detail::LoadMode::Whole);
}

bool isDicomFile(const QString &filePath)
{
    if (detail::isSpecialFile(filePath))
        return false;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    char header[132];
    if (file.read(header, sizeof header) != static_cast<qint64>(sizeof header))
        return false;
    return header[128] == 'D' && header[129] == 'I' && header[130] == 'C' && header[131] == 'M';
}

} // namespace dicom
