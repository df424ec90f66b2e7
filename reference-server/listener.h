#pragma once

#include "tls.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>

#include <optional>

namespace refserver {

struct ListenerLimits
{
    // The request line and headers must arrive whole within this time.
    std::chrono::milliseconds headTime{5000};
    std::size_t headBytes = 64 * 1024;
    // The body, once the head is in: whole time, and bytes on the wire
    // (chunk framing included).
    std::chrono::milliseconds bodyTime{20000};
    std::size_t bodyWireBytes = 4 << 20;
    // Each write of an answer; and the answer as a whole must go out at
    // this average rate after that first grace, so that a client reading a
    // few bytes at a time cannot hold a worker for as long as it likes.
    std::chrono::milliseconds writeTime{5000};
    std::size_t answerBytesPerSecond = 16 * 1024;
    // Connections still sending their head; beyond this the oldest is dropped.
    std::size_t waitingConnections = 512;
    // Threads that run the scripts; only requests whose head is in reach them.
    int workers = 32;
    // Complete requests waiting for a worker; beyond this they get 503.
    std::size_t queuedRequests = 256;
};

// "5 seconds", for messages.
std::string DurationText(std::chrono::milliseconds time);

// A connection whose request head has arrived whole, as the stream the
// HTTP library reads the request from and writes the answer to; over HTTPS
// it reads and writes through the connection's established TLS session.
class Connection final : public httplib::Stream
{
public:
    Connection(Link& link, std::string received, std::size_t headSize,
               const ListenerLimits& limits);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return m_link.fd; }

    // Why a read failed: the body's time ran out, or it sent too many bytes.
    bool timedOut() const { return m_timedOut; }
    bool overran() const { return m_overran; }

    // The connection the calling thread is serving, so that a script that
    // could not read its body can tell why (the library only says "failed").
    static Connection* Current();

private:
    friend class Listener;

    Link& m_link;
    std::string m_buffer; // received, not yet read
    std::size_t m_offset = 0;
    std::size_t m_bodyBudget;
    std::chrono::steady_clock::time_point m_bodyDeadline;
    std::chrono::milliseconds m_writeTime;
    std::size_t m_answerRate;
    std::optional<std::chrono::steady_clock::time_point> m_answerStart;
    std::size_t m_written = 0;
    bool m_timedOut = false;
    bool m_overran = false;
};

// Accepts connections and collects each request head on one thread without
// blocking, so idle and trickling clients cost a socket and a buffer, never
// a worker. A complete head goes to the worker pool; a head that is late or
// too large is refused from here. Over HTTPS the TLS handshake runs in the
// same loop and within the same deadline as the head.
class Listener
{
public:
    using Serve = std::function<void(Connection&)>;
    // The complete answer (status line, headers, body) for a refusal.
    using Refusal =
        std::function<std::string(const std::string& peer, int status, const std::string& text)>;

    // With `tls`, every connection speaks HTTPS.
    Listener(ListenerLimits limits, Serve serve, Refusal refusal,
             std::shared_ptr<const TlsContext> tls = nullptr);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Binds host:port (port 0: any free port). False when it cannot listen.
    bool bind(const std::string& host, int port);
    int port() const { return m_port; }
    void run(); // until stop()
    void stop();

private:
    using Clock = std::chrono::steady_clock;

    struct Waiting
    {
        Link link;
        std::string received{};
        Clock::time_point deadline{};
        bool draining = false; // answered; reading what is left before closing
        std::size_t drained = 0;
        bool handshakeDone = false;
        short events = POLLIN; // what the connection waits for
    };
    struct Job
    {
        Link link;
        std::string received;
        std::size_t headSize;
    };

    void acceptAll(Clock::time_point now);
    bool readHead(Waiting& w, Clock::time_point now); // false: w is gone
    bool drain(Waiting& w);                           // false: w is closed
    void refuse(Waiting& w, int status, const std::string& text, Clock::time_point now);
    void work();
    void shutDownWorkers();

    ListenerLimits m_limits;
    Serve m_serve;
    Refusal m_refusal;
    std::shared_ptr<const TlsContext> m_tls;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::vector<Waiting> m_waiting; // the accepting thread's own
    Clock::time_point m_acceptPausedUntil{};

    std::mutex m_mutex;
    std::condition_variable m_jobReady;
    std::deque<Job> m_jobs;
    std::vector<Link> m_handedBack; // served; to be drained and closed
    std::set<int> m_serving;
    bool m_closing = false;
    std::vector<std::thread> m_workers;
};

} // namespace refserver
