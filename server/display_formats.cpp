#include "display_formats.h"

#include <QDate>

#include <algorithm>

namespace {

// Numbers are clamped here while reading, so a long digit run cannot overflow;
// the clamped value fails every range check below.
constexpr int kTooBig = 1'000'000;

// A left-to-right reader over the text being parsed. Only the space character
// counts as a blank here.
class Reader
{
public:
    explicit Reader(QStringView text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }

    void skipBlanks()
    {
        while (!atEnd() && m_text[m_pos] == u' ')
            ++m_pos;
    }

    bool take(char16_t c)
    {
        if (atEnd() || m_text[m_pos] != c)
            return false;
        ++m_pos;
        return true;
    }

    bool nextIsDigit() const { return !atEnd() && IsDigit(m_text[m_pos]); }

    // Reads a run of one or more decimal digits; digits counts every one
    // written, leading zeros included.
    bool number(int& value, qsizetype* digits = nullptr)
    {
        const qsizetype start = m_pos;
        int v = 0;
        while (nextIsDigit()) {
            v = std::min(v * 10 + (m_text[m_pos].unicode() - u'0'), kTooBig);
            ++m_pos;
        }
        if (m_pos == start)
            return false;
        value = v;
        if (digits)
            *digits = m_pos - start;
        return true;
    }

    // Reads "AM" or "PM" in any case; pm tells which one it was.
    bool dayHalf(bool& pm)
    {
        if (m_text.size() - m_pos < 2)
            return false;
        const char16_t first = Lower(m_text[m_pos]);
        if ((first != u'a' && first != u'p') || Lower(m_text[m_pos + 1]) != u'm')
            return false;
        pm = first == u'p';
        m_pos += 2;
        return true;
    }

private:
    static bool IsDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

    static char16_t Lower(QChar c)
    {
        const char16_t u = c.unicode();
        return (u >= u'A' && u <= u'Z') ? char16_t(u - u'A' + u'a') : u;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
};

// Moves a one- or two-digit year into the hundred years starting fifty years
// before the current one.
long long WindowYear(int shortYear, int currentYear)
{
    const long long start = static_cast<long long>(currentYear) - 50;
    // Floor to the century so that a negative start still lands correctly.
    long long century = start / 100 * 100;
    if (century > start)
        century -= 100;
    long long year = century + shortYear;
    if (year < start)
        year += 100;
    return year;
}

QString TwoDigits(int n)
{
    return QString::number(n).rightJustified(2, u'0');
}

} // namespace

QString FormatPhone(QStringView stored)
{
    if (stored.size() < 10)
        return QStringLiteral("Unknown");
    QString result;
    result.reserve(14);
    result.append(u'(').append(stored.sliced(0, 3)).append(u") ");
    result.append(stored.sliced(3, 3)).append(u'-').append(stored.sliced(6, 4));
    return result;
}

QString FormatDate(QStringView stored)
{
    return FormatDate(stored, QDate::currentDate().year());
}

std::optional<QDate> ParseShortDate(QStringView text, int currentYear)
{
    Reader in(text);
    int m = 0;
    int d = 0;
    int y = 0;
    qsizetype yearDigits = 0;
    in.skipBlanks();
    if (!in.number(m))
        return std::nullopt;
    in.skipBlanks();
    if (!in.take(u'/'))
        return std::nullopt;
    in.skipBlanks();
    if (!in.number(d))
        return std::nullopt;
    in.skipBlanks();
    if (!in.take(u'/'))
        return std::nullopt;
    in.skipBlanks();
    if (!in.number(y, &yearDigits))
        return std::nullopt;
    in.skipBlanks();
    if (!in.atEnd())
        return std::nullopt;

    const long long fullYear = yearDigits <= 2 ? WindowYear(y, currentYear) : y;
    if (fullYear < 1 || fullYear > 9999)
        return std::nullopt;
    if (!QDate::isValid(static_cast<int>(fullYear), m, d))
        return std::nullopt;
    return QDate(static_cast<int>(fullYear), m, d);
}

QString ShortDateText(const QDate& date)
{
    return TwoDigits(date.month()) + u'/' + TwoDigits(date.day()) + u'/' +
           QString::number(date.year()).rightJustified(4, u'0');
}

QString FormatDate(QStringView stored, int currentYear)
{
    // The parts are cut by position only; the separators are never looked at.
    const QStringView year = stored.mid(0, 4);
    const QStringView month = stored.mid(5, 2);
    const QStringView day = stored.mid(8, 2);
    QString joined;
    joined.append(month).append(u'/').append(day).append(u'/').append(year);

    const std::optional<QDate> date = ParseShortDate(joined, currentYear);
    return date ? ShortDateText(*date) : QStringLiteral("Error Date");
}

QString FormatTime(QStringView stored)
{
    const QString unknownText = QStringLiteral("TIME:Unknown");

    Reader in(stored);
    bool hasDayHalf = false;
    bool pm = false;

    in.skipBlanks();
    if (in.dayHalf(pm))
        hasDayHalf = true;
    in.skipBlanks();

    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;
    if (!in.number(hour))
        return unknownText;
    in.skipBlanks();
    if (in.take(u':')) {
        in.skipBlanks();
        if (!in.number(minute))
            return unknownText;
        in.skipBlanks();
        if (in.take(u':')) {
            in.skipBlanks();
            if (!in.number(second))
                return unknownText;
            in.skipBlanks();
            if (in.take(u'.')) {
                in.skipBlanks();
                if (!in.number(msec))
                    return unknownText;
                in.skipBlanks();
            }
        }
    }

    if (!hasDayHalf && in.dayHalf(pm)) {
        hasDayHalf = true;
        in.skipBlanks();
    }
    if (!in.atEnd())
        return unknownText;

    if (hasDayHalf) {
        if (hour < 1 || hour > 12)
            return unknownText;
        if (hour == 12)
            hour = pm ? 12 : 0;
        else if (pm)
            hour += 12;
    }
    if (hour > 23 || minute > 59 || second > 59 || msec > 999)
        return unknownText;

    const int clockHour = hour % 12 == 0 ? 12 : hour % 12;
    return TwoDigits(clockHour) + u':' + TwoDigits(minute) +
           (hour < 12 ? QStringLiteral(" AM") : QStringLiteral(" PM"));
}
