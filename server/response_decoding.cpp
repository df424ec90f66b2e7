#include "response_decoding.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {

struct MediaType
{
    QByteArray type;    // lower case, e.g. "text"
    QByteArray subtype; // lower case, e.g. "html"
    QByteArray charset; // as given, without quotes; empty when absent
};

MediaType ParseContentType(const QByteArray& header)
{
    MediaType media;
    const QList<QByteArray> parts = header.split(';');
    const QByteArray full = parts.value(0).trimmed().toLower();
    const qsizetype slash = full.indexOf('/');
    media.type = slash < 0 ? full : full.first(slash);
    media.subtype = slash < 0 ? QByteArray() : full.sliced(slash + 1);
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray param = parts[i].trimmed();
        const qsizetype eq = param.indexOf('=');
        if (eq < 0 || param.first(eq).trimmed().toLower() != "charset")
            continue;
        QByteArray value = param.sliced(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.sliced(1, value.size() - 2);
        media.charset = value;
    }
    return media;
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Case-blind for ASCII letters; `needle` is lower case.
qsizetype IndexOfCaseBlind(QByteArrayView haystack, QByteArrayView needle, qsizetype from)
{
    const qsizetype last = haystack.size() - needle.size();
    for (qsizetype i = from; i <= last; ++i) {
        qsizetype k = 0;
        while (k < needle.size() && AsciiLower(haystack[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return i;
    }
    return -1;
}

bool IsXmlSubtype(const QByteArray& subtype)
{
    return subtype == "xml" || subtype == "xml-external-parsed-entity" || subtype.endsWith("+xml");
}

// The encoding named in an XML declaration: <?xml version="1.0" encoding="..."?>
QByteArray XmlDeclaredCharset(const QByteArray& body)
{
    static const QRegularExpression declaration(
        QStringLiteral(R"(^\s*<\?xml[^>]*?\sencoding\s*=\s*["']([A-Za-z0-9._:\-]+)["'])"));
    const QRegularExpressionMatch m =
        declaration.match(QString::fromLatin1(body.first(std::min<qsizetype>(body.size(), 1024))));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsWordChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsCharsetNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == ':' || c == '-';
}

// The name after a "charset" that ends at `pos`: blanks, "=", blanks, an
// optional quote, blanks, then the name. Empty when something else comes.
QByteArrayView CharsetNameAt(QByteArrayView element, qsizetype pos)
{
    const qsizetype end = element.size();
    while (pos < end && IsBlank(element[pos]))
        ++pos;
    if (pos == end || element[pos] != '=')
        return {};
    ++pos;
    while (pos < end && IsBlank(element[pos]))
        ++pos;
    if (pos < end && (element[pos] == '"' || element[pos] == '\''))
        ++pos;
    while (pos < end && IsBlank(element[pos]))
        ++pos;
    const qsizetype start = pos;
    while (pos < end && IsCharsetNameChar(element[pos]))
        ++pos;
    return element.sliced(start, pos - start);
}

// The character set named by a meta element of an HTML body, in either the
// HTML5 form (charset="...") or the http-equiv form (content="...; charset=...").
// One forward pass without backtracking, so a hostile body costs time in
// proportion to its length. The whole body is searched, not only its first
// kilobytes, so a meta element after a long head still counts.
QByteArray HtmlMetaCharset(QByteArrayView body)
{
    static constexpr QByteArrayView Meta = "<meta";
    static constexpr QByteArrayView Charset = "charset";
    qsizetype pos = 0;
    for (;;) {
        const qsizetype open = body.indexOf('<', pos);
        if (open < 0 || open + Meta.size() > body.size())
            return {};
        const qsizetype after = open + Meta.size();
        if (IndexOfCaseBlind(body.first(after), Meta, open) != open ||
            (after < body.size() && IsWordChar(body[after]))) {
            pos = open + 1;
            continue;
        }
        const qsizetype close = body.indexOf('>', after);
        if (close < 0)
            return {};
        const QByteArrayView element = body.sliced(open, close + 1 - open);
        for (qsizetype at = 0; (at = IndexOfCaseBlind(element, Charset, at)) >= 0;) {
            at += Charset.size();
            const QByteArrayView name = CharsetNameAt(element, at);
            if (!name.isEmpty())
                return name.toByteArray();
        }
        pos = close + 1;
    }
}

bool LooksLikeHtml(const QByteArray& body)
{
    const QByteArray start = body.first(std::min<qsizetype>(body.size(), 4096)).toLower();
    return start.contains("<html") || start.contains("<!doctype html") || start.contains("<meta");
}

// Decodes with a named character set; empty optional when Qt does not know it.
std::optional<QString> DecodeWith(const QByteArray& charset, const QByteArray& body)
{
    if (charset.isEmpty())
        return std::nullopt;
    QStringDecoder decoder(charset.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    return QString(decoder.decode(body));
}

bool IsXmlType(const MediaType& media)
{
    return (media.type == "application" &&
            (media.subtype == "xml" || media.subtype == "xml-dtd" ||
             media.subtype == "xml-external-parsed-entity")) ||
           (media.type != "text" && !media.type.isEmpty() && media.subtype.endsWith("+xml"));
}

// The character set the Content-Type names or implies, before the body is
// looked at.
QByteArray HeaderCharset(const MediaType& media)
{
    if (!media.charset.isEmpty())
        return media.charset;
    if (media.type == "text")
        return IsXmlSubtype(media.subtype) ? "us-ascii" : "ISO-8859-1";
    return {};
}

} // namespace

QString DecodeResponseBody(const QByteArray& body, const QByteArray& contentType)
{
    const MediaType media = ParseContentType(contentType);

    QByteArray charset;
    if (IsXmlType(media))
        charset = XmlDeclaredCharset(body);
    if (charset.isEmpty())
        charset = HeaderCharset(media);
    if (charset.isEmpty() && LooksLikeHtml(body))
        charset = HtmlMetaCharset(body);

    if (const std::optional<QString> text = DecodeWith(charset, body))
        return *text;
    return QString::fromLatin1(body);
}

std::optional<BodyTextStream> BodyTextStream::For(const QByteArray& contentType)
{
    const MediaType media = ParseContentType(contentType);
    if (IsXmlType(media))
        return std::nullopt; // the XML declaration may name another set
    const QByteArray charset = HeaderCharset(media);
    if (charset.isEmpty())
        return std::nullopt; // an HTML meta element may name one
    if (!QStringDecoder(charset.constData()).isValid())
        return BodyTextStream(Kind::Latin1); // unknown sets read one character per byte
    switch (QStringConverter::encodingForName(charset.constData()).value_or(QStringConverter::System)) {
    case QStringConverter::Utf8:
        return BodyTextStream(Kind::Utf8);
    case QStringConverter::Latin1:
        return BodyTextStream(Kind::Latin1);
    default:
        return std::nullopt;
    }
}

BodyTextStream::BodyTextStream(Kind kind)
    : m_kind(kind), m_firstDecoder(QStringConverter::Utf8, QStringDecoder::Flag::Stateless),
      m_decoder(QStringConverter::Utf8,
                QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom)
{
}

void BodyTextStream::write(QByteArrayView bytes, AnswerSink& sink)
{
    if (bytes.isEmpty())
        return;
    if (m_kind == Kind::Latin1) {
        char16_t* out = sink.room(bytes.size());
        const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
        for (qsizetype i = 0; i < bytes.size(); ++i)
            out[i] = in[i];
        sink.took(bytes.size());
        return;
    }
    // A byte order mark is dropped only at the very start of the body, as
    // when the body is decoded whole; later pieces keep one.
    QStringDecoder& decoder = m_atStart ? m_firstDecoder : m_decoder;
    m_atStart = false;
    auto* out = reinterpret_cast<QChar*>(sink.room(decoder.requiredSpace(bytes.size())));
    sink.took(decoder.appendToBuffer(out, bytes) - out);
}

void BodyTextStream::feed(QByteArrayView bytes, AnswerSink& sink)
{
    if (m_kind == Kind::Latin1) {
        write(bytes, sink);
        return;
    }
    // Decoded up to the last ASCII byte, which always ends a character and
    // never belongs to a longer one: the rest may be the start of a
    // character whose end is in the next piece. What waits holds no ASCII
    // byte, so only the new piece is searched.
    qsizetype cut = bytes.size();
    while (cut > 0 && static_cast<unsigned char>(bytes[cut - 1]) >= 0x80)
        --cut;
    if (cut == 0) {
        m_waiting.append(bytes);
        return;
    }
    if (m_waiting.isEmpty()) {
        write(bytes.first(cut), sink);
    } else {
        m_waiting.append(bytes.first(cut));
        write(m_waiting, sink);
        m_waiting.clear();
    }
    m_waiting = bytes.sliced(cut).toByteArray();
}

void BodyTextStream::finish(AnswerSink& sink)
{
    write(m_waiting, sink);
    m_waiting.clear();
}
