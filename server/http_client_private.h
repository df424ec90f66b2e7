#pragma once

// What the parts of HttpClient share: the state of one client (its
// HttpClient::Private) and the steps of a Post, each defined in the file
// named at its declaration. Only the client's own files include this.

#include "answer_head.h"
#include "auth_challenge.h"
#include "http_client.h"
#include "response_decoding.h"

#include <QByteArray>
#include <QString>

#include <curl/curl.h>
#include <openssl/x509_vfy.h>
#include <tillora/settings.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

constexpr int MaxAttempts = 3;

// A transfer event noted inside a curl callback, raised once curl has
// returned (handlers may service the event queue).
struct TransferEvent
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

struct HttpClientState
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
    // Body bytes the last receive progress event carried.
    std::int64_t reportedBodyBytes = 0;
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
    std::vector<TransferEvent> events;
    // The send direction's last event (its OnWorkEnd) came for the request
    // on the latest connection: the server has the whole request. Kept after
    // Post returns.
    bool wholeRequestSent = false;

    void startAttempt();

    // The headers of a final answer are over and its body is being read.
    bool inBody() const { return headersComplete && status >= 200; }
    // The transfer got as far as the body of an answer that fails with its
    // status; what happened to the body after that does not change the error.
    bool failedByStatus() const { return inBody() && !awaitingStatusLine && status > 299; }

    // answer_checks.cpp
    bool withinLimit(std::size_t count);
    // A body that is not used is read only as far as the limit allows.
    bool bodyReadable(bool bodyUsed);
    QString cutShortMessage() const;

    // answer_streaming.cpp
    void startStream();
    // Raises the receive progress event of a read from the network whose
    // bytes have all been taken.
    void reportRead();
};

// Runs the body of a curl callback. curl is C: no exception may unwind
// through it. One that `body` raises is kept, curl is told to stop with
// `abortCode`, and Post raises the exception once curl has returned.
template <typename R, typename F> R Guarded(void* self, R abortCode, F&& body)
{
    auto& p = *static_cast<HttpClientState*>(self);
    try {
        return body(p);
    } catch (...) {
        if (!p.callbackError)
            p.callbackError = std::current_exception();
        return abortCode;
    }
}

// curl_settings.cpp: the options of a request, its callbacks included, and
// the credentials of an attempt.
void SetRequestOptions(HttpClientState& p, const QByteArray& url, curl_slist* headers);
void SetCredentials(HttpClientState& p);
// The header lines every request sends.
curl_slist* RequestHeaders();
// A server certificate that failed the chain check or the name check.
TransportError CertificateRefused(int chainProblem, const QString& address);

// http_transfer.cpp: curl's set-up, the transfer loop and the request side
// of a transfer.
void InitCurlOnce();
// Runs one transfer on the multi handle, servicing the Qt event queue in
// slices while it waits. Returns curl's result for the transfer.
CURLcode RunTransfer(HttpClientState& p, const std::function<void()>& dispatchEvents);
// Raises the error a transfer that did not end with a whole answer stands for.
void RaiseTransferError(const HttpClientState& p, CURLcode result, const QString& address);
int OnNewSocket(void* self, curl_socket_t, curlsocktype);
int OnConnected(void* self, char*, char*, int, int);
std::size_t ReadRequestBody(char* buffer, std::size_t size, std::size_t count, void* self);
int RewindRequestBody(void* self, curl_off_t offset, int origin);

// answer_checks.cpp: the answer's status line and head.
std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* self);

// answer_streaming.cpp: the answer's body, kept or handed to a sink.
std::size_t OnBodyPiece(char* data, std::size_t size, std::size_t count, void* self);
// A body decoded whole goes into a sink in one piece.
void WriteWhole(const QString& text, AnswerSink& sink);
