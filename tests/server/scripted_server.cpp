#include "scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
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

std::string LocalAddress(int port, std::string_view path, std::string_view scheme = "http",
                         std::string_view host = "127.0.0.1")
{
    return std::string(scheme) + "://" + std::string(host) + ':' + std::to_string(port) +
           std::string(path);
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

// Picks "http/1.1" whatever the client offered, as Apache's mod_ssl does
// for an offer of "http/1.0" alone.
int AlwaysHttp11(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char*,
                 unsigned int, void*)
{
    static const unsigned char protocol[] = {'h', 't', 't', 'p', '/', '1', '.', '1'};
    *out = protocol;
    *outLength = sizeof protocol;
    return SSL_TLSEXT_ERR_OK;
}

SSL_CTX* ServerContext(const testpki::Identity& identity)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    BIO* certificate = BIO_new_mem_buf(identity.certificate.data(), int(identity.certificate.size()));
    BIO* key = BIO_new_mem_buf(identity.key.data(), int(identity.key.size()));
    X509* x509 = certificate ? PEM_read_bio_X509(certificate, nullptr, nullptr, nullptr) : nullptr;
    EVP_PKEY* pkey = key ? PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr) : nullptr;
    const bool ok = context && x509 && pkey && SSL_CTX_use_certificate(context, x509) == 1 &&
                    SSL_CTX_use_PrivateKey(context, pkey) == 1;
    X509_free(x509);
    EVP_PKEY_free(pkey);
    BIO_free(certificate);
    BIO_free(key);
    if (!ok) {
        SSL_CTX_free(context);
        throw std::runtime_error("the test server's certificate or key does not load");
    }
    SSL_CTX_set_alpn_select_cb(context, AlwaysHttp11, nullptr);
    return context;
}

} // namespace

// One connection's bytes, plain or through TLS. Every wait ends early when
// the server stops.
class ScriptedServer::Channel
{
public:
    Channel(int fd, SSL_CTX* tls, int wakeFd) : m_fd(fd), m_wakeFd(wakeFd)
    {
        if (tls) {
            m_ssl = SSL_new(tls);
            SSL_set_fd(m_ssl, fd);
            SSL_set_accept_state(m_ssl);
        }
    }
    ~Channel() { SSL_free(m_ssl); }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // False when the handshake failed or the server stops.
    bool handshake()
    {
        if (!m_ssl)
            return true;
        for (;;) {
            ERR_clear_error();
            const int result = SSL_do_handshake(m_ssl);
            if (result == 1)
                return true;
            if (!waitForTls(result))
                return false;
        }
    }

    // Bytes read, or 0 when the connection or the server ends.
    std::size_t receive(char* buffer, std::size_t size)
    {
        for (;;) {
            if (m_ssl) {
                ERR_clear_error();
                std::size_t count = 0;
                const int result = SSL_read_ex(m_ssl, buffer, size, &count);
                if (result == 1)
                    return count;
                if (!waitForTls(result))
                    return 0;
                continue;
            }
            const ssize_t n = ::recv(m_fd, buffer, size, 0);
            if (n > 0)
                return std::size_t(n);
            if (n == 0 || (errno != EAGAIN && errno != EINTR) ||
                WaitFor(m_fd, POLLIN, m_wakeFd, -1) != Wait::Ready)
                return 0;
        }
    }

    // False when the client has gone away or the server stops.
    bool sendAll(std::string_view bytes)
    {
        while (!bytes.empty()) {
            if (m_ssl) {
                ERR_clear_error();
                std::size_t count = 0;
                const int result = SSL_write_ex(m_ssl, bytes.data(), bytes.size(), &count);
                if (result == 1)
                    bytes.remove_prefix(count);
                else if (!waitForTls(result))
                    return false;
                continue;
            }
            const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0)
                bytes.remove_prefix(std::size_t(n));
            else if ((n < 0 && errno != EAGAIN && errno != EINTR) ||
                     WaitFor(m_fd, POLLOUT, m_wakeFd, -1) != Wait::Ready)
                return false;
        }
        return true;
    }

    // The close notification over TLS, then the FIN.
    void endSending()
    {
        if (m_ssl && !m_broken && SSL_is_init_finished(m_ssl)) {
            ERR_clear_error();
            SSL_shutdown(m_ssl);
        }
        ::shutdown(m_fd, SHUT_WR);
    }

private:
    // Waits for what the TLS call asked for; false when it failed instead.
    bool waitForTls(int result)
    {
        const int error = SSL_get_error(m_ssl, result);
        const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                             : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                             : 0;
        if (events == 0 && error != SSL_ERROR_ZERO_RETURN)
            m_broken = true;
        return events != 0 && WaitFor(m_fd, events, m_wakeFd, -1) == Wait::Ready;
    }

    int m_fd;
    int m_wakeFd;
    SSL* m_ssl = nullptr;
    bool m_broken = false;
};

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
    start();
}

ScriptedServer::ScriptedServer(std::vector<Exchange> script, const testpki::Identity& identity)
    : m_script(std::move(script)), m_tls(ServerContext(identity))
{
    // OpenSSL writes to its sockets with write(), which raises SIGPIPE when
    // the client has gone; a test process has no use for the signal.
    std::signal(SIGPIPE, SIG_IGN);
    start();
}

void ScriptedServer::start()
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
    SSL_CTX_free(m_tls);
}

std::string ScriptedServer::address(std::string_view path, std::string_view host) const
{
    return LocalAddress(m_port, path, m_tls ? "https" : "http", host);
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
bool ScriptedServer::writePiece(Channel& channel, const Piece& piece)
{
    if (piece.pauseMs > 0 && WaitFor(-1, 0, m_wakeRead, piece.pauseMs) == Wait::Stopped)
        return false;
    return channel.sendAll(piece.bytes);
}

// Reads until the client closes (or the server stops) so that closing never
// finds unread data, which would turn the close into a reset.
void ScriptedServer::drain(Channel& channel)
{
    char buffer[4096];
    const std::size_t n = channel.receive(buffer, sizeof buffer);
    if (n == 0)
        return;
    std::lock_guard lock(m_mutex);
    m_stray.append(buffer, n);
    // A reused connection. Nothing will answer here, so closing lets the
    // client fail or go elsewhere instead of waiting for ever.
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

    Channel channel(fd, m_tls, m_wakeRead);
    RecordedRequest request;
    request.connection = index;
    std::size_t contentLength = 0;
    char buffer[16384];
    for (bool open = channel.handshake(); open;) {
        if (request.headSize != 0 && request.raw.size() >= request.headSize + contentLength) {
            request.complete = true;
            break;
        }
        const std::size_t n = channel.receive(buffer, sizeof buffer);
        if (n == 0)
            break;
        request.raw.append(buffer, n);
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
            if (!writePiece(channel, piece)) {
                ::close(fd);
                return;
            }
        }
        if (exchange->ending == Ending::Endless && !exchange->response.empty()) {
            while (writePiece(channel, exchange->response.back())) {
            }
            ::close(fd);
            return;
        }
        if (exchange->ending == Ending::Close)
            channel.endSending();
    }
    drain(channel);
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
