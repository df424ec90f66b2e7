// The options of the easy handle for one request: wire format, callbacks,
// credentials and the TLS checks.

#include "http_client_private.h"

#include <QFile>
#include <QUrl>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace {

constexpr long ReceiveBufferBytes = 1L << 20;

long CurlAuthFlag(AuthScheme scheme)
{
    switch (scheme) {
    case AuthScheme::Basic:
        return CURLAUTH_BASIC;
    case AuthScheme::Digest:
        return CURLAUTH_DIGEST;
    case AuthScheme::Ntlm:
        return CURLAUTH_NTLM;
    case AuthScheme::Negotiate:
        return CURLAUTH_NEGOTIATE;
    case AuthScheme::None:
        break;
    }
    return CURLAUTH_NONE;
}

QString CaFileMessage(const QString& path)
{
    return QStringLiteral("The certificate authority file \"%1\" could not be loaded.").arg(path);
}

// Where a connection's TLS context points back to its client.
int ContextIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Notes the first problem OpenSSL finds with the certificate chain, so
// that a failed check can be told from a failed host name check (which
// curl makes after a chain that verified). OpenSSL's verdict and curl's
// verification mode stand.
int NoteChainProblem(int verified, X509_STORE_CTX* chain)
{
    if (!verified) {
        auto* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(chain, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* p = ssl ? static_cast<HttpClientState*>(
                            SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ContextIndex()))
                      : nullptr;
        if (p && p->chainProblem == X509_V_OK)
            p->chainProblem = X509_STORE_CTX_get_error(chain);
    }
    return verified;
}

// Called for each TLS connection once curl has set up its context with
// the system's authorities.
CURLcode PrepareTls(CURL*, void* sslContext, void* self)
{
    return Guarded(self, CURLE_ABORTED_BY_CALLBACK, [&](HttpClientState& p) {
        auto* context = static_cast<SSL_CTX*>(sslContext);
        p.chainProblem = X509_V_OK;
        SSL_CTX_set_ex_data(context, ContextIndex(), &p);
        SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), &NoteChainProblem);
        if (p.caFile.isEmpty())
            return CURLE_OK;
        X509_STORE* store = SSL_CTX_get_cert_store(context);
        if (X509_STORE_load_file(store, QFile::encodeName(p.caFile).constData()) == 1)
            return CURLE_OK;
        ERR_clear_error();
        p.fault = CaFileMessage(p.caFile);
        return CURLE_SSL_CACERT_BADFILE;
    });
}

} // namespace

curl_slist* RequestHeaders()
{
    curl_slist* headers = nullptr;
    for (const char* h :
         {"Connection: keep-alive", "Content-Type: application/x-www-form-urlencoded",
          "Accept: text/html, */*", "Accept-Encoding: identity", "Expect:"})
        headers = curl_slist_append(headers, h);
    return headers;
}

void SetRequestOptions(HttpClientState& p, const QByteArray& url, curl_slist* headers)
{
    CURL* easy = p.easy;
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(p.requestBody.size()));
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &ReadRequestBody);
    curl_easy_setopt(easy, CURLOPT_READDATA, &p);
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &RewindRequestBody);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, &p);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeaderLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &p);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBodyPiece);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &p);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &OnNewSocket);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &p);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &p);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(p.connectTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 0L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, p.errorBuffer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Reads from the network in blocks of up to this size rather than
    // 16 KiB: far fewer system calls and rounds of the wait loop for a large
    // answer. curl still hands the body on in pieces of at most 16 KiB;
    // the progress event follows the read, not the pieces.
    if (curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferBytes) != CURLE_OK)
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, long(CURL_MAX_READ_SIZE));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // For HTTP/1.0 curl offers only "http/1.0"; servers that pick "http/1.1"
    // anyway (a stock Apache) then fail the handshake, and an HTTP/1.0
    // client has nothing to negotiate.
    curl_easy_setopt(easy, CURLOPT_SSL_ENABLE_ALPN, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &PrepareTls);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &p);
    // A cached store would keep the private authorities added to it after
    // the file changed.
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, p.caFile.isEmpty() ? 86400L : 0L);
}

void SetCredentials(HttpClientState& p)
{
    if (p.auth == AuthScheme::None)
        return;
    curl_easy_setopt(p.easy, CURLOPT_HTTPAUTH, CurlAuthFlag(p.auth));
    curl_easy_setopt(p.easy, CURLOPT_USERNAME, p.userName.constData());
    curl_easy_setopt(p.easy, CURLOPT_PASSWORD, p.password.constData());
}

TransportError CertificateRefused(int chainProblem, const QString& address)
{
    if (chainProblem != X509_V_OK)
        return TransportError(
            QStringLiteral("The server's certificate could not be verified: %1.")
                .arg(QString::fromUtf8(X509_verify_cert_error_string(chainProblem))));
    return TransportError(
        QStringLiteral("The server's certificate does not match the host name \"%1\".")
            .arg(QUrl(address).host()));
}
