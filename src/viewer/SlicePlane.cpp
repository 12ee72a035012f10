#include "viewer/SlicePlane.h"

#include <cmath>

namespace render {

namespace {

double positiveOrOne(double spacing)
{
    return spacing > 0.0 ? spacing : 1.0;
}

// Below this squared length a cross product carries no usable direction.
constexpr double degenerateSquaredLength = 1e-12;

} // namespace

SliceGeometry sliceGeometry(const db::SliceRef &slice)
{
    SliceGeometry geometry;
    geometry.position = {slice.image_position_x, slice.image_position_y, slice.image_position_z};
    geometry.rowDirection = {slice.orientation_row_x, slice.orientation_row_y, slice.orientation_row_z};
    geometry.columnDirection = {slice.orientation_col_x, slice.orientation_col_y, slice.orientation_col_z};
    geometry.pixelSpacingX = slice.pixel_spacing_x;
    geometry.pixelSpacingY = slice.pixel_spacing_y;
    geometry.hasSpatialInfo = slice.has_spatial_info;
    return geometry;
}

std::optional<PatientPoint> pixelToPatient(const SliceGeometry &slice, const QPointF &imagePixel)
{
    if (!slice.hasSpatialInfo)
        return std::nullopt;
    const double u = imagePixel.x() * positiveOrOne(slice.pixelSpacingX);
    const double v = imagePixel.y() * positiveOrOne(slice.pixelSpacingY);
    PatientPoint point{};
    for (int i = 0; i < 3; ++i)
        point[i] = slice.position[i] + u * slice.rowDirection[i] + v * slice.columnDirection[i];
    return point;
}

std::optional<QPointF> patientToPixel(const SliceGeometry &slice, const PatientPoint &point)
{
    if (!slice.hasSpatialInfo)
        return std::nullopt;
    const PatientPoint &row = slice.rowDirection;
    const PatientPoint &column = slice.columnDirection;
    const PatientPoint offset{point[0] - slice.position[0], point[1] - slice.position[1],
                              point[2] - slice.position[2]};
    // Solving in the row/column basis (Gram matrix) rather than plain dot
    // products keeps the inverse exact for directions that are not quite
    // unit length or orthogonal.
    const double rr = dotProduct(row, row), rc = dotProduct(row, column), cc = dotProduct(column, column);
    const double det = rr * cc - rc * rc;
    if (std::abs(det) < degenerateSquaredLength)
        return std::nullopt;
    const double ro = dotProduct(row, offset), co = dotProduct(column, offset);
    const double u = (cc * ro - rc * co) / det;
    const double v = (rr * co - rc * ro) / det;
    return QPointF(u / positiveOrOne(slice.pixelSpacingX), v / positiveOrOne(slice.pixelSpacingY));
}

std::optional<PatientPoint> sliceNormal(const SliceGeometry &slice)
{
    if (!slice.hasSpatialInfo)
        return std::nullopt;
    return crossProduct(slice.rowDirection, slice.columnDirection);
}

std::optional<SlicePlane> slicePlane(const SliceGeometry &slice)
{
    const std::optional<PatientPoint> normal = sliceNormal(slice);
    if (!normal)
        return std::nullopt;
    const double length = std::sqrt(dotProduct(*normal, *normal));
    if (length * length < degenerateSquaredLength)
        return std::nullopt;
    return SlicePlane{slice.position, {(*normal)[0] / length, (*normal)[1] / length, (*normal)[2] / length}};
}

double distanceToPlane(const SlicePlane &plane, const PatientPoint &point)
{
    const PatientPoint offset{point[0] - plane.origin[0], point[1] - plane.origin[1], point[2] - plane.origin[2]};
    return std::abs(dotProduct(plane.normal, offset));
}

std::optional<double> positionAlongNormal(const SliceGeometry &slice)
{
    const std::optional<SlicePlane> plane = slicePlane(slice);
    if (!plane)
        return std::nullopt;
    return dotProduct(plane->normal, plane->origin);
}

std::optional<int> nearestSliceAlong(const QList<SliceGeometry> &series, const PatientPoint &normal,
                                     const PatientPoint &point)
{
    const double pointLevel = dotProduct(normal, point);
    int best = -1;
    double bestDistance = 0.0;
    for (int i = 0; i < series.size(); ++i) {
        if (!series.at(i).hasSpatialInfo)
            continue;
        const double distance = std::abs(dotProduct(normal, series.at(i).position) - pointLevel);
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    if (best < 0)
        return std::nullopt;
    return best;
}

QString patientDirectionLetter(const PatientPoint &direction)
{
    const double ax = std::abs(direction[0]), ay = std::abs(direction[1]), az = std::abs(direction[2]);
    if (ax < 1e-6 && ay < 1e-6 && az < 1e-6)
        return QString();
    if (ax >= ay && ax >= az)
        return direction[0] > 0 ? QStringLiteral("L") : QStringLiteral("R");
    if (ay >= az)
        return direction[1] > 0 ? QStringLiteral("P") : QStringLiteral("A");
    return direction[2] > 0 ? QStringLiteral("S") : QStringLiteral("I");
}

} // namespace render
