#include "listener.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace refserver {

namespace {

using Clock = std::chrono::steady_clock;

// After an answer, what the client still sends is read and dropped for a
// while before closing: closing with unread bytes resets the connection,
// and the client may lose the answer with it.
constexpr auto LingerTime = std::chrono::seconds(1);
constexpr std::size_t LingerBytes = 1 << 20;

thread_local Connection* t_current = nullptr;

int MillisecondsUntil(Clock::time_point deadline, Clock::time_point now)
{
    if (deadline <= now)
        return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return int(std::min<long long>(left, 60'000));
}

std::string Numeric(const sockaddr_storage& address, socklen_t length, int& port)
{
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "";
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    port = std::atoi(service);
    return host;
}

std::string PeerOf(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int port = 0;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    return Numeric(address, length, port);
}

// The head ends with an empty line; the library takes only CR LF for it.
std::size_t HeadEnd(const std::string& received, std::size_t searchFrom)
{
    const std::size_t at = received.find("\n\r\n", searchFrom);
    return at == std::string::npos ? at : at + 3;
}

} // namespace

std::string DurationText(std::chrono::milliseconds time)
{
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(time).count();
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

Connection::Connection(Link& link, std::string received, std::size_t headSize,
                       const ListenerLimits& limits)
    : m_link(link), m_buffer(std::move(received)),
      m_bodyBudget(limits.bodyWireBytes -
                   std::min(limits.bodyWireBytes, m_buffer.size() - headSize)),
      m_bodyDeadline(Clock::now() + limits.bodyTime), m_writeTime(limits.writeTime),
      m_answerRate(std::max<std::size_t>(limits.answerBytesPerSecond, 1))
{
}

Connection* Connection::Current()
{
    return t_current;
}

bool Connection::is_readable() const
{
    if (m_offset < m_buffer.size() || m_link.hasPending())
        return true;
    pollfd p{m_link.fd, POLLIN, 0};
    return ::poll(&p, 1, MillisecondsUntil(m_bodyDeadline, Clock::now())) > 0;
}

bool Connection::is_writable() const
{
    pollfd p{m_link.fd, POLLOUT, 0};
    return ::poll(&p, 1, int(m_writeTime.count())) > 0;
}

ssize_t Connection::read(char* ptr, size_t size)
{
    if (m_offset == m_buffer.size()) {
        if (m_bodyBudget == 0) {
            m_overran = true;
            return -1;
        }
        m_buffer.resize(std::min<std::size_t>(16384, m_bodyBudget));
        m_offset = 0;
        for (;;) {
            const auto now = Clock::now();
            if (now >= m_bodyDeadline) {
                m_buffer.clear();
                m_timedOut = true;
                return -1;
            }
            // A TLS session may hold decrypted bytes the socket no longer
            // shows, so read first and wait only when told to.
            const Link::Result r = m_link.receive(m_buffer.data(), m_buffer.size());
            if (r.status == Link::Status::Done) {
                m_buffer.resize(r.count);
                m_bodyBudget -= r.count;
                break;
            }
            if (r.status == Link::Status::Closed) {
                m_buffer.clear();
                return 0;
            }
            pollfd p{m_link.fd, r.status == Link::Status::WantRead ? short(POLLIN) : short(POLLOUT),
                     0};
            ::poll(&p, 1, MillisecondsUntil(m_bodyDeadline, now));
        }
    }
    const std::size_t n = std::min(size, m_buffer.size() - m_offset);
    std::memcpy(ptr, m_buffer.data() + m_offset, n);
    m_offset += n;
    return ssize_t(n);
}

ssize_t Connection::write(const char* ptr, size_t size)
{
    const auto start = Clock::now();
    if (!m_answerStart)
        m_answerStart = start;
    // The sooner of this write's own time and the time the whole answer may
    // have taken so far at the least rate.
    const auto rateDeadline =
        *m_answerStart + m_writeTime +
        std::chrono::milliseconds(std::uint64_t(m_written + size) * 1000 / m_answerRate);
    const auto deadline = std::min(start + m_writeTime, rateDeadline);
    for (;;) {
        const Link::Result r = m_link.send(ptr, size);
        if (r.status == Link::Status::Done) {
            m_written += r.count;
            return ssize_t(r.count);
        }
        if (r.status == Link::Status::Closed)
            return -1;
        const auto now = Clock::now();
        if (now >= deadline)
            return -1;
        pollfd p{m_link.fd, r.status == Link::Status::WantRead ? short(POLLIN) : short(POLLOUT), 0};
        ::poll(&p, 1, MillisecondsUntil(deadline, now));
    }
}

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(m_link.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        ip = Numeric(address, length, port);
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(m_link.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        ip = Numeric(address, length, port);
}

Listener::Listener(ListenerLimits limits, Serve serve, Refusal refusal,
                   std::shared_ptr<const TlsContext> tls)
    : m_limits(limits), m_serve(std::move(serve)), m_refusal(std::move(refusal)),
      m_tls(std::move(tls)), m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

Listener::~Listener()
{
    stop();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

bool Listener::bind(const std::string& host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints,
                    &found) != 0)
        return false;
    for (addrinfo* a = found; a && m_listenFd < 0; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        // Not SO_REUSEPORT: a second server must not share a taken port.
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (a->ai_family == AF_INET6) {
            const int no = 0;
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        }
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0)
            m_listenFd = fd;
        else
            ::close(fd);
    }
    freeaddrinfo(found);
    if (m_listenFd < 0)
        return false;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    Numeric(address, length, m_port);
    return m_port > 0;
}

void Listener::stop()
{
    m_stopping = true;
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
    }
}

void Listener::run()
{
    if (m_listenFd < 0)
        return;
    for (int i = 0; i < m_limits.workers; ++i)
        m_workers.emplace_back([this] { work(); });

    std::vector<pollfd> fds;
    while (!m_stopping) {
        auto now = Clock::now();
        {
            std::lock_guard lock(m_mutex);
            for (const Link& link : m_handedBack)
                m_waiting.push_back({.link = link, .deadline = now + LingerTime, .draining = true});
            m_handedBack.clear();
        }

        fds.clear();
        fds.push_back({m_wakeFd, POLLIN, 0});
        const bool accepting = now >= m_acceptPausedUntil;
        fds.push_back({accepting ? m_listenFd : -1, POLLIN, 0});
        Clock::time_point next = now + std::chrono::seconds(60);
        if (!accepting)
            next = std::min(next, m_acceptPausedUntil);
        for (const Waiting& w : m_waiting) {
            fds.push_back({w.link.fd, w.draining ? short(POLLIN) : w.events, 0});
            next = std::min(next, w.deadline);
        }
        if (::poll(fds.data(), fds.size(), MillisecondsUntil(next, now)) < 0 && errno != EINTR)
            break;
        now = Clock::now();

        if (fds[0].revents) {
            std::uint64_t count;
            [[maybe_unused]] const auto read = ::read(m_wakeFd, &count, sizeof count);
        }
        for (std::size_t i = 0; i < m_waiting.size(); ++i) {
            Waiting& w = m_waiting[i];
            if (fds[i + 2].revents == 0)
                continue;
            if (!(w.draining ? drain(w) : readHead(w, now)))
                w.link.fd = -1;
        }
        for (Waiting& w : m_waiting) {
            if (w.link.fd < 0 || w.deadline > now)
                continue;
            if (w.draining || w.received.empty()) {
                // A connection that never sent a byte of its request (or
                // never finished its handshake) gets no answer.
                w.link.close();
            } else {
                refuse(w, 408,
                       "Error: the request line and headers did not arrive within " +
                           DurationText(m_limits.headTime) + ".",
                       now);
            }
        }
        std::erase_if(m_waiting, [](const Waiting& w) { return w.link.fd < 0; });
        if (fds[1].revents)
            acceptAll(now);
    }

    ::close(m_listenFd);
    m_listenFd = -1;
    for (Waiting& w : m_waiting)
        w.link.close();
    m_waiting.clear();
    shutDownWorkers();
}

void Listener::acceptAll(Clock::time_point now)
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                m_acceptPausedUntil = now + std::chrono::milliseconds(100); // out of descriptors
            return;
        }
        if (m_waiting.size() >= m_limits.waitingConnections) {
            // Make room by dropping the connection closest to its deadline:
            // a client that sends its request at once never waits long.
            const auto oldest = std::min_element(
                m_waiting.begin(), m_waiting.end(),
                [](const Waiting& a, const Waiting& b) { return a.deadline < b.deadline; });
            oldest->link.close();
            m_waiting.erase(oldest);
        }
        Link link{fd};
        if (m_tls && !(link.ssl = m_tls->newSession(fd))) {
            link.close();
            continue;
        }
        m_waiting.push_back({.link = link, .deadline = now + m_limits.headTime});
    }
}

