#include "volume/SoftwareVolumeRenderer.h"

#include "volume/ParallelChunks.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace render {

namespace {

constexpr int blockSide = 8;

struct Grid
{
    const float *voxels = nullptr;
    int w = 0, h = 0, d = 0;
    std::size_t plane = 0;

    float at(int x, int y, int z) const { return voxels[std::size_t(z) * plane + std::size_t(y) * std::size_t(w) + std::size_t(x)]; }

    // Trilinear, clamped addressing; coordinates in texels (voxel centres on
    // integers).
    float sample(float fx, float fy, float fz) const
    {
        fx = std::clamp(fx, 0.0f, float(w - 1));
        fy = std::clamp(fy, 0.0f, float(h - 1));
        fz = std::clamp(fz, 0.0f, float(d - 1));
        const int x0 = int(fx), y0 = int(fy), z0 = int(fz);
        const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1), z1 = std::min(z0 + 1, d - 1);
        const float ax = fx - float(x0), ay = fy - float(y0), az = fz - float(z0);
        const std::size_t r00 = std::size_t(z0) * plane + std::size_t(y0) * std::size_t(w);
        const std::size_t r01 = std::size_t(z0) * plane + std::size_t(y1) * std::size_t(w);
        const std::size_t r10 = std::size_t(z1) * plane + std::size_t(y0) * std::size_t(w);
        const std::size_t r11 = std::size_t(z1) * plane + std::size_t(y1) * std::size_t(w);
        auto lerp = [](float a, float b, float t) { return a + (b - a) * t; };
        const float c00 = lerp(voxels[r00 + std::size_t(x0)], voxels[r00 + std::size_t(x1)], ax);
        const float c01 = lerp(voxels[r01 + std::size_t(x0)], voxels[r01 + std::size_t(x1)], ax);
        const float c10 = lerp(voxels[r10 + std::size_t(x0)], voxels[r10 + std::size_t(x1)], ax);
        const float c11 = lerp(voxels[r11 + std::size_t(x0)], voxels[r11 + std::size_t(x1)], ax);
        return lerp(lerp(c00, c01, ay), lerp(c10, c11, ay), az);
    }
};

