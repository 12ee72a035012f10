#pragma once

#include <QString>

namespace db {

// One instances row (one displayable frame) as the viewer uses it.
struct SliceRef
{
    QString file_path;
    qint32 instance_number = 0;
    qint32 frame_index = 0;
    double pixel_spacing_x = 0.0;
    double pixel_spacing_y = 0.0;
    double slice_thickness = 0.0;
    double slice_location = 0.0;
    double repetition_time = 0.0;
    double echo_time = 0.0;
    double image_position_x = 0.0;
    double image_position_y = 0.0;
    double image_position_z = 0.0;
    double orientation_row_x = 0.0;
    double orientation_row_y = 0.0;
    double orientation_row_z = 0.0;
    double orientation_col_x = 0.0;
    double orientation_col_y = 0.0;
    double orientation_col_z = 0.0;
    bool has_spatial_info = false;
    double acquisition_time_seconds = -1.0; // -1 when not stored
    qint32 temporal_position_index = 0;
    QString frame_of_reference_uid;
    double trigger_time_ms = -1.0;          // -1 when not stored
    qint32 cardiac_number_of_images = 0;

    bool operator==(const SliceRef &) const = default;
};

} // namespace db