bool Listener::readHead(Waiting& w, Clock::time_point now)
{
    // Tells whether w still waits; closes it when the peer is gone.
    auto waitFor = [&w](Link::Status status) {
        if (status == Link::Status::Closed) {
            w.link.close();
            return false;
        }
        w.events = status == Link::Status::WantWrite ? POLLOUT : POLLIN;
        return true;
    };
    if (!w.handshakeDone) {
        const Link::Result r = w.link.handshake();
        if (r.status != Link::Status::Done)
            return waitFor(r.status);
        w.handshakeDone = true;
    }
    char buffer[16384];
    for (;;) {
        const Link::Result r = w.link.receive(buffer, sizeof buffer);
        if (r.status != Link::Status::Done)
            return waitFor(r.status);
        const std::size_t searchFrom = w.received.size() < 2 ? 0 : w.received.size() - 2;
        w.received.append(buffer, r.count);
        const std::size_t headSize = HeadEnd(w.received, searchFrom);
        if (headSize != std::string::npos && headSize <= m_limits.headBytes) {
            {
                std::lock_guard lock(m_mutex);
                if (m_jobs.size() < m_limits.queuedRequests) {
                    m_jobs.push_back({w.link, std::move(w.received), headSize});
                    m_jobReady.notify_one();
                    return false;
                }
            }
            refuse(w, 503, "Error: the server is busy; try again in a moment.", now);
            return true;
        }
        if (w.received.size() > m_limits.headBytes) {
            refuse(w, 431,
                   "Error: the request line and headers are larger than " +
                       std::to_string(m_limits.headBytes / 1024) + " KiB.",
                   now);
            return true;
        }
    }
}

