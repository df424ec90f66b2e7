#include "tls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace refserver {

namespace {

// Never ask on the terminal: a server started by a script has nobody to answer.
int NoPassphrase(char*, int, int, void*)
{
    return -1;
}

bool WouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

std::string Unreadable(const char* what, const std::string& file)
{
    return std::string("cannot read the ") + what + " file " + file + ": " + std::strerror(errno);
}

} // namespace

std::variant<std::shared_ptr<const TlsContext>, std::string>
TlsContext::Load(const std::string& certificateFile, const std::string& keyFile)
{
    struct ClearErrors
    {
        ~ClearErrors() { ERR_clear_error(); }
    } clearErrors;

    // Read first, so that a missing file is told apart from one that holds
    // no certificate.
    std::FILE* certificate = std::fopen(certificateFile.c_str(), "rb");
    if (!certificate)
        return Unreadable("certificate", certificateFile);
    std::fclose(certificate);
    std::FILE* keyStream = std::fopen(keyFile.c_str(), "rb");
    if (!keyStream)
        return Unreadable("key", keyFile);
    EVP_PKEY* key = PEM_read_PrivateKey(keyStream, nullptr, NoPassphrase, nullptr);
    std::fclose(keyStream);

    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context) {
        EVP_PKEY_free(key);
        return std::string("cannot set up TLS");
    }
    std::shared_ptr<const TlsContext> loaded(new TlsContext(context));
    SSL_CTX_set_default_passwd_cb(context, NoPassphrase);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // The answer is written piece by piece, like a socket's.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Each connection carries one request; there is nothing to resume.
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(context, 0);

    if (SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1) {
        EVP_PKEY_free(key);
        return "the certificate file " + certificateFile + " holds no PEM certificate";
    }
    if (!key)
        return "the key file " + keyFile + " holds no PEM private key without a passphrase";
    const bool matches =
        SSL_CTX_use_PrivateKey(context, key) == 1 && SSL_CTX_check_private_key(context) == 1;
    EVP_PKEY_free(key);
    if (!matches)
        return "the private key in " + keyFile + " does not match the certificate in " +
               certificateFile;
    return loaded;
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(m_context);
}

SSL* TlsContext::newSession(int fd) const
{
    SSL* ssl = SSL_new(m_context);
    if (!ssl || SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        ERR_clear_error();
        return nullptr;
    }
    SSL_set_accept_state(ssl);
    return ssl;
}

namespace {

Link::Result TlsOutcome(Link& link, int returned)
{
    switch (SSL_get_error(link.ssl, returned)) {
    case SSL_ERROR_WANT_READ:
        return {Link::Status::WantRead};
    case SSL_ERROR_WANT_WRITE:
        return {Link::Status::WantWrite};
    case SSL_ERROR_ZERO_RETURN:
        return {Link::Status::Closed};
    default:
        link.broken = true;
        ERR_clear_error();
        return {Link::Status::Closed};
    }
}

} // namespace

Link::Result Link::receive(char* buffer, std::size_t size)
{
    if (ssl) {
        // SSL_get_error reads the thread's error queue, which must start empty.
        ERR_clear_error();
        std::size_t count = 0;
        const int ok = SSL_read_ex(ssl, buffer, size, &count);
        return ok == 1 ? Result{Status::Done, count} : TlsOutcome(*this, ok);
    }
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, size, 0);
        if (n > 0)
            return {Status::Done, std::size_t(n)};
        if (n < 0 && errno == EINTR)
            continue;
        return {n < 0 && WouldBlock() ? Status::WantRead : Status::Closed};
    }
}

Link::Result Link::send(const char* data, std::size_t size)
{
    if (size == 0)
        return {Status::Done};
    if (ssl) {
        ERR_clear_error();
        std::size_t count = 0;
        const int ok = SSL_write_ex(ssl, data, size, &count);
        return ok == 1 ? Result{Status::Done, count} : TlsOutcome(*this, ok);
    }
    for (;;) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n >= 0)
            return {Status::Done, std::size_t(n)};
        if (errno == EINTR)
            continue;
        return {WouldBlock() ? Status::WantWrite : Status::Closed};
    }
}

bool Link::hasPending() const
{
    return ssl && SSL_pending(ssl) > 0;
}

Link::Result Link::handshake()
{
    if (!ssl)
        return {Status::Done};
    ERR_clear_error();
    const int ok = SSL_do_handshake(ssl);
    if (ok == 1)
        return {Status::Done};
    const Result result = TlsOutcome(*this, ok);
    // A handshake the client abandoned leaves nothing to close properly.
    if (result.status == Status::Closed)
        broken = true;
    return result;
}

void Link::endSending()
{
    if (ssl && !broken && SSL_is_init_finished(ssl)) {
        ERR_clear_error();
        SSL_shutdown(ssl); // sends the close notification if the socket takes it
        ERR_clear_error();
    }
    ::shutdown(fd, SHUT_WR);
}

void Link::close()
{
    SSL_free(ssl);
    ssl = nullptr;
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace refserver
