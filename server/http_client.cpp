#include "http_client.h"

#include "answer_head.h"
#include "auth_challenge.h"
#include "form_encoding.h"
#include "request_waits.h"
#include "response_decoding.h"

#include <QFile>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <tillora/settings.h>

#include <chrono>
#include <exception>
#include <optional>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ConnectingSliceMs = 125;
constexpr int ReceivingSliceMs = 250;
constexpr int MaxAttempts = 3;
constexpr long ReceiveBufferBytes = 1L << 20;
// The resolver reports no system error number; this is the one the C
// library's h_errno uses for an unknown host.
constexpr long HostNotFoundNumber = 1;

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

QString AnswerTooLargeMessage(std::int64_t limit)
{
    return QStringLiteral("The answer is larger than the limit of %1 bytes.").arg(limit);
}

QString CaFileMessage(const QString& path)
{
    return QStringLiteral("The certificate authority file \"%1\" could not be loaded.").arg(path);
}

QString SocketErrorMessage(long number, const QString& description)
{
    QString text = description;
    if (!text.endsWith(u'.'))
        text += u'.';
    return QStringLiteral("Socket Error # %1\n%2").arg(number).arg(text);
}

struct Event
{
    enum Kind
    {
        Begin,
        Work,
        End
    } kind;
    TransferDirection direction;
    std::int64_t count;
};

} // namespace

struct HttpClient::Private
{
    QByteArray userName;
    QByteArray password;
    int connectTimeoutMs = 120'000;
    std::int64_t maxAnswerBytes = tillora::settings::MaxAnswerBytes;
    QString caFile = tillora::settings::CaFile;
    AuthScheme auth = AuthScheme::None;
    bool busy = false;
    bool abandoned = false;
    bool shutDown = false;

    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // Requests sent in this Post, counting those curl repeats by itself for
    // an authentication round; never more than MaxAttempts.
    int requestsSent = 0;
    bool attemptsExhausted = false;

    // One attempt's state, reset by startAttempt().
    QByteArray requestBody;
    qsizetype sent = 0;
    bool connected = false;
    // Connected, and the next line should be a status line.
    bool awaitingStatusLine = false;
    QByteArray responseBody;
    // Body bytes of the current answer, whether kept or streamed.
    std::int64_t bodyBytes = 0;
    // Where a successful answer's text goes while it arrives, if anywhere,
    // and its decoder once the headers allow streaming.
    AnswerSink* sink = nullptr;
    std::optional<BodyTextStream> stream;
    // The sink decodes the raw bytes itself.
    bool sinkTakesBytes = false;
    // An exception a callback caught, raised once curl has returned.
    std::exception_ptr callbackError;
    QByteArray statusLine;
    int status = 0;
    bool headersComplete = false;
    AnswerHead head;
    // Status line, header lines and body of the current answer.
    std::int64_t answerBytes = 0;
    // Why a callback stopped the transfer; raised as the request's error.
    QString fault;
    // What OpenSSL found wrong with the server's certificate chain.
    int chainProblem = X509_V_OK;
    std::vector<Event> events;

    void startAttempt()
    {
        sent = 0;
        connected = false;
        awaitingStatusLine = false;
        responseBody = QByteArray();
        bodyBytes = 0;
        stream.reset();
        sinkTakesBytes = false;
        callbackError = nullptr;
        statusLine.clear();
        status = 0;
        headersComplete = false;
        head = AnswerHead();
        answerBytes = 0;
        fault.clear();
        chainProblem = X509_V_OK;
        events.clear();
        errorBuffer[0] = '\0';
    }

    // The headers of a final answer are over and its body is being read.
    bool inBody() const { return headersComplete && status >= 200; }

    // Counts received bytes against the limit, so that an answer without
    // end stops while it arrives instead of filling the memory.
    bool withinLimit(size_t count)
    {
        answerBytes += std::int64_t(count);
        if (answerBytes <= maxAnswerBytes)
            return true;
        fault = AnswerTooLargeMessage(maxAnswerBytes);
        return false;
    }

    // A body the connection closed on before its end.
    QString cutShortMessage() const
    {
        if (head.chunked())
            return QStringLiteral("The connection closed before the last chunk of the answer.");
        if (head.contentLength() >= 0)
            return QStringLiteral("The connection closed after %1 of the %2 bytes the answer "
                                  "announced.")
                .arg(bodyBytes)
                .arg(head.contentLength());
        return QStringLiteral("Connection Closed Gracefully.");
    }

