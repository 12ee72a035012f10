#pragma once

#include "volume/Volume.h"
#include "volume/VolumeRenderParameters.h"

#include <QImage>
#include <QSize>

#include <memory>
#include <vector>

namespace render {

// The ray caster on the CPU: the same rays, samples, transfer texture,
// compositing and cut-outs as the GPU path, over rows on threads of its own.
// Empty space is skipped by blocks of 8³ voxels whose value range cannot
// show (VRT) or cannot change the result (MIP, MinIP).
class SoftwareVolumeRenderer
{
public:
    SoftwareVolumeRenderer() = default;
    explicit SoftwareVolumeRenderer(std::shared_ptr<const Volume> volume) { setVolume(std::move(volume)); }

    // Scans the block ranges once per volume.
    void setVolume(std::shared_ptr<const Volume> volume);
    const std::shared_ptr<const Volume> &volume() const { return m_volume; }
    // Rendering threads; 0: the hardware's.
    void setThreads(int threads) { m_threads = threads; }

    // The picture of `size` (Format_RGB32, black background); a black one
    // without a usable volume. `steps` receives the step count used.
    QImage render(const VolumeRenderParameters &parameters, const QSize &size, int *steps = nullptr) const;

private:
    std::shared_ptr<const Volume> m_volume;
    std::vector<float> m_blockMin;
    std::vector<float> m_blockMax;
    int m_blocksX = 0;
    int m_blocksY = 0;
    int m_blocksZ = 0;
    int m_threads = 0;
};

} // namespace render
