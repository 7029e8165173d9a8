#include "measure/analysis/parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

void forEachInParallel(size_t count, size_t workers,
                       const std::function<void(size_t index, size_t worker)>& job) {
    std::atomic<size_t> next{0};
    auto work = [&](size_t worker) {
        for (size_t i = next++; i < count; i = next++) {
            job(i, worker);
        }
    };
    std::vector<std::thread> pool;
    for (size_t w = 1; w < std::min(workers, count); ++w) {
        pool.emplace_back(work, w);
    }
    work(0);
    for (std::thread& thread : pool) {
        thread.join();
    }
}

size_t machineThreads() {
    return std::max(1u, std::thread::hardware_concurrency());
}