    // Where a connection's TLS context points back to its client.
    static int ContextIndex()
    {
        static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        return index;
    }

    // Notes the first problem OpenSSL finds with the certificate chain, so
    // that a failed check can be told from a failed host name check (which
    // curl makes after a chain that verified). OpenSSL's verdict and curl's
    // verification mode stand.
    static int NoteChainProblem(int verified, X509_STORE_CTX* chain)
    {
        if (!verified) {
            auto* ssl = static_cast<SSL*>(
                X509_STORE_CTX_get_ex_data(chain, SSL_get_ex_data_X509_STORE_CTX_idx()));
            auto* p = ssl ? static_cast<Private*>(
                                SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ContextIndex()))
                          : nullptr;
            if (p && p->chainProblem == X509_V_OK)
                p->chainProblem = X509_STORE_CTX_get_error(chain);
        }
        return verified;
    }

    // Called for each TLS connection once curl has set up its context with
    // the system's authorities.
    static CURLcode PrepareTls(CURL*, void* sslContext, void* self)
    {
        auto* p = static_cast<Private*>(self);
        auto* context = static_cast<SSL_CTX*>(sslContext);
        p->chainProblem = X509_V_OK;
        SSL_CTX_set_ex_data(context, ContextIndex(), p);
        SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), &NoteChainProblem);
        if (p->caFile.isEmpty())
            return CURLE_OK;
        X509_STORE* store = SSL_CTX_get_cert_store(context);
        if (X509_STORE_load_file(store, QFile::encodeName(p->caFile).constData()) == 1)
            return CURLE_OK;
        ERR_clear_error();
        p->fault = CaFileMessage(p->caFile);
        return CURLE_SSL_CACERT_BADFILE;
    }

    static int OnConnected(void* self, char*, char*, int, int)
    {
        auto* p = static_cast<Private*>(self);
        if (++p->requestsSent > MaxAttempts) {
            p->attemptsExhausted = true;
            return CURL_PREREQFUNC_ABORT;
        }
        p->connected = true;
        p->awaitingStatusLine = true;
        p->sent = 0;
        p->events.push_back({Event::Begin, TransferDirection::Send, p->requestBody.size()});
        if (p->requestBody.isEmpty())
            p->events.push_back({Event::End, TransferDirection::Send, 0});
        return CURL_PREREQFUNC_OK;
    }

    static size_t ReadBody(char* buffer, size_t size, size_t count, void* self)
    {
        auto* p = static_cast<Private*>(self);
        const size_t n = std::min(size * count, size_t(p->requestBody.size() - p->sent));
        if (n == 0)
            return 0;
        std::memcpy(buffer, p->requestBody.constData() + p->sent, n);
        p->sent += qsizetype(n);
        p->events.push_back({Event::Work, TransferDirection::Send, p->sent});
        if (p->sent == p->requestBody.size())
            p->events.push_back({Event::End, TransferDirection::Send, 0});
        return n;
    }

    // An authentication round may send the body again.
    static int RewindBody(void* self, curl_off_t offset, int origin)
    {
        auto* p = static_cast<Private*>(self);
        if (origin != SEEK_SET || offset < 0 || offset > p->requestBody.size())
            return CURL_SEEKFUNC_CANTSEEK;
        p->sent = qsizetype(offset);
        return CURL_SEEKFUNC_OK;
    }

    static size_t OnHeaderLine(char* data, size_t size, size_t count, void* self)
    {
        auto* p = static_cast<Private*>(self);
        const size_t n = size * count;
        QByteArrayView line(data, qsizetype(n));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);

        // A trailer after a chunked body is no new answer, whatever it says;
        // a repeated request (an authentication round) expects one again.
        const bool isStatusLine =
            line.startsWith("HTTP/") && (p->awaitingStatusLine || !p->inBody());
        if (isStatusLine) {
            // A new answer: an interim 1xx answer or an earlier
            // authentication round is over.
            p->statusLine = line.toByteArray();
            const QList<QByteArray> parts = p->statusLine.split(' ');
            p->status = parts.size() > 1 ? parts[1].toInt() : 0;
            p->awaitingStatusLine = false;
            p->headersComplete = false;
            p->head = AnswerHead();
            p->responseBody = QByteArray();
            p->bodyBytes = 0;
            p->stream.reset();
            p->sinkTakesBytes = false;
            p->answerBytes = 0;
        }
        if (!p->withinLimit(n))
            return 0;
        // Trailers after a chunked body change nothing.
        if (isStatusLine || p->inBody())
            return n;
        if (!line.isEmpty()) {
            p->head.take(line);
            return n;
        }
        p->headersComplete = true;
        if (p->status < 200) {
            p->awaitingStatusLine = true;
            return n;
        }
        if (p->status != 204 && p->status != 304 && !p->bodyReadable())
            return 0;
        if (!p->startStream())
            return 0;
        p->events.push_back({Event::Begin, TransferDirection::Receive,
                             std::max<std::int64_t>(p->head.contentLength(), 0)});
        return n;
    }

    // Checked once the headers of a final answer are over, before any of
    // its body is read.
    bool bodyReadable()
    {
        fault = head.fault();
        if (fault.isEmpty() && !head.chunked() &&
            head.contentLength() > maxAnswerBytes - answerBytes)
            fault = AnswerTooLargeMessage(maxAnswerBytes);
        return fault.isEmpty();
    }

    // A successful answer with a body goes to the sink as it arrives when
    // its headers settle how to decode it. False when the sink failed.
    bool startStream()
    {
        if (!sink || status < 200 || status > 299 || status == 204)
            return true;
        stream = BodyTextStream::For(head.contentType());
        if (!stream)
            return true;
        try {
            const std::int64_t expected = head.chunked() ? -1 : head.contentLength();
            sinkTakesBytes = sink->beginBytes(expected, stream->byteText());
            if (!sinkTakesBytes)
                sink->begin(expected);
            return true;
        } catch (...) {
            callbackError = std::current_exception();
            return false;
        }
    }

    static size_t OnBodyPiece(char* data, size_t size, size_t count, void* self)
    {
        auto* p = static_cast<Private*>(self);
        const size_t n = size * count;
        if (!p->withinLimit(n))
            return CURL_WRITEFUNC_ERROR;
        if (p->stream) {
            try {
                if (p->sinkTakesBytes)
                    p->sink->takeBytes(QByteArrayView(data, qsizetype(n)));
                else
                    p->stream->feed(QByteArrayView(data, qsizetype(n)), *p->sink);
            } catch (...) {
                p->callbackError = std::current_exception();
                return CURL_WRITEFUNC_ERROR;
            }
        } else {
            p->responseBody.append(data, qsizetype(n));
        }
        p->bodyBytes += std::int64_t(n);
        p->events.push_back({Event::Work, TransferDirection::Receive, p->bodyBytes});
        return n;
    }
};

