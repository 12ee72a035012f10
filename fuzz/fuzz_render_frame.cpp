// renderFrame on arbitrary bytes: DicomImage behind every picture the viewer
// and the exporters draw.

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
    // The middle frame under the file's own window, then the last one under a
    // given window (the same file: the second call may reuse the first's image).
    const render::RenderedFrame first = render::renderFrame(file.path(), -1, {});
    if (!first.ok)
        return 0;
    (void)render::renderFrame(file.path(), INT_MAX, {40.0, 400.0, true});
    return 0;
}