quint8 toByte(float v)
{
    return quint8(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

} // namespace

void SoftwareVolumeRenderer::setVolume(std::shared_ptr<const Volume> volume)
{
    m_volume = std::move(volume);
    m_blockMin.clear();
    m_blockMax.clear();
    m_blocksX = m_blocksY = m_blocksZ = 0;
    const Volume *v = m_volume.get();
    if (!v || !v->isValid() || v->voxels.size() < std::size_t(v->width) * std::size_t(v->height) * std::size_t(v->depth))
        return;
    auto blocks = [](int n) { return std::max(1, (n - 1 + blockSide - 1) / blockSide); };
    m_blocksX = blocks(v->width);
    m_blocksY = blocks(v->height);
    m_blocksZ = blocks(v->depth);
    const std::size_t count = std::size_t(m_blocksX) * std::size_t(m_blocksY) * std::size_t(m_blocksZ);
    m_blockMin.assign(count, std::numeric_limits<float>::max());
    m_blockMax.assign(count, std::numeric_limits<float>::lowest());
    Grid grid{v->voxels.data(), v->width, v->height, v->depth, std::size_t(v->width) * std::size_t(v->height)};
    // Each block covers its 8 voxels and the first of the next, so that every
    // trilinear sample taken inside it lies within its range.
    runInChunks(m_blocksZ, m_threads > 0 ? m_threads : defaultThreadCount(), [&](int begin, int end) {
        for (int bz = begin; bz < end; ++bz) {
            const int z0 = bz * blockSide, z1 = std::min(z0 + blockSide, v->depth - 1);
            for (int by = 0; by < m_blocksY; ++by) {
                const int y0 = by * blockSide, y1 = std::min(y0 + blockSide, v->height - 1);
                for (int bx = 0; bx < m_blocksX; ++bx) {
                    const int x0 = bx * blockSide, x1 = std::min(x0 + blockSide, v->width - 1);
                    float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
                    for (int z = z0; z <= z1; ++z)
                        for (int y = y0; y <= y1; ++y)
                            for (int x = x0; x <= x1; ++x) {
                                const float value = grid.at(x, y, z);
                                lo = std::min(lo, value);
                                hi = std::max(hi, value);
                            }
                    const std::size_t index = (std::size_t(bz) * std::size_t(m_blocksY) + std::size_t(by))
                                                  * std::size_t(m_blocksX)
                                              + std::size_t(bx);
                    m_blockMin[index] = lo;
                    m_blockMax[index] = hi;
                }
            }
        }
    });
}

QImage SoftwareVolumeRenderer::render(const VolumeRenderParameters &parameters, const QSize &size, int *steps) const
{
    const int width = std::max(size.width(), 1);
    const int height = std::max(size.height(), 1);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    const Volume *v = m_volume.get();
    if (m_blockMin.empty() || !v) {
        if (steps)
            *steps = 0;
        return image;
    }
    const VolumeRayGeometry geometry = volumeRayGeometry(*v, parameters);
    if (steps)
        *steps = geometry.steps;
    const Grid grid{v->voxels.data(), v->width, v->height, v->depth, std::size_t(v->width) * std::size_t(v->height)};
    const VolumeCameraState &camera = parameters.camera;
    const QVector3D dir = camera.direction.normalized();
    const QVector3D right = camera.right.normalized();
    const QVector3D up = camera.up.normalized();
    const float spacing[3] = {float(usableSpacing(v->spacingX)), float(usableSpacing(v->spacingY)),
                              float(usableSpacing(v->spacingZ))};
    const int counts[3] = {v->width, v->height, v->depth};
    const int stepCount = std::max(geometry.steps, 2);
    const float start = float(geometry.rayStartMm);
    const float dt = float(geometry.rayLengthMm) / float(stepCount - 1);
    const bool vrt = parameters.mode == ProjectionMode::Vrt;
    const bool shading = vrt && parameters.shading && !parameters.interactive;
    const int mipMode = int(parameters.mode);
    const float level = float(camera.level);
    const float windowWidth = float(camera.width);
    const float huMin = level - windowWidth / 2.0f;
    const float huSpan = std::max(windowWidth, 1e-6f);
    const float densityMin = float(std::max(parameters.densityMin, -1e30));
    const float densityMax = float(std::min(parameters.densityMax, 1e30));
    const bool cutting = !parameters.cutOuts.isEmpty();
    // Pixels keep their square shape: the shorter side spans −1 … 1.
    const float aspectX = float(width) / float(std::min(width, height));
    const float aspectY = float(height) / float(std::min(width, height));
    const float halfExtent = float(geometry.halfExtentMm);
    const float tanHalfFov = float(std::tan(std::clamp(parameters.fovDeg, 1.0, 170.0) * M_PI / 360.0));

    // The transfer table as the GPU samples it (texel i at huNorm = i / 255,
    // linear in between), and which ranges of it can show anything.
    const auto texture = buildTransferTexture(parameters.preset, huMin, huMin + huSpan);
    float table[256][4];
    int visiblePrefix[257];
    visiblePrefix[0] = 0;
    for (int i = 0; i < 256; ++i) {
        for (int k = 0; k < 4; ++k)
            table[i][k] = float(texture[std::size_t(i)][std::size_t(k)]) / 255.0f;
        visiblePrefix[i + 1] = visiblePrefix[i] + (table[i][3] > 0.003f ? 1 : 0);
    }
    auto texelOf = [&](float value) { return std::clamp((value - huMin) / huSpan, 0.0f, 1.0f) * 255.0f; };
    std::vector<quint8> blockShows;
    if (vrt) {
        blockShows.resize(m_blockMin.size());
        for (std::size_t b = 0; b < m_blockMin.size(); ++b) {
            const float lo = std::max(m_blockMin[b], densityMin);
            const float hi = std::min(m_blockMax[b], densityMax);
            if (lo > hi) {
                blockShows[b] = 0;
                continue;
            }
            const int first = int(texelOf(lo));
            const int last = std::min(255, int(texelOf(hi)) + 1);
            blockShows[b] = visiblePrefix[last + 1] - visiblePrefix[first] > 0 ? 1 : 0;
        }
    }
    const float windowLow = float(camera.level - camera.width / 2.0);
    const float windowScale = 1.0f / std::max(windowWidth, 1e-6f);

    auto renderRow = [&](int row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        const float y = (1.0f - (float(row) + 0.5f) / float(height) * 2.0f) * aspectY;
        for (int column = 0; column < width; ++column) {
            const float x = ((float(column) + 0.5f) / float(width) * 2.0f - 1.0f) * aspectX;
            QVector3D origin;
            QVector3D rayDir;
            if (parameters.perspective) {
                origin = parameters.cameraPosMm;
                rayDir = (dir + (x * right + y * up) * tanHalfFov).normalized();
            } else {
                origin = right * (x * halfExtent + float(camera.panU)) + up * (y * halfExtent + float(camera.panV));
                rayDir = dir;
            }
            // The ray in texels, and its stretch inside the volume's box.
            float o[3], d[3];
            float tEnter = -std::numeric_limits<float>::max(), tExit = std::numeric_limits<float>::max();
            bool miss = false;
            for (int a = 0; a < 3; ++a) {
                o[a] = origin[a] / spacing[a] + float(counts[a]) * 0.5f - 0.5f;
                d[a] = rayDir[a] / spacing[a];
                const float low = -0.5f, high = float(counts[a]) - 0.5f;
                if (std::abs(d[a]) < 1e-12f) {
                    miss = miss || o[a] < low || o[a] > high;
                } else {
                    const float t1 = (low - o[a]) / d[a], t2 = (high - o[a]) / d[a];
                    tEnter = std::max(tEnter, std::min(t1, t2));
                    tExit = std::min(tExit, std::max(t1, t2));
                }
            }
            int first = miss ? 1 : std::max(0, int(std::ceil((tEnter - start) / dt)));
            const int last = miss ? 0 : std::min(stepCount - 1, int(std::floor((tExit - start) / dt)));

            auto blockIndex = [&](float fx, float fy, float fz, int &bx, int &by, int &bz) {
                bx = std::min(int(std::clamp(fx, 0.0f, float(counts[0] - 1))) / blockSide, m_blocksX - 1);
                by = std::min(int(std::clamp(fy, 0.0f, float(counts[1] - 1))) / blockSide, m_blocksY - 1);
                bz = std::min(int(std::clamp(fz, 0.0f, float(counts[2] - 1))) / blockSide, m_blocksZ - 1);
                return (std::size_t(bz) * std::size_t(m_blocksY) + std::size_t(by)) * std::size_t(m_blocksX)
                       + std::size_t(bx);
            };
            // The first sample past the block, so a whole block is skipped at once.
            auto pastBlock = [&](int i, int bx, int by, int bz) {
                const int b[3] = {bx, by, bz};
                float exit = std::numeric_limits<float>::max();
                for (int a = 0; a < 3; ++a) {
                    if (d[a] > 0.0f)
                        exit = std::min(exit, (float(b[a] * blockSide + blockSide) - o[a]) / d[a]);
                    else if (d[a] < 0.0f)
                        exit = std::min(exit, (float(b[a] * blockSide) - o[a]) / d[a]);
                }
                return std::max(i + 1, int(std::ceil((exit - start) / dt)));
            };

            float r = 0.0f, g = 0.0f, bl = 0.0f;
            if (vrt) {
                float alpha = 0.0f;
                for (int i = first; i <= last && alpha <= 0.98f;) {
                    const float t = start + dt * float(i);
                    const float fx = o[0] + d[0] * t, fy = o[1] + d[1] * t, fz = o[2] + d[2] * t;
                    int bx, by, bz;
                    if (!blockShows[blockIndex(fx, fy, fz, bx, by, bz)]) {
                        i = pastBlock(i, bx, by, bz);
                        continue;
                    }
                    ++i;
                    if (cutting && parameters.cutOuts.hides(origin + rayDir * t))
                        continue;
                    const float value = grid.sample(fx, fy, fz);
                    if (value < densityMin || value > densityMax)
                        continue;
                    const float pos = texelOf(value);
                    const int k0 = int(pos), k1 = std::min(k0 + 1, 255);
                    const float w = pos - float(k0);
                    const float opacity = table[k0][3] + (table[k1][3] - table[k0][3]) * w;
                    if (opacity <= 0.003f)
                        continue;
                    float cr = table[k0][0] + (table[k1][0] - table[k0][0]) * w;
                    float cg = table[k0][1] + (table[k1][1] - table[k0][1]) * w;
                    float cb = table[k0][2] + (table[k1][2] - table[k0][2]) * w;
                    if (shading) {
                        const QVector3D gradient(grid.sample(fx + 0.5f, fy, fz) - grid.sample(fx - 0.5f, fy, fz),
                                                 grid.sample(fx, fy + 0.5f, fz) - grid.sample(fx, fy - 0.5f, fz),
                                                 grid.sample(fx, fy, fz + 0.5f) - grid.sample(fx, fy, fz - 0.5f));
                        const float length = gradient.length();
                        if (length > 1e-5f) {
                            const QVector3D normal = -gradient / length;
                            const QVector3D light = (-rayDir + 0.3f * up).normalized();
                            const float lighting =
                                0.35f + 0.65f * std::max(0.0f, QVector3D::dotProduct(normal, light));
                            const float factor = std::min(1.15f, lighting);
                            cr *= factor;
                            cg *= factor;
                            cb *= factor;
                        }
                    }
                    const float weight = (1.0f - alpha) * opacity;
                    r += weight * cr;
                    g += weight * cg;
                    bl += weight * cb;
                    alpha += weight;
                }
            } else {
                float maximum = std::numeric_limits<float>::lowest();
                float minimum = std::numeric_limits<float>::max();
                double sum = 0.0;
                int taken = 0;
                for (int i = first; i <= last;) {
                    const float t = start + dt * float(i);
                    const float fx = o[0] + d[0] * t, fy = o[1] + d[1] * t, fz = o[2] + d[2] * t;
                    if (mipMode != 2 && taken > 0) {
                        int bx, by, bz;
                        const std::size_t block = blockIndex(fx, fy, fz, bx, by, bz);
                        if ((mipMode == 0 && m_blockMax[block] <= maximum)
                            || (mipMode == 1 && m_blockMin[block] >= minimum)) {
                            i = pastBlock(i, bx, by, bz);
                            continue;
                        }
                    }
                    ++i;
                    if (cutting && parameters.cutOuts.hides(origin + rayDir * t))
                        continue;
                    const float value = grid.sample(fx, fy, fz);
                    maximum = std::max(maximum, value);
                    minimum = std::min(minimum, value);
                    sum += double(value);
                    ++taken;
                }
                float value = float(camera.level - camera.width);
                if (taken > 0)
                    value = mipMode == 0 ? maximum : mipMode == 1 ? minimum : float(sum / taken);
                const float grey = std::clamp((value - windowLow) * windowScale, 0.0f, 1.0f);
                r = g = bl = grey;
            }
            line[column] = qRgb(toByte(r), toByte(g), toByte(bl));
        }
    };
    const int threads = m_threads > 0 ? m_threads : defaultThreadCount();
    // Rows interleaved over the threads: the middle of the picture costs the most.
    const int lanes = std::max(1, threads) * 2;
    runInChunks(lanes, threads, [&](int begin, int end) {
        for (int lane = begin; lane < end; ++lane)
            for (int row = lane; row < height; row += lanes)
                renderRow(row);
    });
    return image;
}

} // namespace render
