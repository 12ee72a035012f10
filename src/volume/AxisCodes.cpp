#include "volume/AxisCodes.h"

#include <cmath>

namespace render {

namespace {

using Vec = std::array<float, 3>;

float squaredLength(const Vec &v)
{
    return v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
}

// Unit length unless already within 1e-5 of it (or too short to divide by).
Vec normalisedIfNeeded(Vec v)
{
    const float length = std::sqrt(squaredLength(v));
    if (std::fabs(length - 1.0f) > 1e-5f && length > 1e-5f)
        for (float &c : v)
            c /= length;
    return v;
}

// Index of the largest absolute component (ties to the lower index) and its sign.
void dominant(const Vec &v, int &axis, bool &negative)
{
    axis = 0;
    for (int i = 1; i < 3; ++i)
        if (std::fabs(v[i]) > std::fabs(v[axis]))
            axis = i;
    negative = v[axis] < 0.0f;
}

} // namespace

std::optional<AxisCodes> orientationAxes(const std::array<double, 3> &row, const std::array<double, 3> &column)
{
    Vec r{float(row[0]), float(row[1]), float(row[2])};
    Vec c{float(column[0]), float(column[1]), float(column[2])};
    if (squaredLength(r) < 1e-6f || squaredLength(c) < 1e-6f)
        return std::nullopt;
    r = normalisedIfNeeded(r);
    c = normalisedIfNeeded(c);
    Vec n{r[1] * c[2] - r[2] * c[1], r[2] * c[0] - r[0] * c[2], r[0] * c[1] - r[1] * c[0]};
    const float normalSquared = squaredLength(n);
    if (normalSquared < 1e-6f)
        return std::nullopt;
    const float normalLength = std::sqrt(normalSquared);
    for (float &v : n)
        v /= normalLength;

    AxisCodes codes;
    const Vec *directions[3] = {&r, &c, &n};
    for (int i = 0; i < 3; ++i)
        dominant(*directions[i], codes.axis[i], codes.negative[i]);
    if (codes.axis[0] == codes.axis[1] || codes.axis[0] == codes.axis[2] || codes.axis[1] == codes.axis[2])
        return std::nullopt;
    return codes;
}

AxisCodes planeHintAxes(int planeHint)
{
    AxisCodes codes;
    if (planeHint == 1) {
        // Sagittal stack: (x, y, z) -> (z, x, height - 1 - y).
        codes.axis = {1, 2, 0};
        codes.negative = {false, true, false};
    } else if (planeHint == 2) {
        // Coronal stack: (x, y, z) -> (x, z, height - 1 - y).
        codes.axis = {0, 2, 1};
        codes.negative = {false, true, false};
    }
    return codes;
}

VoxelPlacement voxelPlacement(const std::array<int, 3> &sourceSize, const AxisCodes &codes)
{
    VoxelPlacement placement;
    for (int i = 0; i < 3; ++i)
        placement.size[codes.axis[i]] = sourceSize[i];
    const std::array<long long, 3> resultStride{1, placement.size[0],
                                                (long long)placement.size[0] * placement.size[1]};
    for (int i = 0; i < 3; ++i) {
        const long long stride = resultStride[codes.axis[i]];
        placement.stride[i] = codes.negative[i] ? -stride : stride;
        if (codes.negative[i])
            placement.offset += (long long)(sourceSize[i] - 1) * stride;
    }
    return placement;
}

} // namespace render
