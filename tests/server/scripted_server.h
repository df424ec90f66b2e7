#pragma once

// Socket-level stand-ins for the vendor's server, for transport tests. They
// speak raw bytes on 127.0.0.1 so a test sees exactly what the client wrote
// and controls exactly what it reads, including broken and slow answers.

#include "test_certificates.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace scripted {

// One request as it arrived on a connection.
struct RecordedRequest
{
    std::size_t connection = 0; // 0 for the first accepted connection
    std::string raw;            // head and body, byte for byte
    std::size_t headSize = 0;   // up to and including the blank line; 0 if it never came
    bool complete = false;      // the head and all announced body bytes arrived

    std::string requestLine() const;
    // The first value of a header, name compared case-blind, blanks trimmed.
    std::optional<std::string> header(std::string_view name) const;
    std::vector<std::string> headerValues(std::string_view name) const;
    std::vector<std::string> headerNames() const;
    std::string body() const;
};

// A part of a response, written after a pause so that the client reads it
// separately from the parts around it.
struct Piece
{
    int pauseMs = 0;
    std::string bytes;
};

enum class Ending
{
    // Read the request, write the pieces, close. Whatever the client writes
    // after the request ends the connection and shows in strayBytes().
    Close,
    // The same, but the connection stays open after the pieces.
    HoldOpen,
    // Close at once, without reading anything.
    CloseOnAccept,
    // An answer without end: the last piece is written again and again
    // until the client goes away.
    Endless,
};

// What one accepted connection gets.
struct Exchange
{
    std::vector<Piece> response;
    Ending ending = Ending::Close;
};

// A complete response in one piece, with Content-Length added from `body`
// unless the headers already frame it.
Exchange Answer(std::string_view statusLine, std::vector<std::string> headers = {},
                std::string_view body = {});
std::string ResponseBytes(std::string_view statusLine, std::vector<std::string> headers = {},
                          std::string_view body = {});

// Listens on 127.0.0.1 on a free port. Connection N follows script entry N;
// connections beyond the script are closed at once.
class ScriptedServer
{
public:
    explicit ScriptedServer(std::vector<Exchange> script);
    // The same over TLS with `identity`. Like a stock Apache with mod_ssl,
    // it answers any ALPN offer with "http/1.1", offered or not. A request
    // whose handshake failed is recorded with nothing received.
    ScriptedServer(std::vector<Exchange> script, const testpki::Identity& identity);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path ("https" over TLS; `host` may name
    // another way to 127.0.0.1, such as "localhost")
    std::string address(std::string_view path = "/", std::string_view host = "127.0.0.1") const;

    // Waits until `count` requests are recorded (or `wait` passes) and
    // returns those recorded so far, in order of arrival.
    std::vector<RecordedRequest>
    waitForRequests(std::size_t count,
                    std::chrono::milliseconds wait = std::chrono::seconds(10)) const;
    std::vector<RecordedRequest> requests() const;
    std::size_t connectionCount() const;
    // Bytes that came in on a connection after its answer: a client reusing it.
    std::string strayBytes() const;

private:
    class Channel;

    void start();
    void acceptLoop();
    void serve(int fd, std::size_t index);
    void record(RecordedRequest request);
    bool writePiece(Channel& channel, const Piece& piece);
    void drain(Channel& channel);

    std::vector<Exchange> m_script;
    SSL_CTX* m_tls = nullptr;
    int m_listenFd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    int m_port = 0;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<RecordedRequest> m_requests;
    std::string m_stray;
    std::size_t m_connections = 0;
    std::vector<std::thread> m_handlers;
    std::thread m_acceptor;
};

// A port on 127.0.0.1 that nothing listens on while this object lives: a
// connect to it is refused.
class RefusingPort
{
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    int port() const { return m_port; }
    std::string address(std::string_view path = "/") const;

private:
    int m_fd = -1;
    int m_port = 0;
};

// A port on 127.0.0.1 whose connects get no answer at all: a listener with a
// backlog of 0 whose accept queue is filled with connections it never
// accepts, so the kernel drops further SYNs and the connect just waits.
// After `giveUpAfter` the listener closes, so that a client without a working
// connect time-out is refused at its next SYN instead of waiting for minutes.
class HangingConnectTarget
{
public:
    // Throws std::runtime_error when the queue will not fill.
    explicit HangingConnectTarget(std::chrono::milliseconds giveUpAfter = std::chrono::seconds(5));
    ~HangingConnectTarget();
    HangingConnectTarget(const HangingConnectTarget&) = delete;
    HangingConnectTarget& operator=(const HangingConnectTarget&) = delete;

    int port() const { return m_port; }
    std::string address(std::string_view path = "/") const;

    // Tries one more connect and tells whether it is still unanswered after `wait`.
    bool hangs(std::chrono::milliseconds wait = std::chrono::milliseconds(300)) const;

private:
    void closeAll();

    mutable std::mutex m_mutex;
    std::condition_variable m_stopping;
    bool m_stop = false;
    int m_listenFd = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
    std::thread m_closer;
};

} // namespace scripted
