#pragma once

#include "answer_sink.h"
#include "errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

// Which body a transfer event is about.
enum class TransferDirection
{
    Send,
    Receive
};

// A response whose status is not handled as success. The message is the
// status line exactly as received.
class HttpStatusError : public TilloraError
{
public:
    HttpStatusError(QString statusLine, int status, QString body)
        : TilloraError(std::move(statusLine)), m_status(status), m_body(std::move(body))
    {
    }
    int status() const { return m_status; }
    const QString& body() const { return m_body; }

private:
    int m_status;
    QString m_body;
};

// Socket errors, time-outs, connections closed early, a refused re-entry.
class TransportError : public TilloraError
{
public:
    using TilloraError::TilloraError;
};

// A request given up because its window closed; nobody is left to tell.
class RequestAbandoned : public TransportError
{
public:
    RequestAbandoned() : TransportError(QStringLiteral("Request abandoned.")) {}
};

// The client's only way to the server: posts an ordered field list as a
// form and returns the decoded response body. One instance per window that
// talks to the server; each keeps its own cookies and authentication state
// for its whole life.
//
// Post blocks its caller and services the Qt event queue while it waits
// (through RequestWaits: user input is deferred), so windows repaint and
// timers run. A second Post on a busy instance is refused.
//
// Over HTTPS the server's certificate and host name are always checked; a
// failed check fails the request, naming the problem.
class HttpClient
{
public:
    // Transfer events, raised on the caller's thread from inside Post.
    std::function<void(TransferDirection, std::int64_t expected)> OnWorkBegin;
    std::function<void(TransferDirection, std::int64_t reached)> OnWork;
    std::function<void(TransferDirection)> OnWorkEnd;

    // An empty password means the instance cannot answer a challenge.
    explicit HttpClient(QString userName = {}, QString password = {});
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Sends `fields` (each "name=value") to `address` and returns the decoded
    // body. Raises HttpStatusError or TransportError.
    QString Post(const QString& address, const QStringList& fields);
    // The same, but the text of a successful answer's body goes into `sink`
    // while it arrives (decoded piece by piece where its character set
    // allows, else whole at the end) instead of being returned.
    void Post(const QString& address, const QStringList& fields, AnswerSink& sink);

    bool busy() const;

    // Whether the last Post's request went out whole (its send direction's
    // OnWorkEnd came) on the last connection it opened: a Post that failed
    // after that may have been acted on by the server.
    bool wholeRequestSent() const;

    // Makes a waiting Post give up at its next slice with "Request abandoned.",
    // for a window that closes while its request waits.
    void abandon();

    // Abandons a waiting Post and refuses every later one the same way: the
    // application is ending and no request may start any more.
    void shutDown();

    // Connection time-out in milliseconds (120000 unless a test shortens it).
    void setConnectTimeout(int milliseconds);

    // Largest answer accepted, status line and headers included.
    void setMaxAnswerBytes(std::int64_t bytes);

    // A PEM file of certificate authorities trusted for HTTPS besides the
    // system's; empty for none. Starts as the built-in TILLORA_CA_FILE.
    void setCaFile(QString path);

private:
    QString post(const QString& address, const QStringList& fields, AnswerSink* sink);

    struct Private;
    std::unique_ptr<Private> d;
};
