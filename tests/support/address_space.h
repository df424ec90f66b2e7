#pragma once

// Limits on the process's address space, for tests of what happens when
// memory runs out. Meant for a child process (a death test): the limit
// stays for the rest of the process.

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>

namespace address_space {

// Bytes of address space the process holds now.
inline std::int64_t InUse()
{
    std::int64_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    return pages * sysconf(_SC_PAGESIZE);
}

// From now on the process may take at most `bytes` more.
inline bool AllowOnly(std::int64_t bytes)
{
    const rlimit limit{rlim_t(InUse() + bytes), rlim_t(InUse() + bytes)};
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

} // namespace address_space
