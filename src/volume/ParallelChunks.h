#pragma once

#include <functional>

// The split of per-slice and per-row loops over threads of their own, joined
// before the call returns.
namespace render {

// The runtime's hardware concurrency, 4 when it reports none, at most 16.
int defaultThreadCount();

// Calls work(begin, end) over consecutive chunks of ceil(count / threads)
// items of 0 … count − 1, one thread per non-empty chunk. With fewer than 2
// threads, or fewer than 2 × threads items, the calling thread does all.
void runInChunks(int count, int threads, const std::function<void(int begin, int end)> &work);

} // namespace render
