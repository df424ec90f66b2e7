#pragma once

#include <cstddef>

// Asks the kernel to back a large block that is about to be written with
// huge pages. Each first touch of a normal page is a page fault; on a
// virtual machine a fault can cost as much as copying many kilobytes, and a
// list of a million customers touches over a hundred thousand pages. The
// kernel then clears whole 2 MiB pages, yet a first load in a fresh client
// still takes a third to a quarter of the time it takes without them
// (scripts/bench, window_cold_1m). Blocks below a few megabytes are left
// alone.
void AdviseHugePages(void* begin, std::size_t bytes);
