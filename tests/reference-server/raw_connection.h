#pragma once

// A plain TCP client for the server's wire tests: it writes exactly the bytes
// a test gives and reads back whatever comes.

#include "socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace refserver_test {

// One client connection, written and read byte for byte.
class RawConnection
{
public:
    explicit RawConnection(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 ||
            ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to the test server");
    }
    ~RawConnection()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // False once the server takes no more bytes.
    bool send(std::string_view bytes) { return SendAll(m_fd, bytes); }

    int fd() const { return m_fd; }

    // Everything the server sends until it closes the connection or `wait`
    // has passed; `closed` tells which.
    std::string receive(std::chrono::milliseconds wait, bool* closed = nullptr)
    {
        using Clock = std::chrono::steady_clock;
        if (closed)
            *closed = false;
        const auto deadline = Clock::now() + wait;
        std::string received;
        char buffer[16384];
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                continue;
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (closed)
                    *closed = true;
                break;
            }
            received.append(buffer, std::size_t(n));
        }
        return received;
    }

    // Ends the client's side: the server reads the end of the request.
    void closeSending() { ::shutdown(m_fd, SHUT_WR); }

    // True when the server sent something or closed within `wait`.
    bool answered(std::chrono::milliseconds wait) const
    {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, int(wait.count())) > 0;
    }

private:
    int m_fd = -1;
};

// An answer as it came off the wire: status, head and body.
struct RawAnswer
{
    int status = 0;
    std::string head; // status line and headers
    std::string body;

    std::string header(std::string_view name) const
    {
        std::size_t at = head.find("\r\n");
        while (at != std::string::npos && at + 2 < head.size()) {
            const std::size_t end = head.find("\r\n", at + 2);
            const std::string line = head.substr(at + 2, end - at - 2);
            const std::size_t colon = line.find(':');
            if (colon == name.size() &&
                std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
                    return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
                }))
                return line.substr(line.find_first_not_of(' ', colon + 1));
            at = end;
        }
        return {};
    }
};

inline RawAnswer ParseAnswer(const std::string& bytes)
{
    RawAnswer answer;
    const std::size_t end = bytes.find("\r\n\r\n");
    answer.head = bytes.substr(0, end);
    if (end != std::string::npos)
        answer.body = bytes.substr(end + 4);
    if (bytes.rfind("HTTP/1.", 0) == 0 && bytes.size() > 12)
        answer.status = std::atoi(bytes.c_str() + 9);
    return answer;
}

} // namespace refserver_test
