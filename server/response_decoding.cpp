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

// The character set named by a meta element of an HTML body, in either the
// HTML5 form (charset="...") or the http-equiv form (content="...; charset=...").
QByteArray HtmlMetaCharset(const QByteArray& body)
{
    static const QRegularExpression meta(QStringLiteral(R"(<meta\b[^>]*>)"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression charset(
        QStringLiteral(R"(charset\s*=\s*["']?\s*([A-Za-z0-9._:\-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromLatin1(body);
    for (auto it = meta.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch c = charset.match(it.next().captured(0));
        if (c.hasMatch())
            return c.captured(1).toLatin1();
    }
    return {};
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
