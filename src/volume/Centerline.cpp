#include "volume/Centerline.h"

#include <algorithm>
#include <cmath>

namespace render {

double norm(const Vec3d &a)
{
    return std::sqrt(dot(a, a));
}

Vec3d normalised(const Vec3d &a)
{
    const double length = norm(a);
    if (!(length >= 1e-9))
        return {0.0, 0.0, 0.0};
    return a * (1.0 / length);
}

std::vector<Vec3d> cardinalSplineDense(const std::vector<Vec3d> &p, double tension)
{
    const int n = int(p.size());
    if (n < 2)
        return p;
    const double scale = (1.0 - tension) / 2.0;
    std::vector<Vec3d> dense;
    dense.reserve(std::size_t(n - 1) * centerlineDenseStepsPerSegment + 1);
    for (int i = 0; i + 1 < n; ++i) {
        const Vec3d &p0 = p[std::size_t(i)];
        const Vec3d &p1 = p[std::size_t(i + 1)];
        const Vec3d m0 = (p[std::size_t(std::min(i + 1, n - 1))] - p[std::size_t(std::max(i - 1, 0))]) * scale;
        const Vec3d m1 = (p[std::size_t(std::min(i + 2, n - 1))] - p[std::size_t(i)]) * scale;
        const bool last = i + 2 == n;
        const int steps = last ? centerlineDenseStepsPerSegment + 1 : centerlineDenseStepsPerSegment;
        for (int k = 0; k < steps; ++k) {
            const double t = double(k) / centerlineDenseStepsPerSegment;
            const double t2 = t * t;
            const double t3 = t2 * t;
            const double h00 = 2 * t3 - 3 * t2 + 1;
            const double h01 = -2 * t3 + 3 * t2;
            const double h10 = t3 - 2 * t2 + t;
            const double h11 = t3 - t2;
            dense.push_back(p0 * h00 + p1 * h01 + m0 * h10 + m1 * h11);
        }
    }
    return dense;
}

std::vector<Vec3d> distinctControlPoints(const std::vector<Vec3d> &controlPoints)
{
    std::vector<Vec3d> result;
    for (const Vec3d &point : controlPoints) {
        if (!std::isfinite(point[0]) || !std::isfinite(point[1]) || !std::isfinite(point[2]))
            continue;
        if (!result.empty() && norm(point - result.back()) < 1e-6)
            continue;
        result.push_back(point);
    }
    return result;
}

std::vector<Vec3d> offsetControlPoints(const std::vector<Vec3d> &controlPoints, double offsetMm)
{
    if (!(std::fabs(offsetMm) >= 1e-9) || !std::isfinite(offsetMm))
        return controlPoints;
    std::vector<Vec3d> moved = controlPoints;
    for (Vec3d &point : moved)
        point[1] += offsetMm;
    return moved;
}

namespace {

// Positions at equal arc-length steps along the polyline, from its start to
// the last whole step (and the end point when the remainder is not tiny, so
// the reconstruction reaches the last control point).
std::vector<Vec3d> resampled(const std::vector<Vec3d> &dense, double step, double length)
{
    std::vector<Vec3d> result;
    const int whole = int(std::floor(length / step + 1e-9));
    result.reserve(std::size_t(whole) + 2);
    std::size_t segment = 0;
    double segmentStart = 0.0;
    for (int k = 0; k <= whole; ++k) {
        const double at = k * step;
        while (segment + 2 < dense.size()
               && segmentStart + norm(dense[segment + 1] - dense[segment]) < at) {
            segmentStart += norm(dense[segment + 1] - dense[segment]);
            ++segment;
        }
        const Vec3d &a = dense[segment];
        const Vec3d &b = dense[segment + 1];
        const double span = norm(b - a);
        const double f = span > 0.0 ? std::clamp((at - segmentStart) / span, 0.0, 1.0) : 0.0;
        result.push_back(a + (b - a) * f);
    }
    if (length - whole * step > step * 1e-3)
        result.push_back(dense.back());
    return result;
}

// Rotates v about the unit axis by `angle` radians (Rodrigues).
Vec3d rotatedAbout(const Vec3d &v, const Vec3d &axis, double angle)
{
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    return v * c + cross(axis, v) * s + axis * (dot(axis, v) * (1.0 - c));
}

} // namespace

Centerline buildCenterline(const std::vector<Vec3d> &controlPoints, double tension, double stepMm,
                           double rotationDeg, bool *tooLong)
{
    if (tooLong)
        *tooLong = false;
    Centerline line;
    const std::vector<Vec3d> points = distinctControlPoints(controlPoints);
    if (points.size() < 2 || !(stepMm > 0.0) || !std::isfinite(stepMm) || !std::isfinite(tension))
        return line;
    const std::vector<Vec3d> dense = cardinalSplineDense(points, tension);
    double length = 0.0;
    for (std::size_t i = 1; i < dense.size(); ++i)
        length += norm(dense[i] - dense[i - 1]);
    if (!(length > 1e-9) || !std::isfinite(length))
        return line;
    if (length / stepMm + 2.0 > double(centerlineMaxSamples)) {
        if (tooLong)
            *tooLong = true;
        return line;
    }

    line.stepMm = stepMm;
    line.lengthMm = length;
    line.positions = resampled(dense, stepMm, length);
    const std::size_t n = line.positions.size();
    if (n < 2) {
        line = Centerline();
        return line;
    }

    // Central differences inside, one-sided at the ends; a repeated position
    // (possible only at the very end) keeps the previous tangent.
    line.tangents.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3d &before = line.positions[i == 0 ? 0 : i - 1];
        const Vec3d &after = line.positions[i + 1 == n ? n - 1 : i + 1];
        Vec3d t = normalised(after - before);
        if (norm(t) == 0.0 && i > 0)
            t = line.tangents[i - 1];
        line.tangents[i] = t;
    }

