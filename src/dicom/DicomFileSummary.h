#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

#include <array>

namespace dicom {

// The indexing attributes of one DICOM file. Fields with a column in the study
// index carry that column's name, so the mapping to the index stays obvious.
struct DicomFileSummary
{
    QString patient_id;
    QString patient_name;
    QString birth_date;
    QString sex;
    double weight_kg = 0.0;
    double height_cm = 0.0;

    QString study_instance_uid;
    QString study_date;
    QString study_time;
    QString study_description;
    QString accession_number;
    QString referring_physician;

    QString series_instance_uid;
    QString series_number;
    QString series_description;
    QString modality;
    QString body_part_examined;
    QString laterality;

    QString sop_instance_uid;
    qint32 instance_number = 0;
    qint32 rows = 0;
    qint32 columns = 0;
    qint32 number_of_frames = 1;
    double pixel_spacing_x = 0.0; // column spacing
    double pixel_spacing_y = 0.0; // row spacing
    double slice_thickness = 0.0;
    double slice_location = 0.0;
    double window_center = 0.0;
    double window_width = 0.0;
    double rescale_slope = 1.0;
    double rescale_intercept = 0.0;
    double repetition_time = 0.0;
    double echo_time = 0.0;
    double trigger_time_ms = -1.0;
    qint32 cardiac_number_of_images = 0;
    double acquisition_time_seconds = -1.0;
    qint32 temporal_position_index = 0;
    QString frame_of_reference_uid;

    std::array<double, 3> image_position{0.0, 0.0, 0.0};
    // Row direction x, y, z, then column direction x, y, z.
    std::array<double, 6> image_orientation{0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    bool has_spatial_info = false;

    // Enhanced multi-frame objects: one entry per per-frame item with a usable
    // position (the four lists have equal length) ...
    QVector<double> per_frame_slice_positions;
    QVector<double> per_frame_position_x;
    QVector<double> per_frame_position_y;
    QVector<double> per_frame_position_z;
    // ... and one entry per per-frame item, so this list may be longer.
    QVector<qint32> per_frame_temporal_indices;

    QString file_path; // absolute

    bool operator==(const DicomFileSummary &) const = default;
};

// Makes the summary usable in queued signals under the name
// "dicom::DicomFileSummary". Safe to call more than once.
void registerSummaryMetaType();

} // namespace dicom

Q_DECLARE_METATYPE(dicom::DicomFileSummary)
