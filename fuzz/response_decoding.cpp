// Response decoding on arbitrary bodies and Content-Type values. The input is
// the Content-Type value, a line feed, then the body (no line feed: all body,
// no Content-Type).
//
// Checks: decoding is repeatable and gives the same text piece by piece, an empty body gives an empty text, and when
// nothing names a character set (no charset parameter, no XML type, no meta
// element) the text is one character per byte. Any failure must be a
// TilloraError.

#include "response_decoding.h"
#include "errors.h"
#include "fuzz_support.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = Bytes(data, size);
    const qsizetype lf = input.indexOf('\n');
    const QByteArray contentType = lf < 0 ? QByteArray() : input.first(lf);
    const QByteArray body = lf < 0 ? input : input.sliced(lf + 1);

    try {
        const QString text = DecodeResponseBody(body, contentType);
        FUZZ_CHECK(text == DecodeResponseBody(body, contentType));

        // Decoded while it arrives, wherever the pieces are cut, a body
        // gives the text it gives decoded whole.
        if (std::optional<BodyTextStream> stream = BodyTextStream::For(contentType)) {
            struct Collect : AnswerSink
            {
                QString text;
                std::vector<char16_t> room_;
                void begin(std::int64_t) override {}
                char16_t* room(qsizetype chars) override
                {
                    room_.resize(std::size_t(chars));
                    return room_.data();
                }
                void took(qsizetype chars) override { text += QStringView(room_.data(), chars); }
            } sink;
            const qsizetype n = body.size();
            const qsizetype cut = n == 0 ? 0 : static_cast<unsigned char>(body[n - 1]) * n / 256;
            stream->feed(QByteArrayView(body).first(cut), sink);
            stream->feed(QByteArrayView(body).sliced(cut), sink);
            stream->finish(sink);
            FUZZ_CHECK(sink.text == text);
        }
        if (body.isEmpty())
            FUZZ_CHECK(text.isEmpty());

        const QByteArray type = contentType.toLower();
        if (!type.contains("charset") && !type.contains("xml") && !body.toLower().contains("<meta"))
            FUZZ_CHECK(text == QString::fromLatin1(body));
    } catch (const TilloraError& e) {
        FUZZ_CHECK(!e.message().isEmpty());
    } catch (...) {
        AbortOnForeignException();
    }
    return 0;
}
