#pragma once

#include "db/SliceRef.h"
#include "viewer/SliceGeometry.h"

#include <QList>
#include <QPointF>
#include <QString>

#include <array>
#include <optional>

// Moving between a slice's image pixels and patient space, the geometry that
// every panel link (reference lines, 3D cursor, vertebra labels) rests on.
// Pixel (x, y) lies at position + x·spacingX·row + y·spacingY·column; a
// spacing that is not positive counts as one millimetre per pixel, as the
// panel's own picking does.
namespace render {

using PatientPoint = std::array<double, 3>; // millimetres

inline double dotProduct(const PatientPoint &a, const PatientPoint &b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

inline PatientPoint crossProduct(const PatientPoint &a, const PatientPoint &b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// The geometry a stored slice row carries.
SliceGeometry sliceGeometry(const db::SliceRef &slice);

// The patient point under an image pixel; none without spatial data.
std::optional<PatientPoint> pixelToPatient(const SliceGeometry &slice, const QPointF &imagePixel);

// The image pixel onto which a patient point projects along the slice
// normal; none without spatial data or with a degenerate row/column pair.
std::optional<QPointF> patientToPixel(const SliceGeometry &slice, const PatientPoint &point);

// row × column, not normalised; none without spatial data.
std::optional<PatientPoint> sliceNormal(const SliceGeometry &slice);

// The plane through the slice's position with the unit normal row × column.
struct SlicePlane
{
    PatientPoint origin{0.0, 0.0, 0.0};
    PatientPoint normal{0.0, 0.0, 1.0}; // unit length
};

// None without spatial data or when row × column is (nearly) zero.
std::optional<SlicePlane> slicePlane(const SliceGeometry &slice);

// Unsigned distance in millimetres from the point to the plane.
double distanceToPlane(const SlicePlane &plane, const PatientPoint &point);

// Where the slice lies along its own unit normal: n · position in
// millimetres, the value Slice Location is meant to carry. None without
// spatial data or when row × column is (nearly) zero.
std::optional<double> positionAlongNormal(const SliceGeometry &slice);

// The slice of `series` whose position along `normal` lies nearest to that of
// `point` (the first on ties); slices without spatial data are passed over.
// The normal need not be unit length. None when no slice has spatial data.
std::optional<int> nearestSliceAlong(const QList<SliceGeometry> &series, const PatientPoint &normal,
                                     const PatientPoint &point);

// The letter of the patient direction a vector points to most ("L"/"R",
// "P"/"A", "S"/"I"; +x is the patient's left, +y the back, +z the head);
// empty for a (nearly) zero vector.
QString patientDirectionLetter(const PatientPoint &direction);

} // namespace render
