// loadDecodedFrame on arbitrary bytes: the value decoder behind measurements,
// ROI statistics and volume building.

#include "FuzzSupport.h"

#include "viewer/FrameDecoder.h"

#include <climits>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    velmaris::fuzz::prepareProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const velmaris::fuzz::TmpfsFile file(data, size, ".dcm");
    if (!file.ok())
        return 0;
    render::DecodedFrame frame;
    if (!render::loadDecodedFrame(frame, file.path(), 0))
        return 0;
    (void)render::valueAt(frame, frame.width - 1, frame.height - 1);
    // The index is clamped to the last frame; the parse comes from the cache.
    (void)render::loadDecodedFrame(frame, file.path(), INT_MAX);
    return 0;
}
