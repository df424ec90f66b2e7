// Integer conversion and the display formats on arbitrary UTF-8 text.
//
// StrToInt agrees with a plain reading of its grammar (spaces, a sign or a
// hexadecimal prefix, digits, nothing after), fails only with ConversionError
// carrying the exact message, and reads its own output back. FormatPhone
// equals its ten-character layout; FormatDate, FormatTime and ParseShortDate
// give either their fallback or a well-formed real value.

#include "display_formats.h"
#include "errors.h"
#include "fuzz_support.h"
#include "text_basics.h"

#include <QDate>

#include <algorithm>
#include <climits>
#include <optional>

namespace {

using namespace Qt::StringLiterals;

// What the grammar alone says of a text: a value, no integer, or (hexadecimal
// beyond INT32_MAX) nothing either way.
struct Expected
{
    enum
    {
        Value,
        Invalid,
        Open
    } kind;
    std::int64_t value = 0;
};

Expected ReadInteger(QStringView t)
{
    qsizetype i = 0;
    while (i < t.size() && t[i] == u' ')
        ++i;
    bool negative = false;
    int base = 10;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    } else if (i + 1 < t.size() && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X')) {
        base = 16;
        i += 2;
    } else if (i < t.size() && (t[i] == u'$' || t[i] == u'x' || t[i] == u'X')) {
        base = 16;
        ++i;
    }
    if (i == t.size())
        return {Expected::Invalid};
    std::int64_t magnitude = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        int d = 99;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        if (d >= base)
            return {Expected::Invalid};
        magnitude = std::min<std::int64_t>(magnitude * base + d, std::int64_t(1) << 40);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value >= INT32_MIN && value <= INT32_MAX)
        return {Expected::Value, value};
    return {base == 16 ? Expected::Open : Expected::Invalid};
}

void CheckStrToInt(const QString& text)
{
    const Expected expected = ReadInteger(text);
    try {
        const std::int32_t value = StrToInt(text);
        FUZZ_CHECK(expected.kind != Expected::Invalid);
        if (expected.kind == Expected::Value)
            FUZZ_CHECK(value == expected.value);
        FUZZ_CHECK(StrToInt(QString::number(value)) == value);
    } catch (const ConversionError& e) {
        FUZZ_CHECK(expected.kind != Expected::Value);
        FUZZ_CHECK(e.message() == u"''"_s + text + u"'' is not a valid integer value"_s);
    } catch (...) {
        AbortOnForeignException();
    }
}

bool IsAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

void CheckPhone(const QString& text)
{
    const QString phone = FormatPhone(text);
    if (text.size() < 10)
        FUZZ_CHECK(phone == u"Unknown");
    else
        FUZZ_CHECK(phone == u"("_s + text.first(3) + u") "_s + text.sliced(3, 3) + u"-"_s +
                                text.sliced(6, 4));
}

void CheckDate(const QString& text, const QString& shown)
{
    if (shown == u"Error Date")
        return;
    FUZZ_CHECK(shown.size() == 10);
    FUZZ_CHECK(QDate::fromString(shown, u"MM/dd/yyyy").isValid());
    // A four-digit stored year is shown as it stands.
    if (text.size() >= 4 && std::all_of(text.begin(), text.begin() + 4, IsAsciiDigit))
        FUZZ_CHECK(shown.endsWith(text.first(4)));
}

void CheckShortDate(const QString& text, int currentYear)
{
    const std::optional<QDate> date = ParseShortDate(text, currentYear);
    if (!date)
        return;
    FUZZ_CHECK(date->isValid());
    FUZZ_CHECK(date->year() >= 1 && date->year() <= 9999);
    FUZZ_CHECK(ParseShortDate(ShortDateText(*date), currentYear) == date);
}

void CheckTime(const QString& text)
{
    const QString shown = FormatTime(text);
    if (shown == u"TIME:Unknown")
        return;
    FUZZ_CHECK(shown.size() == 8);
    const int hour = shown.first(2).toInt();
    const int minute = shown.sliced(3, 2).toInt();
    FUZZ_CHECK(IsAsciiDigit(shown[0]) && IsAsciiDigit(shown[1]) && shown[2] == u':');
    FUZZ_CHECK(IsAsciiDigit(shown[3]) && IsAsciiDigit(shown[4]));
    FUZZ_CHECK(hour >= 1 && hour <= 12 && minute <= 59);
    FUZZ_CHECK(shown.endsWith(u" AM") || shown.endsWith(u" PM"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = Utf8Text(data, size);
    try {
        CheckStrToInt(text);
        CheckPhone(text);
        CheckDate(text, FormatDate(text));
        for (const int year : {2026, 1, 49, 9999, 10049, INT_MIN, INT_MAX}) {
            CheckDate(text, FormatDate(text, year));
            CheckShortDate(text, year);
        }
        CheckTime(text);
    } catch (...) {
        // The formats never fail; StrToInt's own errors are handled above.
        AbortOnForeignException();
    }
    return 0;
}
