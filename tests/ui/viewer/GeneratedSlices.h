#pragma once

#include "db/SliceRef.h"
#include "seriesgen/SeriesGenerator.h"

#include <QList>
#include <QStringList>

namespace velmaris::testing {

// A series of `slices` slices (frames, for the multi-frame kinds) of rows × columns; the rest as the generator's defaults.
inline velmaris::gen::SeriesSpec seriesSpec(int slices, int rows = 64, int columns = 64,
                                            velmaris::gen::Kind kind = velmaris::gen::Kind::CT)
{
    velmaris::gen::SeriesSpec spec;
    spec.kind = kind;
    spec.slices = slices;
    spec.rows = rows;
    spec.columns = columns;
    return spec;
}

// The rows the study database would hand to the viewer for a generated
// series: paths in slice order, geometry as the generator wrote it.
inline QList<db::SliceRef> slicesFor(const velmaris::gen::SeriesSpec &series, const QStringList &paths)
{
    QList<db::SliceRef> slices;
    for (int i = 0; i < paths.size(); ++i) {
        db::SliceRef slice;
        slice.file_path = paths.at(i);
        slice.instance_number = i + 1;
        slice.pixel_spacing_x = series.pixelSpacingColumn;
        slice.pixel_spacing_y = series.pixelSpacingRow;
        slice.has_spatial_info = series.writeGeometry;
        if (series.writeGeometry) {
            const auto position = velmaris::gen::slicePosition(series, i);
            slice.image_position_x = position[0];
            slice.image_position_y = position[1];
            slice.image_position_z = position[2];
            slice.orientation_row_x = series.orientation[0];
            slice.orientation_row_y = series.orientation[1];
            slice.orientation_row_z = series.orientation[2];
            slice.orientation_col_x = series.orientation[3];
            slice.orientation_col_y = series.orientation[4];
            slice.orientation_col_z = series.orientation[5];
            slice.frame_of_reference_uid = series.frameOfReferenceUid;
        }
        slices.append(slice);
    }
    return slices;
}

// Slice rows without geometry, as an index that never read it holds them;
// pixels `spacing` mm square.
inline QList<db::SliceRef> flatSlices(const QStringList &paths, double spacing = 0.7)
{
    QList<db::SliceRef> slices;
    for (int i = 0; i < paths.size(); ++i) {
        db::SliceRef slice;
        slice.file_path = paths.at(i);
        slice.instance_number = i + 1;
        slice.pixel_spacing_x = slice.pixel_spacing_y = spacing;
        slices.append(slice);
    }
    return slices;
}

// Writes the series into `folder` (its UIDs come back in `series`) and returns
// its rows; empty, with a warning, when the files cannot be written.
inline QList<db::SliceRef> writeSlices(velmaris::gen::SeriesSpec &series, const QString &folder)
{
    QStringList paths;
    QString error;
    if (!velmaris::gen::writeSeries(series, folder, &paths, &error))
        qWarning("%s", qPrintable(error));
    return paths.isEmpty() ? QList<db::SliceRef>() : slicesFor(series, paths);
}

} // namespace velmaris::testing
