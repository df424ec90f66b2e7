#pragma once

// Shared by the fuzz targets. Builds are Release-like (NDEBUG), so checks use
// their own macro, and every broken check ends in abort() for libFuzzer.

#include "errors.h"
#include "response_decoding.h"
#include "table_dump.h"

#include <optional>
#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <typeinfo>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// For catch (...): an exception that is not the code's own error type is a
// finding, so name it and abort.
[[noreturn]] inline void AbortOnForeignException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unexpected exception %s: %s\n", typeid(e).name(), e.what());
    } catch (...) {
        std::fprintf(stderr, "unexpected exception of a type not derived from std::exception\n");
    }
    std::abort();
}

inline QByteArray Bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline QString Utf8Text(const std::uint8_t* data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

// QString::fromUtf8 drops an initial BOM; a decoded form field keeps it.
inline QString Utf8TextKeepingBom(std::string_view bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

// Whether Qt reads the bytes as UTF-8 without replacing anything: a second
// opinion on the reference server's own check. An initial BOM is kept as text.
inline bool QtReadsAsUtf8(std::string_view bytes)
{
    return Utf8TextKeepingBom(bytes).toUtf8() ==
           QByteArrayView(bytes.data(), qsizetype(bytes.size()));
}

// Feeds `bytes` into `sink` as the body of a UTF-8 answer arriving in three
// pieces, cut at places the bytes themselves pick.
inline void StreamUtf8(const QByteArray& bytes, AnswerSink& sink)
{
    std::optional<BodyTextStream> stream = BodyTextStream::For("text/html; charset=UTF-8");
    const qsizetype n = bytes.size();
    const qsizetype a = n == 0 ? 0 : static_cast<unsigned char>(bytes[0]) * n / 256;
    const qsizetype b = n == 0 ? 0 : a + (n - a) / 2;
    sink.begin(n);
    stream->feed(QByteArrayView(bytes).first(a), sink);
    stream->feed(QByteArrayView(bytes).sliced(a, b - a), sink);
    stream->feed(QByteArrayView(bytes).sliced(b), sink);
    stream->finish(sink);
}

// The same pieces as raw bytes, for a sink that cuts them before decoding.
inline void StreamUtf8Bytes(const QByteArray& bytes, AnswerSink& sink)
{
    const qsizetype n = bytes.size();
    const qsizetype a = n == 0 ? 0 : static_cast<unsigned char>(bytes[0]) * n / 256;
    const qsizetype b = n == 0 ? 0 : a + (n - a) / 2;
    if (!sink.beginBytes(n, AnswerSink::ByteText::Utf8))
        std::abort();
    sink.takeBytes(QByteArrayView(bytes).first(a));
    sink.takeBytes(QByteArrayView(bytes).sliced(a, b - a));
    sink.takeBytes(QByteArrayView(bytes).sliced(b));
}

// Everything a list builder gives: the count or its error, then the whole
// table or the first record's error.
template <typename Builder>
QString ListOutcome(Builder& builder)
{
    QString out;
    try {
        out = QString::number(builder.count()) + u'\n';
    } catch (const TilloraError& e) {
        return QStringLiteral("count error ") + e.message();
    }
    try {
        out += DumpTable(builder.take());
    } catch (const TilloraError& e) {
        out += QStringLiteral("error ") + e.message();
    }
    return out;
}
