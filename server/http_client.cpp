// HttpClient itself: its settings and a Post's attempts, from the request
// to the answer's text or error. The steps live in curl_settings.cpp,
// http_transfer.cpp, answer_checks.cpp and answer_streaming.cpp.

#include "http_client_private.h"

#include "form_encoding.h"
#include "request_waits.h"

#include <exception>
#include <utility>
#include <vector>

struct HttpClient::Private : HttpClientState
{
};

void HttpClientState::startAttempt()
{
    sent = 0;
    connected = false;
    awaitingStatusLine = false;
    responseBody = QByteArray();
    bodyBytes = 0;
    reportedBodyBytes = 0;
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
    wholeRequestSent = false;
    errorBuffer[0] = '\0';
}

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

bool HttpClient::wholeRequestSent() const
{
    return d->wholeRequestSent;
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
    d->wholeRequestSent = false;
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

    struct FreeHeaders
    {
        curl_slist* list;
        ~FreeHeaders() { curl_slist_free_all(list); }
    } headers{RequestHeaders()};
    SetRequestOptions(*d, url, headers.list);

    auto dispatchEvents = [this] {
        // Handlers may service the event queue and even start requests on
        // other clients, so run them outside curl's callbacks.
        std::vector<TransferEvent> events;
        events.swap(d->events);
        for (const TransferEvent& e : events) {
            switch (e.kind) {
            case TransferEvent::Begin:
                if (OnWorkBegin)
                    OnWorkBegin(e.direction, e.count);
                break;
            case TransferEvent::Work:
                if (OnWork)
                    OnWork(e.direction, e.count);
                break;
            case TransferEvent::End:
                if (OnWorkEnd)
                    OnWorkEnd(e.direction);
                break;
            }
        }
    };

    d->requestsSent = 0;
    d->attemptsExhausted = false;
    for (int attempt = 1;; ++attempt) {
        SetCredentials(*d);
        d->startAttempt();
        const CURLcode result = RunTransfer(*d, dispatchEvents);

        if (d->callbackError)
            std::rethrow_exception(d->callbackError);
        if (result == CURLE_ABORTED_BY_CALLBACK && d->attemptsExhausted)
            throw HttpStatusError(QString::fromLatin1(d->statusLine), d->status,
                                  DecodeResponseBody(d->responseBody, d->head.contentType()));
        // A status error wins over a body cut short, too large or framed
        // wrongly: what arrived of the body is the error's text.
        if (!d->failedByStatus()) {
            if (!d->fault.isEmpty())
                throw TransportError(d->fault);
            RaiseTransferError(*d, result, address);
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
