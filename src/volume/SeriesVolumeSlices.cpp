#include "volume/SeriesVolumeSlices.h"

#include "viewer/SlicePlane.h"

#include <algorithm>

namespace render {

QList<VolumeSlice> seriesVolumeSlices(const QList<db::SliceRef> &rows, SliceOrientationUse use)
{
    std::optional<SlicePlane> plane;
    const bool allSpatial = !rows.isEmpty() && std::all_of(rows.cbegin(), rows.cend(), [](const db::SliceRef &r) {
        return r.has_spatial_info;
    });
    if (allSpatial)
        plane = slicePlane(sliceGeometry(rows.first()));

    QList<VolumeSlice> slices;
    slices.reserve(rows.size());
    for (const db::SliceRef &row : rows) {
        VolumeSlice slice;
        slice.path = row.file_path;
        slice.frameIndex = row.frame_index;
        slice.pixelSpacingX = row.pixel_spacing_x;
        slice.pixelSpacingY = row.pixel_spacing_y;
        slice.sliceThickness = row.slice_thickness;
        slice.position = row.slice_location;
        if (use == SliceOrientationUse::Keep && row.has_spatial_info) {
            slice.rowDirection = {row.orientation_row_x, row.orientation_row_y, row.orientation_row_z};
            slice.columnDirection = {row.orientation_col_x, row.orientation_col_y, row.orientation_col_z};
            slice.hasOrientation = true;
        }
        if (plane) {
            slice.imagePosition = {row.image_position_x, row.image_position_y, row.image_position_z};
            slice.position = dotProduct(plane->normal, slice.imagePosition);
            slice.hasPosition = true;
        }
        slices.append(slice);
    }
    return slices;
}

} // namespace render
