#include "bench/MallocCount.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

#include <malloc.h>

#include <unistd.h>

// glibc's own entry points; forwarding to them keeps one heap for everybody.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t size);
void __libc_free(void *p);
void *__libc_memalign(size_t alignment, size_t size);
}

namespace {
std::atomic<bool> g_on{false};
std::atomic<std::uint64_t> g_count{0};
std::atomic<std::uint64_t> g_bytes{0};
std::atomic<std::uint64_t> g_largest{0};

[[maybe_unused]] inline void note(size_t size)
{
    if (!g_on.load(std::memory_order_relaxed))
        return;
    g_count.fetch_add(1, std::memory_order_relaxed);
    g_bytes.fetch_add(size, std::memory_order_relaxed);
    std::uint64_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) { }
}

[[maybe_unused]] bool validAlignment(size_t alignment)
{
    return alignment >= sizeof(void *) && (alignment & (alignment - 1)) == 0;
}
} // namespace

namespace MallocCount {
bool available()
{
#ifdef ADS_BENCH_NO_MALLOC_HOOK
    return false;
#else
    return true;
#endif
}
void start()
{
    g_largest.store(0, std::memory_order_relaxed);
    g_on.store(true, std::memory_order_relaxed);
}
void stop()
{
    g_on.store(false, std::memory_order_relaxed);
}
std::uint64_t count()
{
    return g_count.load(std::memory_order_relaxed);
}
std::uint64_t bytes()
{
    return g_bytes.load(std::memory_order_relaxed);
}
std::uint64_t largest()
{
    return g_largest.load(std::memory_order_relaxed);
}
void reset()
{
    g_count.store(0, std::memory_order_relaxed);
    g_bytes.store(0, std::memory_order_relaxed);
    g_largest.store(0, std::memory_order_relaxed);
}
} // namespace MallocCount

#ifndef ADS_BENCH_NO_MALLOC_HOOK
// The project builds with hidden visibility; these must be exported so that
// shared libraries bind to them rather than to libc's.
#define BENCH_EXPORT extern "C" __attribute__((visibility("default")))

BENCH_EXPORT void *malloc(size_t size) noexcept
{
    note(size);
    return __libc_malloc(size);
}

BENCH_EXPORT void *calloc(size_t n, size_t size) noexcept
{
    size_t total = 0;
    note(__builtin_mul_overflow(n, size, &total) ? SIZE_MAX : total);
    return __libc_calloc(n, size);
}

BENCH_EXPORT void *realloc(void *p, size_t size) noexcept
{
    note(size);
    return __libc_realloc(p, size);
}

BENCH_EXPORT void free(void *p) noexcept
{
    __libc_free(p);
}

BENCH_EXPORT int posix_memalign(void **out, size_t alignment, size_t size) noexcept
{
    if (!validAlignment(alignment))
        return EINVAL;
    note(size);
    void *p = __libc_memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

BENCH_EXPORT void *aligned_alloc(size_t alignment, size_t size) noexcept
{
    note(size);
    return __libc_memalign(alignment, size);
}

BENCH_EXPORT void *memalign(size_t alignment, size_t size) noexcept
{
    note(size);
    return __libc_memalign(alignment, size);
}

BENCH_EXPORT void *valloc(size_t size) noexcept
{
    note(size);
    return __libc_memalign(size_t(sysconf(_SC_PAGESIZE)), size);
}
#endif // ADS_BENCH_NO_MALLOC_HOOK
