// Independent jobs 0 .. count - 1 spread over the machine's cores: each thread takes the
// next job not yet taken. The companions are not bound by the player's one-thread design.
#pragma once

#include <cstddef>
#include <functional>

// job(index, worker) for every index; worker (0 .. workers - 1) tells the calling thread
// apart, so that a job may use what its thread keeps. Returns when every job is done.
void forEachInParallel(size_t count, size_t workers,
                       const std::function<void(size_t index, size_t worker)>& job);
// How many threads the machine runs at once, at least 1.
size_t machineThreads();
