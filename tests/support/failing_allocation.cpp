#include "failing_allocation.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool failNext = false;

} // namespace

void failing_allocation::FailNextOnThisThread()
{
    failNext = true;
}

bool failing_allocation::FailurePending()
{
    return failNext;
}

// The replacements every other form of new and delete ends in.
void* operator new(std::size_t size)
{
    if (failNext) {
        failNext = false;
        throw std::bad_alloc();
    }
    for (;;) {
        if (void* p = std::malloc(size == 0 ? 1 : size))
            return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
