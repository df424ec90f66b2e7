#pragma once

// The test program's operator new, which a test can make fail once: for
// checking what an allocation failure deep inside a call leaves behind.
// Allocations through malloc (Qt's containers) are not affected.
namespace failing_allocation {

// The next allocation through operator new on this thread throws
// std::bad_alloc.
void FailNextOnThisThread();
// Whether that failure is still to come.
bool FailurePending();

} // namespace failing_allocation
