#include "memory_tuning.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

void AdviseHugePages(void* begin, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t Worthwhile = std::size_t(4) << 20;
    if (bytes < Worthwhile)
        return;
    static const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = (std::uintptr_t(begin) + page - 1) & ~(page - 1);
    const std::uintptr_t last = (std::uintptr_t(begin) + bytes) & ~(page - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE); // advice only
#else
    (void)begin;
    (void)bytes;
#endif
}
