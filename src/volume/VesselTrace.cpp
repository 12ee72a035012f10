#include "volume/VesselTrace.h"

#include "volume/VolumeMm.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <queue>
#include <unordered_map>

namespace render {

namespace {

struct Box
{
    std::array<int, 3> low{};
    std::array<int, 3> size{};

    qint64 count() const { return qint64(size[0]) * size[1] * size[2]; }
    qint64 index(int x, int y, int z) const
    {
        return (qint64(z - low[2]) * size[1] + (y - low[1])) * size[0] + (x - low[0]);
    }
    std::array<int, 3> voxel(qint64 i) const
    {
        const int x = int(i % size[0]);
        const int y = int((i / size[0]) % size[1]);
        const int z = int(i / (qint64(size[0]) * size[1]));
        return {x + low[0], y + low[1], z + low[2]};
    }
    bool contains(int x, int y, int z) const
    {
        return x >= low[0] && y >= low[1] && z >= low[2] && x < low[0] + size[0] && y < low[1] + size[1]
               && z < low[2] + size[2];
    }
};

std::array<double, 3> spacingOf(const Volume &v)
{
    return {v.spacingX, v.spacingY, v.spacingZ};
}

std::array<int, 3> countOf(const Volume &v)
{
    return {v.width, v.height, v.depth};
}

Vec3d mmOf(const Volume &v, const std::array<int, 3> &voxel)
{
    return {voxel[0] * v.spacingX, voxel[1] * v.spacingY, voxel[2] * v.spacingZ};
}

// The voxel nearest a point, if inside the volume.
std::optional<std::array<int, 3>> nearestVoxel(const Volume &v, const Vec3d &mm)
{
    const auto spacing = spacingOf(v);
    const auto count = countOf(v);
    std::array<int, 3> voxel{};
    for (int i = 0; i < 3; ++i) {
        const double index = std::round(mm[std::size_t(i)] / spacing[std::size_t(i)]);
        if (!(index >= 0.0 && index < count[std::size_t(i)]))
            return std::nullopt;
        voxel[std::size_t(i)] = int(index);
    }
    return voxel;
}

// The brightest lumen voxel within the radius of a clicked voxel (the voxel
// itself when it already lies in the lumen).
std::optional<std::array<int, 3>> snapToLumen(const Volume &v, const std::array<int, 3> &seed, double radiusMm,
                                              double threshold)
{
    if (voxelAt(v, seed[0], seed[1], seed[2]) >= threshold)
        return seed;
    const auto spacing = spacingOf(v);
    std::array<int, 3> reach{};
    for (int i = 0; i < 3; ++i)
        reach[std::size_t(i)] = int(std::ceil(radiusMm / spacing[std::size_t(i)]));
    std::optional<std::array<int, 3>> best;
    double bestValue = threshold;
    for (int dz = -reach[2]; dz <= reach[2]; ++dz)
        for (int dy = -reach[1]; dy <= reach[1]; ++dy)
            for (int dx = -reach[0]; dx <= reach[0]; ++dx) {
                const double d2 = std::pow(dx * spacing[0], 2) + std::pow(dy * spacing[1], 2)
                                  + std::pow(dz * spacing[2], 2);
                if (d2 > radiusMm * radiusMm)
                    continue;
                const int x = seed[0] + dx, y = seed[1] + dy, z = seed[2] + dz;
                if (x < 0 || y < 0 || z < 0 || x >= v.width || y >= v.height || z >= v.depth)
                    continue;
                const double value = voxelAt(v, x, y, z);
                if (value >= bestValue) {
                    bestValue = value;
                    best = std::array<int, 3>{x, y, z};
                }
            }
    return best;
}

std::vector<Vec3d> resampledPolyline(const std::vector<Vec3d> &points, double step)
{
    if (points.size() < 2)
        return points;
    double length = 0.0;
    for (std::size_t i = 1; i < points.size(); ++i)
        length += norm(points[i] - points[i - 1]);
    const int pieces = std::max(1, int(std::lround(length / step)));
    const double each = length / pieces;
    std::vector<Vec3d> result{points.front()};
    std::size_t segment = 0;
    double start = 0.0;
    for (int k = 1; k < pieces; ++k) {
        const double at = k * each;
        while (segment + 2 < points.size() && start + norm(points[segment + 1] - points[segment]) < at) {
            start += norm(points[segment + 1] - points[segment]);
            ++segment;
        }
        const Vec3d &a = points[segment];
        const Vec3d &b = points[segment + 1];
        const double span = norm(b - a);
        result.push_back(a + (b - a) * (span > 0.0 ? std::clamp((at - start) / span, 0.0, 1.0) : 0.0));
    }
    result.push_back(points.back());
    return result;
}

double polylineLength(const std::vector<Vec3d> &points)
{
    double length = 0.0;
    for (std::size_t i = 1; i < points.size(); ++i)
        length += norm(points[i] - points[i - 1]);
    return length;
}

// Moving average over five points; the ends stay where they are.
std::vector<Vec3d> smoothed(const std::vector<Vec3d> &points)
{
    std::vector<Vec3d> result = points;
    for (std::size_t i = 2; i + 2 < points.size(); ++i)
        result[i] = (points[i - 2] + points[i - 1] + points[i] + points[i + 1] + points[i + 2]) * 0.2;
    return result;
}

} // namespace

bool traceVessel(const Volume &volume, const Vec3d &from, const Vec3d &to, const VesselTraceOptions &options,
                 VesselTrace &trace, QString &message, const std::atomic<bool> *cancel)
{
    trace = VesselTrace();
    message.clear();
    if (!volume.isValid() || !volumeMmGrid(volume).isUsable()) {
        message = QStringLiteral("Объём серии не построен — трассировка невозможна.");
        return false;
    }
    const auto fromVoxel = nearestVoxel(volume, from);
    const auto toVoxel = nearestVoxel(volume, to);
    if (!fromVoxel || !toVoxel) {
        message = QStringLiteral("Точка лежит вне объёма серии — выберите точки внутри сосуда.");
        return false;
    }
    const double threshold = options.lumen.thresholdHu;
    const auto start = snapToLumen(volume, *fromVoxel, options.seedSearchRadiusMm, threshold);
    const auto goal = snapToLumen(volume, *toVoxel, options.seedSearchRadiusMm, threshold);
    if (!start || !goal) {
        message = QStringLiteral("Рядом с точкой нет контрастированного просвета (от %1 HU) — щёлкните внутри "
                                 "сосуда.")
                      .arg(threshold);
        return false;
    }

    const auto spacing = spacingOf(volume);
    const auto count = countOf(volume);
    // The whole volume is searched: only lumen voxels are ever visited, and a
    // tortuous vessel may bulge far beyond the box of its two ends.
    Box box;
    box.size = count;
    // Brighter lumen is cheaper, so the path keeps off the partial-volume
    // rim; the reference is the lumen at the two ends.
    const double reference =
        std::max((voxelAt(volume, (*start)[0], (*start)[1], (*start)[2])
                  + voxelAt(volume, (*goal)[0], (*goal)[1], (*goal)[2]))
                     * 0.5,
                 threshold + 1.0);
    const auto voxelCost = [&](double value) {
        const double bright = std::clamp((value - threshold) / (reference - threshold), 0.0, 1.0);
        return 1.0 + 4.0 * (1.0 - bright);
    };

    struct Neighbour
    {
        int dx, dy, dz;
        double length;
    };
    std::vector<Neighbour> neighbours;
    double minCostPerMm = 1.0;
    for (int dz = -1; dz <= 1; ++dz)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (dx || dy || dz)
                    neighbours.push_back({dx, dy, dz,
                                          std::sqrt(std::pow(dx * spacing[0], 2) + std::pow(dy * spacing[1], 2)
                                                    + std::pow(dz * spacing[2], 2))});

    const Vec3d goalMm = mmOf(volume, *goal);
    const auto heuristic = [&](const std::array<int, 3> &voxel) {
        return norm(mmOf(volume, voxel) - goalMm) * minCostPerMm;
    };
    struct Node
    {
        double cost = std::numeric_limits<double>::infinity();
        qint64 parent = -1;
        bool settled = false;
    };
    std::unordered_map<qint64, Node> nodes;
    nodes.reserve(1 << 16);
    using Entry = std::pair<double, qint64>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> open;
    const qint64 startIndex = box.index((*start)[0], (*start)[1], (*start)[2]);
    const qint64 goalIndex = box.index((*goal)[0], (*goal)[1], (*goal)[2]);
    nodes[startIndex].cost = 0.0;
    open.push({heuristic(*start), startIndex});
    qint64 settled = 0;
    bool reached = false;
    while (!open.empty()) {
        const qint64 current = open.top().second;
        open.pop();
        Node &node = nodes[current];
        if (node.settled)
            continue;
        node.settled = true;
        if (current == goalIndex) {
            reached = true;
            break;
        }
        if (++settled > options.maxVisited) {
            message = QStringLiteral("Поиск пути прерван: область слишком велика — выберите точки ближе друг к "
                                     "другу или поставьте промежуточные точки вручную.");
            return false;
        }
        if (cancel && (settled & 1023) == 0 && cancel->load())
            return false;
        const double base = node.cost;
        const std::array<int, 3> voxel = box.voxel(current);
        for (const Neighbour &n : neighbours) {
            const int x = voxel[0] + n.dx, y = voxel[1] + n.dy, z = voxel[2] + n.dz;
            if (!box.contains(x, y, z))
                continue;
            const double value = voxelAt(volume, x, y, z);
            if (!(value >= threshold))
                continue;
            const qint64 next = box.index(x, y, z);
            Node &neighbour = nodes[next];
            const double cost = base + n.length * voxelCost(value);
            if (neighbour.settled || cost >= neighbour.cost)
                continue;
            neighbour.cost = cost;
            neighbour.parent = current;
            open.push({cost + heuristic({x, y, z}), next});
        }
    }
    if (!reached) {
        message = QStringLiteral("Не удалось найти путь по просвету сосуда между точками (порог %1 HU) — "
                                 "просвет прерывается; поставьте точки вручную.")
                      .arg(threshold);
        return false;
    }

    std::vector<Vec3d> path;
    for (qint64 at = goalIndex; at >= 0; at = nodes[at].parent)
        path.push_back(mmOf(volume, box.voxel(at)));
    std::reverse(path.begin(), path.end());
    if (path.size() < 2)
        path.push_back(path.front());

    // Staircase voxel steps smoothed, then each point moved to the centroid
    // of its lumen section, perpendicular to the local direction.
    const double step = options.stepMm > 0.0 ? options.stepMm : 1.0;
    std::vector<Vec3d> line = smoothed(resampledPolyline(path, step));
    for (int pass = 0; pass < options.refinePasses && line.size() >= 3; ++pass) {
        std::vector<Vec3d> moved = line;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const Vec3d tangent = normalised(line[std::min(i + 1, line.size() - 1)] - line[i == 0 ? 0 : i - 1]);
            if (norm(tangent) == 0.0)
                continue;
            const Vec3d helper = std::fabs(tangent[2]) > 0.9 ? Vec3d{0.0, 1.0, 0.0} : Vec3d{0.0, 0.0, 1.0};
            const Vec3d u = normalised(cross(tangent, helper));
            const Vec3d v = cross(tangent, u);
            const LumenSection section = measureLumenSection(volume, line[i], u, v, options.lumen);
            if (section.found)
                moved[i] = section.centroid;
        }
        line = resampledPolyline(smoothed(moved), step);
    }

    trace.points = line;
    trace.lengthMm = polylineLength(line);
    const int every = std::max(1, int(std::lround(options.controlPointSpacingMm / step)));
    for (std::size_t i = 0; i < line.size(); i += std::size_t(every))
        trace.controlPoints.push_back(line[i]);
    if (trace.controlPoints.size() < 2 || norm(trace.controlPoints.back() - line.back()) > step * 0.5) {
        if (trace.controlPoints.size() >= 2 && norm(trace.controlPoints.back() - line.back()) < step * every * 0.5)
            trace.controlPoints.back() = line.back();
        else
            trace.controlPoints.push_back(line.back());
    }
    return true;
}

} // namespace render
