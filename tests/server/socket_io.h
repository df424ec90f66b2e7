#pragma once

#include <sys/socket.h>

#include <cerrno>
#include <string_view>

// Sends every byte on a blocking socket; false once the peer takes no more.
inline bool SendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}
