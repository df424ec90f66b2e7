#pragma once

#include "answer_sink.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <optional>

// Turns a response body into text by the first character set that applies:
// the one declared inside an XML body of an XML media type, the charset
// parameter of the Content-Type, US-ASCII or ISO-8859-1 for text types
// without one, the one named by an HTML meta element, and otherwise (or when
// the named set is unknown) one character per byte.
QString DecodeResponseBody(const QByteArray& body, const QByteArray& contentType);

// Decodes a body piece by piece as it arrives, with exactly the text
// DecodeResponseBody gives for the whole body. Only for bodies whose
// character set the Content-Type alone settles and which is UTF-8 or a set
// of one byte per character: any other body is decoded whole.
class BodyTextStream
{
public:
    // Empty when the body has to be decoded whole.
    static std::optional<BodyTextStream> For(const QByteArray& contentType);

    // Writes the text of the bytes into the sink; bytes that may begin a
    // character completed by the next piece wait for it.
    void feed(QByteArrayView bytes, AnswerSink& sink);
    // The body is over: what still waits is decoded as the end of the body.
    void finish(AnswerSink& sink);

    // The set of one byte per character, or UTF-8, the body is in.
    AnswerSink::ByteText byteText() const
    {
        return m_kind == Kind::Utf8 ? AnswerSink::ByteText::Utf8 : AnswerSink::ByteText::Latin1;
    }

private:
    enum class Kind
    {
        Utf8,
        Latin1
    };
    explicit BodyTextStream(Kind kind);
    void write(QByteArrayView bytes, AnswerSink& sink);

    Kind m_kind;
    bool m_atStart = true;
    QStringDecoder m_firstDecoder;
    QStringDecoder m_decoder;
    QByteArray m_waiting;
};