namespace {

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

HttpClient::HttpClient(QString userName, QString password) : d(std::make_unique<Private>())
{
    InitCurlOnce();
    d->userName = userName.toUtf8();
    d->password = password.toUtf8();
    d->easy = curl_easy_init();
    d->multi = curl_multi_init();
    if (!d->easy || !d->multi)
        throw TransportError(QStringLiteral("The HTTP client could not be created."));
    // An empty cookie file turns on the in-memory cookie store; with no
    // cookie jar nothing is ever written to disk.
    curl_easy_setopt(d->easy, CURLOPT_COOKIEFILE, "");
}

HttpClient::~HttpClient()
{
    curl_multi_cleanup(d->multi);
    curl_easy_cleanup(d->easy);
}

bool HttpClient::busy() const
{
    return d->busy;
}

void HttpClient::abandon()
{
    if (d->busy)
        d->abandoned = true;
}

void HttpClient::shutDown()
{
    d->shutDown = true;
    abandon();
}

void HttpClient::setConnectTimeout(int milliseconds)
{
    d->connectTimeoutMs = milliseconds;
}

void HttpClient::setMaxAnswerBytes(std::int64_t bytes)
{
    d->maxAnswerBytes = bytes;
}

void HttpClient::setCaFile(QString path)
{
    d->caFile = std::move(path);
}

namespace {

// Runs one transfer on the multi handle, servicing the Qt event queue in
// slices while it waits. Returns curl's result for the transfer.
CURLcode RunTransfer(CURLM* multi, CURL* easy, bool& connected, bool& abandoned,
                     const std::function<void()>& dispatchEvents)
{
    curl_multi_add_handle(multi, easy);
    struct Detach
    {
        CURLM* multi;
        CURL* easy;
        ~Detach() { curl_multi_remove_handle(multi, easy); }
    } detach{multi, easy};

    auto lastPump = Clock::now();
    for (;;) {
        int running = 0;
        curl_multi_perform(multi, &running);
        dispatchEvents();
        if (!running)
            break;
        if (abandoned)
            throw RequestAbandoned();

        const int slice = connected ? ReceivingSliceMs : ConnectingSliceMs;
        int ready = 0;
        curl_multi_poll(multi, nullptr, 0, slice, &ready);
        const auto now = Clock::now();
        if (ready == 0 || now - lastPump >= std::chrono::milliseconds(slice)) {
            RequestWaits::ServiceQueue();
            lastPump = Clock::now();
        }
    }

    CURLcode result = CURLE_OK;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy)
            result = msg->data.result;
    }
    return result;
}

