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

} // namespace

QString DecodeResponseBody(const QByteArray& body, const QByteArray& contentType)
{
    const MediaType media = ParseContentType(contentType);

    QByteArray charset;
    const bool xmlType =
        (media.type == "application" && (media.subtype == "xml" || media.subtype == "xml-dtd" ||
                                         media.subtype == "xml-external-parsed-entity")) ||
        (media.type != "text" && !media.type.isEmpty() && media.subtype.endsWith("+xml"));
    if (xmlType)
        charset = XmlDeclaredCharset(body);
    if (charset.isEmpty())
        charset = media.charset;
    if (charset.isEmpty() && media.type == "text")
        charset = IsXmlSubtype(media.subtype) ? "us-ascii" : "ISO-8859-1";
    if (charset.isEmpty() && LooksLikeHtml(body))
        charset = HtmlMetaCharset(body);

    if (const std::optional<QString> text = DecodeWith(charset, body))
        return *text;
    return QString::fromLatin1(body);
}
