#include "http_client.h"

#include "form_encoding.h"
#include "request_waits.h"
#include "response_decoding.h"

#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ConnectingSliceMs = 125;
constexpr int ReceivingSliceMs = 250;
constexpr int MaxAttempts = 3;
// The resolver reports no system error number; this is the one the C
// library's h_errno uses for an unknown host.
constexpr long HostNotFoundNumber = 1;

enum class AuthScheme
{
    None,
    Basic,
    Digest,
    Ntlm,
    Negotiate
};

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

// The scheme names of the challenges in WWW-Authenticate values, in order.
// A challenge list is comma-separated; parameters ("realm=...") are not names.
std::vector<QByteArray> ChallengeSchemes(const std::vector<QByteArray>& headers)
{
    std::vector<QByteArray> schemes;
    for (const QByteArray& header : headers) {
        QByteArray piece;
        bool quoted = false;
        auto flush = [&] {
            const QByteArray item = piece.trimmed();
            const qsizetype space = item.indexOf(' ');
            const QByteArray token = space < 0 ? item : item.first(space);
            if (!token.isEmpty() && !token.contains('='))
                schemes.push_back(token);
            piece.clear();
        };
        for (const char c : header) {
            if (c == '"')
                quoted = !quoted;
            if (c == ',' && !quoted)
                flush();
            else
                piece += c;
        }
        flush();
    }
    return schemes;
}

AuthScheme FirstKnownScheme(const std::vector<QByteArray>& headers)
{
    for (const QByteArray& name : ChallengeSchemes(headers)) {
        const QByteArray lower = name.toLower();
        if (lower == "basic")
            return AuthScheme::Basic;
        if (lower == "digest")
            return AuthScheme::Digest;
        if (lower == "ntlm")
            return AuthScheme::Ntlm;
        if (lower == "negotiate")
            return AuthScheme::Negotiate;
    }
    return AuthScheme::None;
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
    QByteArray responseBody;
    QByteArray statusLine;
    int status = 0;
    bool headersComplete = false;
    QByteArray contentType;
    std::int64_t contentLength = -1;
    std::vector<QByteArray> challenges;
    std::vector<Event> events;

    void startAttempt()
    {
        sent = 0;
        connected = false;
        responseBody.clear();
        statusLine.clear();
        status = 0;
        headersComplete = false;
        contentType.clear();
        contentLength = -1;
        challenges.clear();
        events.clear();
        errorBuffer[0] = '\0';
    }

    static int OnConnected(void* self, char*, char*, int, int)
    {
        auto* p = static_cast<Private*>(self);
        if (++p->requestsSent > MaxAttempts) {
            p->attemptsExhausted = true;
            return CURL_PREREQFUNC_ABORT;
        }
        p->connected = true;
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
        QByteArray line(data, qsizetype(n));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);

        if (line.startsWith("HTTP/")) {
            // A new status line: an interim 1xx answer or an earlier
            // authentication round is over.
            p->statusLine = line;
            const QList<QByteArray> parts = line.split(' ');
            p->status = parts.size() > 1 ? parts[1].toInt() : 0;
            p->headersComplete = false;
            p->contentType.clear();
            p->contentLength = -1;
            p->challenges.clear();
            p->responseBody.clear();
        } else if (line.isEmpty()) {
            p->headersComplete = true;
            if (p->status >= 200)
                p->events.push_back({Event::Begin, TransferDirection::Receive,
                                     p->contentLength < 0 ? 0 : p->contentLength});
        } else {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0) {
                const QByteArray name = line.first(colon).trimmed().toLower();
                const QByteArray value = line.sliced(colon + 1).trimmed();
                if (name == "content-type")
                    p->contentType = value;
                else if (name == "content-length")
                    p->contentLength = value.toLongLong();
                else if (name == "www-authenticate")
                    p->challenges.push_back(value);
            }
        }
        return n;
    }

    static size_t OnBodyPiece(char* data, size_t size, size_t count, void* self)
    {
        auto* p = static_cast<Private*>(self);
        const size_t n = size * count;
        p->responseBody.append(data, qsizetype(n));
        p->events.push_back({Event::Work, TransferDirection::Receive, p->responseBody.size()});
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

} // namespace

QString HttpClient::Post(const QString& address, const QStringList& fields)
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
        }
    } idle{d.get()};
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

        if (result == CURLE_ABORTED_BY_CALLBACK && d->attemptsExhausted)
            throw HttpStatusError(QString::fromLatin1(d->statusLine), d->status,
                                  DecodeResponseBody(d->responseBody, d->contentType));

        switch (result) {
        case CURLE_OK:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            if (result != CURLE_OK || !d->headersComplete || d->status < 200)
                throw TransportError(QStringLiteral("Connection Closed Gracefully."));
            break;
        case CURLE_OPERATION_TIMEDOUT:
            throw TransportError(QStringLiteral("Connect timed out."));
        case CURLE_COULDNT_RESOLVE_HOST:
            throw TransportError(
                SocketErrorMessage(HostNotFoundNumber, QStringLiteral("Host not found")));
        default: {
            long osError = 0;
            curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
            if (osError != 0)
                throw TransportError(SocketErrorMessage(
                    osError, QString::fromLocal8Bit(std::strerror(int(osError)))));
            const QString detail = d->errorBuffer[0]
                                       ? QString::fromUtf8(d->errorBuffer)
                                       : QString::fromUtf8(curl_easy_strerror(result));
            throw TransportError(detail.endsWith(u'.') ? detail : detail + u'.');
        }
        }

        dispatchEvents();
        if (OnWorkEnd)
            OnWorkEnd(TransferDirection::Receive);

        const QString text =
            d->status == 204 ? QString() : DecodeResponseBody(d->responseBody, d->contentType);
        if (d->status >= 200 && d->status <= 299)
            return text;

        if (d->status == 401 && attempt < MaxAttempts && d->requestsSent < MaxAttempts) {
            const AuthScheme scheme = FirstKnownScheme(d->challenges);
            if (scheme != AuthScheme::None && !d->password.trimmed().isEmpty()) {
                d->auth = scheme;
                continue;
            }
        }
        throw HttpStatusError(QString::fromLatin1(d->statusLine), d->status, text);
    }
}
