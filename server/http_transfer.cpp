// The libcurl transfer loop: runs a transfer while the event queue is
// serviced, sends the request body, and says what a failed transfer means.

#include "http_client_private.h"
#include "request_waits.h"

#include <chrono>
#include <cstring>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ConnectingSliceMs = 125;
constexpr int ReceivingSliceMs = 250;
// The resolver reports no system error number; this is the one the C
// library's h_errno uses for an unknown host.
constexpr long HostNotFoundNumber = 1;

QString SocketErrorMessage(long number, const QString& description)
{
    QString text = description;
    if (!text.endsWith(u'.'))
        text += u'.';
    return QStringLiteral("Socket Error # %1\n%2").arg(number).arg(text);
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

// A multi handle call that failed: the transfer cannot go on.
void CheckMulti(CURLMcode code)
{
    if (code != CURLM_OK)
        throw TransportError(QStringLiteral("The transfer could not go on: %1.")
                                 .arg(QString::fromUtf8(curl_multi_strerror(code))));
}

} // namespace

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURLcode RunTransfer(HttpClientState& p, const std::function<void()>& dispatchEvents)
{
    CURLM* multi = p.multi;
    CURL* easy = p.easy;
    CheckMulti(curl_multi_add_handle(multi, easy));
    struct Detach
    {
        CURLM* multi;
        CURL* easy;
        ~Detach() { curl_multi_remove_handle(multi, easy); }
    } detach{multi, easy};

    auto lastPump = Clock::now();
    for (;;) {
        int running = 0;
        CheckMulti(curl_multi_perform(multi, &running));
        // Whatever was read in this round has had its event.
        p.reportRead();
        dispatchEvents();
        if (!running)
            break;
        if (p.abandoned)
            throw RequestAbandoned();

        const int slice = p.connected ? ReceivingSliceMs : ConnectingSliceMs;
        int ready = 0;
        CheckMulti(curl_multi_poll(multi, nullptr, 0, slice, &ready));
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

void RaiseTransferError(const HttpClientState& p, CURLcode result, const QString& address)
{
    switch (result) {
    case CURLE_OK:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        if (!p.inBody())
            throw TransportError(QStringLiteral("Connection Closed Gracefully."));
        if (result != CURLE_OK)
            throw TransportError(p.cutShortMessage());
        return;
    case CURLE_OPERATION_TIMEDOUT:
        throw TransportError(QStringLiteral("Connect timed out."));
    case CURLE_PEER_FAILED_VERIFICATION:
        throw CertificateRefused(p.chainProblem, address);
    case CURLE_COULDNT_RESOLVE_HOST:
        throw TransportError(
            SocketErrorMessage(HostNotFoundNumber, QStringLiteral("Host not found")));
    case CURLE_OUT_OF_MEMORY:
        // curl's only refusal while it collects the head: one line
        // longer than it will buffer.
        if (p.connected && !p.inBody())
            throw TransportError(
                QStringLiteral("The answer has a header line longer than %1 bytes.")
                    .arg(CURL_MAX_HTTP_HEADER));
        throw OtherTransferError(p.easy, p.errorBuffer, result);
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
        if (p.awaitingStatusLine)
            throw TransportError(
                QStringLiteral("The answer does not begin with a valid HTTP status line."));
        throw OtherTransferError(p.easy, p.errorBuffer, result);
    default:
        throw OtherTransferError(p.easy, p.errorBuffer, result);
    }
}

// Each connection carries a new request, also one curl repeats by itself
// for an authentication round: the answer before it no longer stands for
// the outcome, even when this connection fails before it is established.
int OnNewSocket(void* self, curl_socket_t, curlsocktype)
{
    static_cast<HttpClientState*>(self)->headersComplete = false;
    return CURL_SOCKOPT_OK;
}

int OnConnected(void* self, char*, char*, int, int)
{
    return Guarded(self, int(CURL_PREREQFUNC_ABORT), [](HttpClientState& p) {
        if (++p.requestsSent > MaxAttempts) {
            p.attemptsExhausted = true;
            return int(CURL_PREREQFUNC_ABORT);
        }
        p.connected = true;
        p.awaitingStatusLine = true;
        p.sent = 0;
        p.wholeRequestSent = p.requestBody.isEmpty();
        p.events.push_back({TransferEvent::Begin, TransferDirection::Send, p.requestBody.size()});
        if (p.requestBody.isEmpty())
            p.events.push_back({TransferEvent::End, TransferDirection::Send, 0});
        return int(CURL_PREREQFUNC_OK);
    });
}

std::size_t ReadRequestBody(char* buffer, std::size_t size, std::size_t count, void* self)
{
    return Guarded(self, std::size_t(CURL_READFUNC_ABORT), [&](HttpClientState& p) {
        const std::size_t n = std::min(size * count, std::size_t(p.requestBody.size() - p.sent));
        if (n == 0)
            return n;
        std::memcpy(buffer, p.requestBody.constData() + p.sent, n);
        p.sent += qsizetype(n);
        p.events.push_back({TransferEvent::Work, TransferDirection::Send, p.sent});
        if (p.sent == p.requestBody.size()) {
            p.wholeRequestSent = true;
            p.events.push_back({TransferEvent::End, TransferDirection::Send, 0});
        }
        return n;
    });
}

// An authentication round may send the body again.
int RewindRequestBody(void* self, curl_off_t offset, int origin)
{
    auto* p = static_cast<HttpClientState*>(self);
    if (origin != SEEK_SET || offset < 0 || offset > p->requestBody.size())
        return CURL_SEEKFUNC_CANTSEEK;
    p->sent = qsizetype(offset);
    return CURL_SEEKFUNC_OK;
}
