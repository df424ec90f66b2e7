#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <variant>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace refserver {

// The server's certificate and private key, loaded once and shared by every
// connection.
class TlsContext
{
public:
    // The loaded pair, or why it cannot serve: a file that cannot be read,
    // holds no certificate or no unencrypted key, or a key that does not
    // belong to the certificate.
    static std::variant<std::shared_ptr<const TlsContext>, std::string>
    Load(const std::string& certificateFile, const std::string& keyFile);

    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A server session on an accepted non-blocking socket; nullptr when it
    // cannot be made. OpenSSL writes with write(), which raises SIGPIPE on a
    // connection the client has left: the HTTP library's server, which
    // every ReferenceServer holds, ignores that signal for the process.
    SSL* newSession(int fd) const;

private:
    explicit TlsContext(SSL_CTX* context) : m_context(context) {}
    SSL_CTX* m_context;
};

// One accepted socket and, when the server speaks HTTPS, its TLS session.
// Reads and writes never block: they report what they wait for instead.
struct Link
{
    int fd = -1;
    SSL* ssl = nullptr;
    // A TLS error or a peer gone without closing properly: no more TLS
    // records may be written, not even the closing one.
    bool broken = false;

    enum class Status
    {
        Done,      // `count` bytes moved
        Closed,    // the peer ended the connection, or it failed
        WantRead,  // nothing moved: wait until the socket is readable
        WantWrite, // nothing moved: wait until the socket is writable
    };
    struct Result
    {
        Status status;
        std::size_t count = 0;
    };

    Result receive(char* buffer, std::size_t size);
    Result send(const char* data, std::size_t size);
    // Bytes a TLS session has decrypted and not yet handed out.
    bool hasPending() const;
    // Completes a pending TLS handshake; Done once it is complete.
    Result handshake();
    // Ends the sending side: TLS close notification (if any) and FIN.
    void endSending();
    void close();
};

} // namespace refserver
