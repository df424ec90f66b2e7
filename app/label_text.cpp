#include "label_text.h"

QString AcceleratorRichText(const QString& text)
{
    QString out = QStringLiteral("<span style=\"white-space: pre-wrap\">");
    bool underlineNext = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'&' && !underlineNext) {
            if (i + 1 < text.size() && text[i + 1] == u'&') {
                out += u"&amp;";
                ++i;
            } else {
                underlineNext = true;
            }
            continue;
        }
        QString piece;
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue; // the LF that follows makes the break
        if (c == u'\n' || c == u'\r')
            piece = QStringLiteral("<br>");
        else if (c == u'<')
            piece = QStringLiteral("&lt;");
        else if (c == u'>')
            piece = QStringLiteral("&gt;");
        else if (c == u'&')
            piece = QStringLiteral("&amp;");
        else if (c == u'"')
            piece = QStringLiteral("&quot;");
        else
            piece = QString(c);
        out += underlineNext ? QStringLiteral("<u>") + piece + QStringLiteral("</u>") : piece;
        underlineNext = false;
    }
    out += u"</span>";
    return out;
}
