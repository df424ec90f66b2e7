#include "cutting_proxy.h"

#include "socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace scripted {

namespace {

// Appends what one read brings; false at the end of the stream.
bool ReadSome(int fd, std::string& into)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        into.append(buffer, std::size_t(n));
        return true;
    }
}

// The Content-Length of a request head, 0 without one.
std::size_t BodyLength(const std::string& head)
{
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const std::size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return std::size_t(std::strtoull(head.c_str() + at + 17, nullptr, 10));
}

int ConnectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace

CuttingProxy::CuttingProxy(int serverPort, std::string path, int cuts)
    : m_serverPort(serverPort), m_path(std::move(path)), m_cutsLeft(cuts)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("the cutting proxy cannot listen");
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

CuttingProxy::~CuttingProxy()
{
    // Wakes the blocked accept, which then fails.
    ::shutdown(m_listenFd, SHUT_RDWR);
    m_acceptor.join();
    ::close(m_listenFd);
    for (std::thread& t : m_relays)
        t.join();
}

std::string CuttingProxy::address(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

void CuttingProxy::acceptLoop()
{
    for (;;) {
        const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        std::lock_guard lock(m_mutex);
        m_relays.emplace_back([this, client] { relay(client); });
    }
}

void CuttingProxy::relay(int client)
{
    std::string request;
    std::size_t headEnd = std::string::npos;
    while ((headEnd = request.find("\r\n\r\n")) == std::string::npos)
        if (!ReadSome(client, request)) {
            ::close(client);
            return;
        }
    const std::size_t whole = headEnd + 4 + BodyLength(request.substr(0, headEnd + 2));
    while (request.size() < whole)
        if (!ReadSome(client, request)) {
            ::close(client);
            return;
        }

    std::string answer;
    const int server = ConnectTo(m_serverPort);
    if (server >= 0) {
        if (SendAll(server, request))
            while (ReadSome(server, answer)) {
            }
        ::close(server);
    }

    const std::size_t targetStart = request.find(' ') + 1;
    const bool chosen = request.compare(targetStart, m_path.size(), m_path) == 0;
    if (chosen && m_cutsLeft.fetch_sub(1) > 0)
        ++m_cut;
    else
        SendAll(client, answer);
    ::close(client);
}

} // namespace scripted