bool Listener::drain(Waiting& w)
{
    // Over HTTPS too the bytes are dropped as they come, undecrypted.
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(w.link.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        w.drained += std::size_t(std::max<ssize_t>(n, 0));
        if (n <= 0 || w.drained > LingerBytes) {
            w.link.close();
            return false;
        }
    }
}

void Listener::refuse(Waiting& w, int status, const std::string& text, Clock::time_point now)
{
    // A few hundred bytes always fit a fresh socket's buffer; if not, the
    // client is gone or not reading, and gets nothing.
    const std::string answer = m_refusal(PeerOf(w.link.fd), status, text);
    w.link.send(answer.data(), answer.size());
    w.link.endSending();
    w.received.clear();
    w.received.shrink_to_fit();
    w.draining = true;
    w.deadline = now + LingerTime;
}

void Listener::work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_jobReady.wait(lock, [this] { return m_closing || !m_jobs.empty(); });
            if (m_closing)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_serving.insert(job.link.fd);
        }
        {
            Connection connection(job.link, std::move(job.received), job.headSize, m_limits);
            t_current = &connection;
            try {
                m_serve(connection);
            } catch (...) {
                // The library answers what a script throws; anything else
                // only loses this connection.
            }
            t_current = nullptr;
        }
        std::lock_guard lock(m_mutex);
        m_serving.erase(job.link.fd);
        if (m_closing) {
            job.link.close();
            return;
        }
        job.link.endSending();
        m_handedBack.push_back(job.link);
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
    }
}

void Listener::shutDownWorkers()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        // Wakes workers blocked on a slow client.
        for (const int fd : m_serving)
            ::shutdown(fd, SHUT_RDWR);
    }
    m_jobReady.notify_all();
    for (std::thread& t : m_workers)
        t.join();
    m_workers.clear();
    for (Job& job : m_jobs)
        job.link.close();
    m_jobs.clear();
    for (Link& link : m_handedBack)
        link.close();
    m_handedBack.clear();
}

} // namespace refserver
