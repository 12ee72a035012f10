#pragma once

namespace render {

// How a thick slab folds its parallel samples into one pixel; the values are
// the ones stored and passed around as plain ints by the reslicer.
enum class SlabMode { Thin = 0, Mip = 1, MinIp = 2, Mean = 3 };

} // namespace render
