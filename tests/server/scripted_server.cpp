#include "scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace scripted {

namespace {

constexpr std::string_view HeadEnd = "\r\n\r\n";

std::runtime_error SystemError(const char* what)
{
    return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

bool EqualsCaseBlind(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The header lines of a head, without the request line and the blank line.
std::vector<std::string_view> HeaderLines(std::string_view head)
{
    std::vector<std::string_view> lines;
    std::size_t pos = head.find("\r\n");
    if (pos == std::string_view::npos)
        return lines;
    pos += 2;
    while (pos < head.size()) {
        const std::size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos || end == pos)
            break;
        lines.push_back(head.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

int ListenOn127(int backlog, int* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw SystemError("socket");
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        (backlog >= 0 && ::listen(fd, backlog) != 0)) {
        const auto error = SystemError("bind/listen");
        ::close(fd);
        throw error;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *port = ntohs(addr.sin_port);
    return fd;
}

std::string LocalAddress(int port, std::string_view path)
{
    return "http://127.0.0.1:" + std::to_string(port) + std::string(path);
}

enum class Wait
{
    Ready,
    Stopped,
    TimedOut
};

// Waits for `events` on fd (or only for the timeout when fd < 0), giving up
// as soon as the wake pipe says the server is going away.
Wait WaitFor(int fd, short events, int wakeFd, int timeoutMs)
{
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, events, 0}};
    const nfds_t count = fd >= 0 ? 2 : 1;
    for (;;) {
        const int n = ::poll(fds, count, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Wait::TimedOut;
        if (fds[0].revents != 0)
            return Wait::Stopped;
        return Wait::Ready;
    }
}

} // namespace

// ---------------------------------------------------------------------------

std::string RecordedRequest::requestLine() const
{
    const std::size_t end = raw.find("\r\n");
    return raw.substr(0, end == std::string::npos ? raw.size() : end);
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const
{
    std::vector<std::string> values = headerValues(name);
    if (values.empty())
        return std::nullopt;
    return values.front();
}

std::vector<std::string> RecordedRequest::headerValues(std::string_view name) const
{
    std::vector<std::string> values;
    for (std::string_view line : HeaderLines(std::string_view(raw).substr(0, headSize))) {
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            EqualsCaseBlind(TrimBlanks(line.substr(0, colon)), name))
            values.emplace_back(TrimBlanks(line.substr(colon + 1)));
    }
    return values;
}

std::vector<std::string> RecordedRequest::headerNames() const
{
    std::vector<std::string> names;
    for (std::string_view line : HeaderLines(std::string_view(raw).substr(0, headSize)))
        names.emplace_back(TrimBlanks(line.substr(0, line.find(':'))));
    return names;
}

std::string RecordedRequest::body() const
{
    return headSize == 0 ? std::string() : raw.substr(headSize);
}

std::string ResponseBytes(std::string_view statusLine, std::vector<std::string> headers,
                          std::string_view body)
{
    const bool framed = std::any_of(headers.begin(), headers.end(), [](const std::string& h) {
        const std::string_view name = TrimBlanks(std::string_view(h).substr(0, h.find(':')));
        return EqualsCaseBlind(name, "Content-Length") ||
               EqualsCaseBlind(name, "Transfer-Encoding");
    });
    std::string out(statusLine);
    out += "\r\n";
    for (const std::string& h : headers)
        out += h + "\r\n";
    if (!framed)
        out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "\r\n";
    out += body;
    return out;
}

Exchange Answer(std::string_view statusLine, std::vector<std::string> headers,
                std::string_view body)
{
    return Exchange{{Piece{0, ResponseBytes(statusLine, std::move(headers), body)}}, Ending::Close};
}

// ---------------------------------------------------------------------------

ScriptedServer::ScriptedServer(std::vector<Exchange> script) : m_script(std::move(script))
{
    m_listenFd = ListenOn127(16, &m_port);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(m_listenFd);
        throw SystemError("pipe2");
    }
    m_wakeRead = pipeFds[0];
    m_wakeWrite = pipeFds[1];
    m_acceptor = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer()
{
    // The byte is never read, so every poll that includes the pipe wakes.
    const char stop = 'x';
    [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite, &stop, 1);
    m_acceptor.join();
    std::vector<std::thread> handlers;
    {
        std::lock_guard lock(m_mutex);
        handlers.swap(m_handlers);
    }
    for (std::thread& t : handlers)
        t.join();
    ::close(m_listenFd);
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
}

std::string ScriptedServer::address(std::string_view path) const
{
    return LocalAddress(m_port, path);
}

std::vector<RecordedRequest> ScriptedServer::waitForRequests(std::size_t count,
                                                             std::chrono::milliseconds wait) const
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, wait, [&] { return m_requests.size() >= count; });
    return m_requests;
}

std::vector<RecordedRequest> ScriptedServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t ScriptedServer::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

std::string ScriptedServer::strayBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_stray;
}

void ScriptedServer::acceptLoop()
{
    for (;;) {
        if (WaitFor(m_listenFd, POLLIN, m_wakeRead, -1) != Wait::Ready)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::lock_guard lock(m_mutex);
        const std::size_t index = m_connections++;
        m_handlers.emplace_back([this, fd, index] { serve(fd, index); });
        m_changed.notify_all();
    }
}

void ScriptedServer::record(RecordedRequest request)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back(std::move(request));
    m_changed.notify_all();
}

