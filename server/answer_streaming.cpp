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
        p.events.push_back({TransferEvent::Work, TransferDirection::Receive, p.bodyBytes});
        return n;
    });
}

void WriteWhole(const QString& text, AnswerSink& sink)
{
    sink.begin(text.size());
    char16_t* out = sink.room(text.size());
    if (!text.isEmpty())
        std::memcpy(out, text.utf16(), std::size_t(text.size()) * sizeof(char16_t));
    sink.took(text.size());
}
