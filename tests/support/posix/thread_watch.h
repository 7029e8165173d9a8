// What threads other than a chosen one take while a test watches: this binary's malloc
// family and pthread lock calls count them. Include in one file of a test binary only: it
// defines malloc and the lock calls for the whole binary.
#pragma once

#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

// Sanitizers bring their own malloc and lock interceptors, which these would collide with.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVANE_OWN_INTERCEPTORS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define KORVANE_OWN_INTERCEPTORS 0
#endif
#endif
#ifndef KORVANE_OWN_INTERCEPTORS
#define KORVANE_OWN_INTERCEPTORS 1
#endif

namespace {

// Set while a test watches: every thread but mainThread counts, or with onlyMarked only the
// threads that set markedThread.
std::atomic<bool> watching{false};
pthread_t mainThread;
std::atomic<bool> onlyMarked{false};
thread_local bool markedThread = false;
std::atomic<long> allocations{0};
std::atomic<long> locks{0};

[[maybe_unused]] bool offMainThread() {
    if (!watching.load(std::memory_order_acquire)) {
        return false;
    }
    return onlyMarked.load(std::memory_order_relaxed)
               ? markedThread
               : pthread_equal(pthread_self(), mainThread) == 0;
}

[[maybe_unused]] void noteAllocation() {
    if (offMainThread()) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

[[maybe_unused]] void noteLock() {
    if (offMainThread()) {
        locks.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace

#if KORVANE_OWN_INTERCEPTORS

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    noteAllocation();
    return __libc_realloc(block, size);
}
void* memalign(size_t alignment, size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** block, size_t alignment, size_t size) {
    noteAllocation();
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) {
        return ENOMEM;
    }
    *block = p;
    return 0;
}
// A free on the streaming path would need an allocation elsewhere on it; a thread's end
// gives back its start block, so frees are not counted.
void free(void* block) {
    __libc_free(block);
}
}

namespace {

// Looked up at the first call: other libraries lock before this file's statics exist. The
// look-up itself locks only inside the loader, through calls of its own.
template <typename F> F next(std::atomic<F>& slot, const char* name) {
    F f = slot.load(std::memory_order_acquire);
    if (f == nullptr) {
        f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
        slot.store(f, std::memory_order_release);
    }
    return f;
}

} // namespace

// A blocking call that counts as a lock before the real one runs; the real one is found at
// the first call. Its slot is constant-initialized, so it is there before any call.
#define COUNTED_LOCK(function, params, args)                                                       \
    int function params {                                                                          \
        static std::atomic<int(*) params> real{nullptr};                                           \
        noteLock();                                                                                \
        return next(real, #function) args;                                                         \
    }

extern "C" {
COUNTED_LOCK(pthread_mutex_lock, (pthread_mutex_t * mutex), (mutex))
COUNTED_LOCK(pthread_mutex_trylock, (pthread_mutex_t * mutex), (mutex))
COUNTED_LOCK(pthread_mutex_timedlock, (pthread_mutex_t * mutex, const timespec* until),
             (mutex, until))
COUNTED_LOCK(pthread_rwlock_rdlock, (pthread_rwlock_t * lock), (lock))
COUNTED_LOCK(pthread_rwlock_wrlock, (pthread_rwlock_t * lock), (lock))
COUNTED_LOCK(pthread_spin_lock, (pthread_spinlock_t * lock), (lock))
COUNTED_LOCK(pthread_cond_wait, (pthread_cond_t * condition, pthread_mutex_t* mutex),
             (condition, mutex))
COUNTED_LOCK(pthread_cond_timedwait,
             (pthread_cond_t * condition, pthread_mutex_t* mutex, const timespec* until),
             (condition, mutex, until))
COUNTED_LOCK(sem_wait, (sem_t * semaphore), (semaphore))
}

#endif
