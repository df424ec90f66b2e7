#include "form_encoding.h"

namespace {

bool IsUnreserved(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           c == u'*' || c == u'-' || c == u'.' || c == u'_';
}

} // namespace

QByteArray EncodeFormText(QStringView text)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u' ') {
            out += '+';
        } else if (IsUnreserved(c)) {
            out += char(c);
        } else {
            // A surrogate pair encodes as one four-byte UTF-8 sequence.
            const qsizetype n = QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                                        QChar::isLowSurrogate(text[i + 1].unicode())
                                    ? 2
                                    : 1;
            for (const char byte : text.sliced(i, n).toUtf8()) {
                out += '%';
                out += Hex[(uchar(byte) >> 4) & 0xF];
                out += Hex[uchar(byte) & 0xF];
            }
            i += n - 1;
        }
    }
    return out;
}

QByteArray EncodeFormBody(const QStringList& fields)
{
    QByteArray body;
    for (qsizetype n = 0; n < fields.size(); ++n) {
        const QString& line = fields[n];
        if (n > 0)
            body += '&';
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0) {
            body += EncodeFormText(line);
        } else {
            body += EncodeFormText(QStringView(line).first(eq));
            body += '=';
            body += EncodeFormText(QStringView(line).sliced(eq + 1));
        }
    }
    return body;
}