// False when the server is stopping or the client has gone away.
bool ScriptedServer::writePiece(int fd, const Piece& piece)
{
    if (piece.pauseMs > 0 && WaitFor(-1, 0, m_wakeRead, piece.pauseMs) == Wait::Stopped)
        return false;
    std::size_t sent = 0;
    while (sent < piece.bytes.size()) {
        if (WaitFor(fd, POLLOUT, m_wakeRead, -1) != Wait::Ready)
            return false;
        const ssize_t n =
            ::send(fd, piece.bytes.data() + sent, piece.bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until the client closes (or the server stops) so that closing never
// finds unread data, which would turn the close into a reset.
void ScriptedServer::drain(int fd)
{
    char buffer[4096];
    for (;;) {
        if (WaitFor(fd, POLLIN, m_wakeRead, -1) != Wait::Ready)
            return;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return;
        std::lock_guard lock(m_mutex);
        m_stray.append(buffer, static_cast<std::size_t>(n));
        // A reused connection. Nothing will answer here, so closing lets the
        // client fail or go elsewhere instead of waiting for ever.
        return;
    }
}

void ScriptedServer::serve(int fd, std::size_t index)
{
    const Exchange* exchange = index < m_script.size() ? &m_script[index] : nullptr;
    if (exchange == nullptr || exchange->ending == Ending::CloseOnAccept) {
        // A FIN, not a reset, even if the request is already on its way.
        ::shutdown(fd, SHUT_WR);
        char buffer[4096];
        while (WaitFor(fd, POLLIN, m_wakeRead, -1) == Wait::Ready) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                break;
        }
        ::close(fd);
        return;
    }

    RecordedRequest request;
    request.connection = index;
    std::size_t contentLength = 0;
    char buffer[16384];
    for (;;) {
        if (request.headSize != 0 && request.raw.size() >= request.headSize + contentLength) {
            request.complete = true;
            break;
        }
        if (WaitFor(fd, POLLIN, m_wakeRead, -1) != Wait::Ready)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        request.raw.append(buffer, static_cast<std::size_t>(n));
        if (request.headSize == 0) {
            const std::size_t end = request.raw.find(HeadEnd);
            if (end != std::string::npos) {
                request.headSize = end + HeadEnd.size();
                if (const auto length = request.header("Content-Length"))
                    std::from_chars(length->data(), length->data() + length->size(), contentLength);
            }
        }
    }
    // Bytes past the announced body belong to no request of this script.
    if (request.complete && request.raw.size() > request.headSize + contentLength) {
        std::lock_guard lock(m_mutex);
        m_stray += request.raw.substr(request.headSize + contentLength);
        request.raw.resize(request.headSize + contentLength);
    }
    const bool complete = request.complete;
    record(std::move(request));

    if (complete) {
        for (const Piece& piece : exchange->response) {
            if (!writePiece(fd, piece)) {
                ::close(fd);
                return;
            }
        }
        if (exchange->ending == Ending::Endless && !exchange->response.empty()) {
            while (writePiece(fd, exchange->response.back())) {
            }
            ::close(fd);
            return;
        }
        if (exchange->ending == Ending::Close)
            ::shutdown(fd, SHUT_WR);
    }
    drain(fd);
    ::close(fd);
}

// ---------------------------------------------------------------------------

RefusingPort::RefusingPort()
{
    // Bound but not listening: the port stays ours and every SYN is reset.
    m_fd = ListenOn127(-1, &m_port);
}

RefusingPort::~RefusingPort()
{
    ::close(m_fd);
}

std::string RefusingPort::address(std::string_view path) const
{
    return LocalAddress(m_port, path);
}

// ---------------------------------------------------------------------------

namespace {

// Starts a non-blocking connect and tells whether it completed within `wait`.
bool ConnectWithin(int fd, int port, std::chrono::milliseconds wait)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return true;
    if (errno != EINPROGRESS)
        return true; // refused or failed: an answer all the same
    pollfd p{fd, POLLOUT, 0};
    int n;
    do {
        n = ::poll(&p, 1, static_cast<int>(wait.count()));
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

} // namespace

HangingConnectTarget::HangingConnectTarget(std::chrono::milliseconds giveUpAfter)
{
    m_listenFd = ListenOn127(0, &m_port);
    // Connections complete until the accept queue is full; the first one
    // that does not is left pending, and so is every one after it.
    for (int i = 0; i < 64; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            break;
        m_fillers.push_back(fd);
        if (!ConnectWithin(fd, m_port, std::chrono::milliseconds(200))) {
            m_closer = std::thread([this, giveUpAfter] {
                std::unique_lock lock(m_mutex);
                if (!m_stopping.wait_for(lock, giveUpAfter, [this] { return m_stop; }))
                    closeAll();
            });
            return;
        }
    }
    closeAll();
    throw std::runtime_error("the accept queue of a backlog-0 listener did not fill");
}

HangingConnectTarget::~HangingConnectTarget()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_stopping.notify_all();
    if (m_closer.joinable())
        m_closer.join();
    closeAll();
}

void HangingConnectTarget::closeAll()
{
    for (int fd : m_fillers)
        ::close(fd);
    m_fillers.clear();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = -1;
}

std::string HangingConnectTarget::address(std::string_view path) const
{
    return LocalAddress(m_port, path);
}

bool HangingConnectTarget::hangs(std::chrono::milliseconds wait) const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_listenFd < 0)
            return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const bool answered = ConnectWithin(fd, m_port, wait);
    ::close(fd);
    return !answered;
}

} // namespace scripted
