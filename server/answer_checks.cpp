// The answer's status line and head as they arrive: which answer is the
// final one, the size limit, and whether its body can be read as it comes.

#include "http_client_private.h"

#include <QList>

namespace {

QString AnswerTooLargeMessage(std::int64_t limit)
{
    return QStringLiteral("The answer is larger than the limit of %1 bytes.").arg(limit);
}

} // namespace

// Counts received bytes against the limit, so that an answer without
// end stops while it arrives instead of filling the memory.
bool HttpClientState::withinLimit(std::size_t count)
{
    answerBytes += std::int64_t(count);
    if (answerBytes <= maxAnswerBytes)
        return true;
    fault = AnswerTooLargeMessage(maxAnswerBytes);
    return false;
}

// Checked once the headers of a final answer are over, before any of
// its body is read.
bool HttpClientState::bodyReadable(bool bodyUsed)
{
    fault = bodyUsed ? head.fault() : QString();
    if (fault.isEmpty() && !head.chunked() && head.contentLength() > maxAnswerBytes - answerBytes)
        fault = AnswerTooLargeMessage(maxAnswerBytes);
    return fault.isEmpty();
}

// A body the connection closed on before its end.
QString HttpClientState::cutShortMessage() const
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

namespace {

std::size_t TakeHeaderLine(HttpClientState* p, const char* data, std::size_t n)
{
    QByteArrayView line(data, qsizetype(n));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);

    // A trailer after a chunked body is no new answer, whatever it says;
    // a repeated request (an authentication round) expects one again.
    const bool isStatusLine = line.startsWith("HTTP/") && (p->awaitingStatusLine || !p->inBody());
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
    // Any other answer fails with its status, so how its body is framed or
    // coded does not matter: it only becomes the error's text.
    const bool bodyUsed = p->status >= 200 && p->status <= 299;
    if (p->status != 204 && p->status != 304 && !p->bodyReadable(bodyUsed))
        return 0;
    p->startStream();
    p->events.push_back({TransferEvent::Begin, TransferDirection::Receive,
                         std::max<std::int64_t>(p->head.contentLength(), 0)});
    return n;
}

} // namespace

std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* self)
{
    // Any count but the line's own stops the transfer.
    return Guarded(self, std::size_t(0),
                   [&](HttpClientState& p) { return TakeHeaderLine(&p, data, size * count); });
}
