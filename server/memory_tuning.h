#pragma once

#include <cstddef>

// Asks the kernel to back a large block that is about to be written with
// huge pages. Each first touch of a normal page is a page fault; on a
// virtual machine a fault can cost as much as copying many kilobytes, and a
// list of a million customers touches over a hundred thousand pages.
// Blocks below a few megabytes are left alone.
void AdviseHugePages(void* begin, std::size_t bytes);

// Lets freed blocks of up to tens of megabytes (a loaded list's number
// columns, its entries) stay in the process for the next load instead of
// going back to the kernel and faulting in again. For programs that load
// large lists again and again; called once at start-up.
void KeepFreedBlocksForReuse();