    const Vec3d zAxis{0.0, 0.0, 1.0};
    const Vec3d &t0 = line.tangents.front();
    const Vec3d up = std::fabs(dot(t0, zAxis)) > 0.95 ? Vec3d{0.0, 1.0, 0.0} : zAxis;
    line.normals.resize(n);
    line.normals[0] = normalised(cross(t0, up));

    // Double reflection: reflect the frame across the plane bisecting the
    // step, then across the plane that takes the reflected tangent onto the
    // new one. No twist is added beyond what the curve itself demands.
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const Vec3d v1 = line.positions[i + 1] - line.positions[i];
        const double c1 = dot(v1, v1);
        const Vec3d &r = line.normals[i];
        const Vec3d &t = line.tangents[i];
        if (c1 < 1e-18) {
            line.normals[i + 1] = r;
            continue;
        }
        const Vec3d rL = r - v1 * (2.0 / c1 * dot(v1, r));
        const Vec3d tL = t - v1 * (2.0 / c1 * dot(v1, t));
        const Vec3d v2 = line.tangents[i + 1] - tL;
        const double c2 = dot(v2, v2);
        Vec3d next = c2 < 1e-18 ? rL : rL - v2 * (2.0 / c2 * dot(v2, rL));
        // Rounding drifts over thousands of steps: keep it exactly orthonormal.
        next = normalised(next - line.tangents[i + 1] * dot(next, line.tangents[i + 1]));
        line.normals[i + 1] = norm(next) > 0.0 ? next : r;
    }

    const double angle = std::isfinite(rotationDeg) ? std::fmod(rotationDeg, 360.0) * M_PI / 180.0 : 0.0;
    line.binormals.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (angle != 0.0)
            line.normals[i] = rotatedAbout(line.normals[i], line.tangents[i], angle);
        line.binormals[i] = cross(line.tangents[i], line.normals[i]);
    }
    return line;
}

} // namespace render
