#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <cstdint>

// Takes the text of a successful answer's body while it arrives, so that
// the body is never held whole, neither as bytes nor as text. The client
// decodes each piece straight into the room the sink offers.
class AnswerSink
{
public:
    virtual ~AnswerSink() = default;

    // The body begins; `expectedChars` bounds its length in characters when
    // the answer announced one, else it is -1. Called at most once.
    virtual void begin(std::int64_t expectedChars) = 0;
    // Room for at least `chars` characters, valid until the next call.
    virtual char16_t* room(qsizetype chars) = 0;
    // The first `chars` characters of the last room() were written.
    virtual void took(qsizetype chars) = 0;

    // A sink may instead take the raw bytes of a body in UTF-8 or in a set
    // of one byte per character (ISO-8859-1, and any set unknown here) and
    // decode them itself, as it cuts them, with exactly the text a decoder
    // would give. When it takes them, beginBytes() returns true and the
    // pieces come to takeBytes() instead of room() and took().
    enum class ByteText
    {
        Utf8,
        Latin1
    };
    virtual bool beginBytes(std::int64_t /*expectedBytes*/, ByteText) { return false; }
    virtual void takeBytes(QByteArrayView /*bytes*/) {}
};
