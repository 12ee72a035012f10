#pragma once

#include <array>
#include <vector>

// The centre line of a curved reconstruction: a cardinal spline through the
// control points, resampled at equal arc-length steps, with a
// rotation-minimising frame carried along it. Points are in volume
// millimetres (voxel index × spacing), the frame the volume's axes follow.
namespace render {

using Vec3d = std::array<double, 3>;

// Dense points per spline segment; the last segment adds its end point.
inline constexpr int centerlineDenseStepsPerSegment = 40;

// The most centre-line samples one line may have: a step far below the
// line's length would otherwise ask for a giant image.
inline constexpr int centerlineMaxSamples = 16384;

struct Centerline
{
    std::vector<Vec3d> positions; // one per column of the CPR, step apart
    std::vector<Vec3d> tangents;  // unit
    std::vector<Vec3d> normals;   // unit, across the image (rows)
    std::vector<Vec3d> binormals; // unit, tangent × normal (slab direction)
    double stepMm = 0.0;
    double lengthMm = 0.0; // arc length of the dense polyline

    bool isEmpty() const { return positions.empty(); }
    int size() const { return int(positions.size()); }
};

// The dense polyline: 40 Hermite points per segment (t = k / 40, k = 0 … 39,
// and k = 40 on the last segment) with tangents (P[i+1] − P[i−1]) ×
// (1 − tension) / 2, indices clamped at the ends. Fewer than two points give
// the points themselves.
std::vector<Vec3d> cardinalSplineDense(const std::vector<Vec3d> &controlPoints, double tension);

// The control points with consecutive duplicates (closer than 1e-6 mm) and
// non-finite points left out: a zero-length segment has no direction.
std::vector<Vec3d> distinctControlPoints(const std::vector<Vec3d> &controlPoints);

// The full centre line. Empty when fewer than two distinct finite points
// remain, the step is not positive or finite, the tension is not finite, or
// the line would need more than centerlineMaxSamples samples (`tooLong` is
// then set when given).
Centerline buildCenterline(const std::vector<Vec3d> &controlPoints, double tension, double stepMm,
                           double rotationDeg, bool *tooLong = nullptr);

// Control points moved by the axis offset: y + offset when |offset| ≥ 1e-9.
std::vector<Vec3d> offsetControlPoints(const std::vector<Vec3d> &controlPoints, double offsetMm);

// Small vector helpers shared by the curved-reconstruction code.
inline Vec3d operator+(const Vec3d &a, const Vec3d &b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec3d operator-(const Vec3d &a, const Vec3d &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec3d operator*(const Vec3d &a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
inline double dot(const Vec3d &a, const Vec3d &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec3d cross(const Vec3d &a, const Vec3d &b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double norm(const Vec3d &a);
// a / |a|, or the zero vector when |a| < 1e-9.
Vec3d normalised(const Vec3d &a);

} // namespace render
