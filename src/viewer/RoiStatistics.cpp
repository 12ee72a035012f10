#include "viewer/RoiStatistics.h"

#include "viewer/MeasurementGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace render {

namespace {

class Accumulator
{
public:
    void add(double v)
    {
        m_sum += v;
        m_sumSquares += v * v;
        m_min = std::min(m_min, v);
        m_max = std::max(m_max, v);
        ++m_count;
    }

    RoiStatistics result() const
    {
        RoiStatistics r;
        if (m_count == 0)
            return r;
        r.count = m_count;
        r.mean = m_sum / m_count;
        // Rounding can push the difference a hair below zero.
        r.standardDeviation = std::sqrt(std::max(m_sumSquares / m_count - r.mean * r.mean, 0.0));
        r.minimum = m_min;
        r.maximum = m_max;
        return r;
    }

private:
    double m_sum = 0.0;
    double m_sumSquares = 0.0;
    double m_min = std::numeric_limits<double>::max();
    double m_max = std::numeric_limits<double>::lowest();
    int m_count = 0;
};

// The floor/ceil bounds of [low, high] clamped to 0 … size − 1; an empty range
// (first > last) when nothing is left. Clamping happens in double so that
// far-off or non-finite coordinates never overflow the conversion to int.
void pixelRange(double low, double high, int size, int &first, int &last)
{
    first = 1;
    last = 0;
    const double lo = std::floor(low);
    const double hi = std::ceil(high);
    if (!(lo <= hi) || size <= 0)
        return;
    first = static_cast<int>(std::clamp(lo, 0.0, static_cast<double>(size)));
    last = static_cast<int>(std::clamp(hi, -1.0, static_cast<double>(size - 1)));
}

} // namespace

RoiStatistics ellipseStatistics(const DecodedFrame &frame, double cx, double cy, double rx, double ry)
{
    if (!frame.ok || !(rx > 0.0) || !(ry > 0.0))
        return {};
    int x0, x1, y0, y1;
    pixelRange(cx - rx, cx + rx, frame.width, x0, x1);
    pixelRange(cy - ry, cy + ry, frame.height, y0, y1);
    Accumulator acc;
    // Pixel (x, y) covers [x, x + 1) × [y, y + 1) of the picture and counts by
    // its centre, as in a polygon: the same outline takes the same pixels.
    for (int y = y0; y <= y1; ++y) {
        const double dy = (y + 0.5 - cy) / ry;
        for (int x = x0; x <= x1; ++x) {
            const double dx = (x + 0.5 - cx) / rx;
            if (dy * dy + dx * dx <= 1.0)
                acc.add(valueAt(frame, x, y));
        }
    }
    return acc.result();
}

RoiStatistics polygonStatistics(const DecodedFrame &frame, const QList<QPointF> &vertices)
{
    if (!frame.ok || vertices.size() < 3)
        return {};
    const auto [minX, maxX] = std::minmax_element(vertices.begin(), vertices.end(),
                                                  [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    const auto [minY, maxY] = std::minmax_element(vertices.begin(), vertices.end(),
                                                  [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
    int x0, x1, y0, y1;
    pixelRange(minX->x(), maxX->x(), frame.width, x0, x1);
    pixelRange(minY->y(), maxY->y(), frame.height, y0, y1);
    Accumulator acc;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            if (pointInPolygon(x + 0.5, y + 0.5, vertices))
                acc.add(valueAt(frame, x, y));
        }
    }
    return acc.result();
}

} // namespace render
