#include "dicom/DicomSummaryReader.h"

#include "dicom/DcmtkSupport.h"
#include "dicom/DicomText.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cmath>

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

bool spacingMissing(const DicomFileSummary &s)
{
    return s.pixel_spacing_x <= 0.0 || s.pixel_spacing_y <= 0.0;
}

void takeSpacing(DicomFileSummary &s, DcmItem &item)
{
    if (const auto spacing = doubleParts(item, DCM_PixelSpacing, 2)) {
        s.pixel_spacing_y = spacing->at(0); // row spacing comes first
        s.pixel_spacing_x = spacing->at(1);
    }
}

bool takeOrientation(DicomFileSummary &s, DcmItem &item)
{
    const auto orientation = doubleParts(item, DCM_ImageOrientationPatient, 6);
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
            takeSpacing(s, *measures);
        if (s.slice_thickness <= 0.0) {
            if (const auto thickness = number(*measures, DCM_SliceThickness))
                s.slice_thickness = *thickness;
        }
    }
    if (!orientationKnown) {
        if (DcmItem *plane = firstItem(group, DCM_PlaneOrientationSequence))
            orientationKnown = takeOrientation(s, *plane);
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
    s.patient_id = text(ds, DCM_PatientID);
    s.patient_name = text(ds, DCM_PatientName);
    s.birth_date = text(ds, DCM_PatientBirthDate);
    s.sex = text(ds, DCM_PatientSex);
    s.weight_kg = number(ds, DCM_PatientWeight).value_or(0.0);
    if (const auto size = number(ds, DCM_PatientSize); size && *size > 0.0)
        s.height_cm = *size <= 3.0 ? *size * 100.0 : *size; // metres, unless clearly cm

    s.study_instance_uid = text(ds, DCM_StudyInstanceUID);
    s.study_date = text(ds, DCM_StudyDate);
    s.study_time = text(ds, DCM_StudyTime);
    s.study_description = text(ds, DCM_StudyDescription);
    s.accession_number = text(ds, DCM_AccessionNumber);
    s.referring_physician = text(ds, DCM_ReferringPhysicianName);

    s.series_instance_uid = text(ds, DCM_SeriesInstanceUID);
    s.series_number = text(ds, DCM_SeriesNumber);
    s.series_description = text(ds, DCM_SeriesDescription);
    s.modality = text(ds, DCM_Modality);
    s.body_part_examined = text(ds, DCM_BodyPartExamined);
    s.laterality = text(ds, DCM_Laterality);
    if (s.laterality.isEmpty())
        s.laterality = text(ds, DCM_ImageLaterality);
    if (s.laterality.isEmpty()) {
        const QString comment = text(ds, DCM_ImageComments).toUpper();
        if (lateralityWords().contains(comment))
            s.laterality = comment;
    }

    s.sop_instance_uid = text(ds, DCM_SOPInstanceUID);
    s.instance_number = integer(ds, DCM_InstanceNumber).value_or(0);
    s.rows = integer(ds, DCM_Rows).value_or(0);
    s.columns = integer(ds, DCM_Columns).value_or(0);
    s.number_of_frames = integer(ds, DCM_NumberOfFrames).value_or(1);
    takeSpacing(s, ds);
    s.slice_thickness = number(ds, DCM_SliceThickness).value_or(0.0);
    s.slice_location = number(ds, DCM_SliceLocation).value_or(0.0);
    s.window_center = number(ds, DCM_WindowCenter).value_or(0.0);
    s.window_width = number(ds, DCM_WindowWidth).value_or(0.0);
    s.rescale_slope = number(ds, DCM_RescaleSlope).value_or(1.0);
    s.rescale_intercept = number(ds, DCM_RescaleIntercept).value_or(0.0);
    s.repetition_time = number(ds, DCM_RepetitionTime).value_or(0.0);
    s.echo_time = number(ds, DCM_EchoTime).value_or(0.0);
    s.trigger_time_ms = number(ds, DCM_TriggerTime).value_or(-1.0);
    s.cardiac_number_of_images = integer(ds, DCM_CardiacNumberOfImages).value_or(0);
    if (auto t = parseDicomTime(text(ds, DCM_AcquisitionTime)))
        s.acquisition_time_seconds = *t;
    else if (auto c = parseDicomTime(text(ds, DCM_ContentTime)))
        s.acquisition_time_seconds = *c;
    s.temporal_position_index = integer(ds, DCM_TemporalPositionIndex).value_or(0);
    s.frame_of_reference_uid = text(ds, DCM_FrameOfReferenceUID);

    bool positionFound = false;
    if (const auto position = doubleParts(ds, DCM_ImagePositionPatient, 3)) {
        for (int i = 0; i < 3; ++i)
            s.image_position[static_cast<std::size_t>(i)] = position->at(i);
        positionFound = true;
    }
    bool orientationKnown = takeOrientation(s, ds);

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
