#include "answer_head.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace {

// Server text inside a message: printable ASCII only, and not too much of it.
QString Shown(QByteArrayView text)
{
    constexpr qsizetype Most = 40;
    QString shown;
    for (const char c : text.first(std::min(text.size(), Most)))
        shown += (c >= 0x20 && c < 0x7F) ? QChar::fromLatin1(c) : u'?';
    if (text.size() > Most)
        shown += u"..."_s;
    return shown;
}

// Calls `each` with every blank-trimmed item of a comma-separated list.
template <typename F> void ForEachItem(QByteArrayView list, F&& each)
{
    qsizetype start = 0;
    for (;;) {
        const qsizetype comma = list.indexOf(',', start);
        const qsizetype end = comma < 0 ? list.size() : comma;
        each(list.sliced(start, end - start).trimmed());
        if (comma < 0)
            return;
        start = comma + 1;
    }
}

bool EqualsCaseBlind(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Codings other than identity, appended to `unaccepted` as ", "-separated text.
void TakeCodings(QByteArrayView value, QByteArray& unaccepted, bool* chunked = nullptr)
{
    ForEachItem(value, [&](QByteArrayView coding) {
        if (coding.isEmpty() || EqualsCaseBlind(coding, "identity"))
            return;
        if (chunked && EqualsCaseBlind(coding, "chunked")) {
            *chunked = true;
            return;
        }
        if (!unaccepted.isEmpty())
            unaccepted += ", ";
        unaccepted += coding;
    });
}

} // namespace

void AnswerHead::take(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArrayView name = line.first(colon).trimmed();
    const QByteArrayView value = line.sliced(colon + 1).trimmed();
    if (EqualsCaseBlind(name, "content-type"))
        m_contentType = value.toByteArray();
    else if (EqualsCaseBlind(name, "content-length"))
        takeLengths(value);
    else if (EqualsCaseBlind(name, "content-encoding"))
        TakeCodings(value, m_contentCodings);
    else if (EqualsCaseBlind(name, "transfer-encoding"))
        TakeCodings(value, m_transferCodings, &m_chunked);
    else if (EqualsCaseBlind(name, "www-authenticate"))
        m_challenges.push_back(value.toByteArray());
}

// A length may be repeated, in one header as a list or in several headers,
// as long as every copy gives the same number.
void AnswerHead::takeLengths(QByteArrayView value)
{
    ForEachItem(value, [&](QByteArrayView item) {
        if (!m_lengthFault.isEmpty())
            return;
        if (item.isEmpty()) {
            m_lengthFault =
                u"The answer announces an invalid length (Content-Length %1)."_s.arg(Shown(value));
            return;
        }
        std::int64_t length = 0;
        for (const char c : item) {
            if (c < '0' || c > '9') {
                m_lengthFault =
                    u"The answer announces an invalid length (Content-Length %1)."_s.arg(
                        Shown(item));
                return;
            }
            if (length > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) {
                m_lengthFault = u"The answer announces a length too large to represent "
                                u"(Content-Length %1)."_s.arg(Shown(item));
                return;
            }
            length = length * 10 + (c - '0');
        }
        if (m_contentLength < 0) {
            m_contentLength = length;
            m_lengthAsSent = item.toByteArray();
        } else if (length != m_contentLength) {
            m_lengthFault =
                u"The answer announces two different lengths (Content-Length %1 and %2)."_s.arg(
                    Shown(m_lengthAsSent), Shown(item));
        }
    });
}

QString AnswerHead::fault() const
{
    if (!m_lengthFault.isEmpty())
        return m_lengthFault;
    if (!m_contentCodings.isEmpty())
        return u"The answer is in the content coding \"%1\", which the request did not accept."_s
            .arg(Shown(m_contentCodings));
    if (!m_transferCodings.isEmpty())
        return u"The answer is in the transfer coding \"%1\", which the request did not accept."_s
            .arg(Shown(m_transferCodings));
    return {};
}
