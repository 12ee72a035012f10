#include "volume/ParallelChunks.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace render {

int defaultThreadCount()
{
    const unsigned reported = std::thread::hardware_concurrency();
    return std::min(reported == 0 ? 4 : int(reported), 16);
}

void runInChunks(int count, int threads, const std::function<void(int, int)> &work)
{
    if (count <= 0)
        return;
    if (threads < 2 || count < 2 * threads) {
        work(0, count);
        return;
    }
    const int chunk = (count + threads - 1) / threads;
    std::vector<std::thread> running;
    running.reserve(std::size_t(threads));
    for (int begin = 0; begin < count; begin += chunk)
        running.emplace_back(work, begin, std::min(begin + chunk, count));
    for (std::thread &thread : running)
        thread.join();
}

} // namespace render
