// The answer's body as it arrives: kept whole, or decoded into the caller's
// sink piece by piece.

#include "http_client_private.h"

#include <cstring>

// A successful answer with a body goes to the sink as it arrives when
// its headers settle how to decode it.
void HttpClientState::startStream()
{
    if (!sink || status < 200 || status > 299 || status == 204)
        return;
    stream = BodyTextStream::For(head.contentType());
    if (!stream)
        return;
    const std::int64_t expected = head.chunked() ? -1 : head.contentLength();
    sinkTakesBytes = sink->beginBytes(expected, stream->byteText());
    if (!sinkTakesBytes)
        sink->begin(expected);
}

std::size_t OnBodyPiece(char* data, std::size_t size, std::size_t count, void* self)
{
    return Guarded(self, std::size_t(CURL_WRITEFUNC_ERROR), [&](HttpClientState& p) {
        const std::size_t n = size * count;
        if (!p.withinLimit(n))
            return std::size_t(CURL_WRITEFUNC_ERROR);
        if (!p.stream)
            p.responseBody.append(data, qsizetype(n));
        else if (p.sinkTakesBytes)
            p.sink->takeBytes(QByteArrayView(data, qsizetype(n)));
        else
            p.stream->feed(QByteArrayView(data, qsizetype(n)), *p.sink);
        p.bodyBytes += std::int64_t(n);
        // curl counts a read's body bytes before it hands them on in pieces
        // of at most 16 KiB: the read is over with the piece that reaches
        // the count. A count that lags (a chunked body's framing) leaves the
        // event to the end of the round of reads.
        curl_off_t counted = 0;
        if (curl_easy_getinfo(p.easy, CURLINFO_SIZE_DOWNLOAD_T, &counted) == CURLE_OK &&
            p.bodyBytes == std::int64_t(counted))
            p.reportRead();
        return n;
    });
}

void HttpClientState::reportRead()
{
    if (bodyBytes == reportedBodyBytes)
        return;
    reportedBodyBytes = bodyBytes;
    events.push_back({TransferEvent::Work, TransferDirection::Receive, bodyBytes});
}

void WriteWhole(const QString& text, AnswerSink& sink)
{
    sink.begin(text.size());
    char16_t* out = sink.room(text.size());
    if (!text.isEmpty())
        std::memcpy(out, text.utf16(), std::size_t(text.size()) * sizeof(char16_t));
    sink.took(text.size());
}
