#include "text_basics.h"

#include "errors.h"

QStringView TrimLeft(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return text.sliced(i);
}

QStringView TrimRight(QStringView text)
{
    qsizetype n = text.size();
    while (n > 0 && IsBlank(text[n - 1]))
        --n;
    return text.first(n);
}

QStringView Trim(QStringView text)
{
    return TrimRight(TrimLeft(text));
}

namespace {

int DigitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int v = -1;
    if (u >= u'0' && u <= u'9')
        v = u - u'0';
    else if (u >= u'a' && u <= u'f')
        v = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        v = u - u'A' + 10;
    return v < base ? v : -1;
}

[[noreturn]] void ThrowNotAnInteger(QStringView text)
{
    throw ConversionError(QStringLiteral("''%1'' is not a valid integer value").arg(text));
}

} // namespace

std::int32_t StrToInt(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;

    bool negative = false;
    int base = 10;
    const QStringView rest = text.sliced(i);
    if (rest.startsWith(u'+') || rest.startsWith(u'-')) {
        negative = rest.front() == u'-';
        i += 1;
    } else if (rest.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        i += 2;
    } else if (rest.startsWith(u'$') || rest.startsWith(u'x') || rest.startsWith(u'X')) {
        base = 16;
        i += 1;
    }

    if (i >= text.size())
        ThrowNotAnInteger(text);

    // Accumulate the magnitude with one unit of headroom for -2147483648.
    constexpr std::int64_t limit = std::int64_t(INT32_MAX) + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i], base);
        if (d < 0)
            ThrowNotAnInteger(text);
        magnitude = magnitude * base + d;
        if (magnitude > limit)
            ThrowNotAnInteger(text);
    }
    if (!negative && magnitude > INT32_MAX)
        ThrowNotAnInteger(text);
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}