// A body decoded whole goes into a sink in one piece.
void WriteWhole(const QString& text, AnswerSink& sink)
{
    sink.begin(text.size());
    char16_t* out = sink.room(text.size());
    if (!text.isEmpty())
        std::memcpy(out, text.utf16(), std::size_t(text.size()) * sizeof(char16_t));
    sink.took(text.size());
}

// A failed transfer described by the system error, or else by curl.
TransportError OtherTransferError(CURL* easy, const char* errorBuffer, CURLcode result)
{
    long osError = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
    if (osError != 0)
        return TransportError(
            SocketErrorMessage(osError, QString::fromLocal8Bit(std::strerror(int(osError)))));
    const QString detail = errorBuffer[0] ? QString::fromUtf8(errorBuffer)
                                          : QString::fromUtf8(curl_easy_strerror(result));
    return TransportError(detail.endsWith(u'.') ? detail : detail + u'.');
}

// A server certificate that failed the chain check or the name check.
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

} // namespace

QString HttpClient::Post(const QString& address, const QStringList& fields)
{
    return post(address, fields, nullptr);
}

void HttpClient::Post(const QString& address, const QStringList& fields, AnswerSink& sink)
{
    post(address, fields, &sink);
}

QString HttpClient::post(const QString& address, const QStringList& fields, AnswerSink* sink)
{
    if (d->shutDown)
        throw RequestAbandoned();
    if (d->busy)
        throw TransportError(
            QStringLiteral("A request to the server is still waiting for its answer."));
    d->busy = true;
    d->abandoned = false;
    struct Idle
    {
        Private* p;
        ~Idle()
        {
            p->busy = false;
            p->abandoned = false;
            // Whatever the outcome, the bytes of this request are not kept.
            p->requestBody = QByteArray();
            p->responseBody = QByteArray();
            p->sink = nullptr;
            p->stream.reset();
        }
    } idle{d.get()};
    d->sink = sink;
    const RequestWaits::Scope waiting;

    d->requestBody = EncodeFormBody(fields);
    const QByteArray url = address.toUtf8();

    curl_slist* headers = nullptr;
    for (const char* h :
         {"Connection: keep-alive", "Content-Type: application/x-www-form-urlencoded",
          "Accept: text/html, */*", "Accept-Encoding: identity", "Expect:"})
        headers = curl_slist_append(headers, h);
    struct FreeHeaders
    {
        curl_slist* list;
        ~FreeHeaders() { curl_slist_free_all(list); }
    } freeHeaders{headers};

    CURL* easy = d->easy;
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(d->requestBody.size()));
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Private::ReadBody);
    curl_easy_setopt(easy, CURLOPT_READDATA, d.get());
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Private::RewindBody);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, d.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Private::OnHeaderLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, d.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Private::OnBodyPiece);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, d.get());
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Private::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, d.get());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(d->connectTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 0L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, d->errorBuffer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Reads from the network in blocks of up to this size rather than
    // 16 KiB: far fewer system calls and rounds of the wait loop for a large
    // answer. curl still hands the body on in pieces of at most 16 KiB, each
    // with its progress event, as before.
    if (curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferBytes) != CURLE_OK)
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, long(CURL_MAX_READ_SIZE));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // For HTTP/1.0 curl offers only "http/1.0"; servers that pick "http/1.1"
    // anyway (a stock Apache) then fail the handshake, and an HTTP/1.0
    // client has nothing to negotiate.
    curl_easy_setopt(easy, CURLOPT_SSL_ENABLE_ALPN, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Private::PrepareTls);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, d.get());
    // A cached store would keep the private authorities added to it after
    // the file changed.
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, d->caFile.isEmpty() ? 86400L : 0L);

    auto dispatchEvents = [this] {
        // Handlers may service the event queue and even start requests on
        // other clients, so run them outside curl's callbacks.
        std::vector<Event> events;
        events.swap(d->events);
        for (const Event& e : events) {
            switch (e.kind) {
            case Event::Begin:
                if (OnWorkBegin)
                    OnWorkBegin(e.direction, e.count);
                break;
            case Event::Work:
                if (OnWork)
                    OnWork(e.direction, e.count);
                break;
            case Event::End:
                if (OnWorkEnd)
                    OnWorkEnd(e.direction);
                break;
            }
        }
    };

    d->requestsSent = 0;
    d->attemptsExhausted = false;
    for (int attempt = 1;; ++attempt) {
        if (d->auth != AuthScheme::None) {
            curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CurlAuthFlag(d->auth));
            curl_easy_setopt(easy, CURLOPT_USERNAME, d->userName.constData());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, d->password.constData());
        }
        d->startAttempt();
        const CURLcode result =
            RunTransfer(d->multi, easy, d->connected, d->abandoned, dispatchEvents);

        if (d->callbackError)
            std::rethrow_exception(d->callbackError);
        if (!d->fault.isEmpty())
            throw TransportError(d->fault);
        if (result == CURLE_ABORTED_BY_CALLBACK && d->attemptsExhausted)
            throw HttpStatusError(QString::fromLatin1(d->statusLine), d->status,
                                  DecodeResponseBody(d->responseBody, d->head.contentType()));

        switch (result) {
        case CURLE_OK:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            if (!d->inBody())
                throw TransportError(QStringLiteral("Connection Closed Gracefully."));
            if (result != CURLE_OK)
                throw TransportError(d->cutShortMessage());
            break;
        case CURLE_OPERATION_TIMEDOUT:
            throw TransportError(QStringLiteral("Connect timed out."));
        case CURLE_PEER_FAILED_VERIFICATION:
            throw CertificateRefused(d->chainProblem, address);
        case CURLE_COULDNT_RESOLVE_HOST:
            throw TransportError(
                SocketErrorMessage(HostNotFoundNumber, QStringLiteral("Host not found")));
        case CURLE_OUT_OF_MEMORY:
            // curl's only refusal while it collects the head: one line
            // longer than it will buffer.
            if (d->connected && !d->inBody())
                throw TransportError(
                    QStringLiteral("The answer has a header line longer than %1 bytes.")
                        .arg(CURL_MAX_HTTP_HEADER));
            throw OtherTransferError(easy, d->errorBuffer, result);
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY:
            if (d->awaitingStatusLine)
                throw TransportError(
                    QStringLiteral("The answer does not begin with a valid HTTP status line."));
            throw OtherTransferError(easy, d->errorBuffer, result);
        default:
            throw OtherTransferError(easy, d->errorBuffer, result);
        }

        dispatchEvents();
        if (OnWorkEnd)
            OnWorkEnd(TransferDirection::Receive);

        QString text;
        if (d->stream && !d->sinkTakesBytes)
            d->stream->finish(*sink);
        else if (d->status != 204)
            // Decoded, the raw bytes are freed at once rather than held beside the text.
            text = DecodeResponseBody(std::exchange(d->responseBody, {}), d->head.contentType());
        if (d->status >= 200 && d->status <= 299) {
            if (sink && !d->stream && d->status != 204)
                WriteWhole(text, *sink);
            return sink ? QString() : text;
        }

        if (d->status == 401 && attempt < MaxAttempts && d->requestsSent < MaxAttempts) {
            const AuthScheme scheme = FirstKnownScheme(d->head.challenges());
            if (scheme != AuthScheme::None && !d->password.trimmed().isEmpty()) {
                d->auth = scheme;
                continue;
            }
        }
        throw HttpStatusError(QString::fromLatin1(d->statusLine), d->status, text);
    }
}
