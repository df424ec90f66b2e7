#include "dates.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace refserver {

namespace {

bool ParseNumber(const std::string& part, int maxDigits, int& value)
{
    std::size_t begin = part.find_first_not_of(' ');
    std::size_t end = part.find_last_not_of(' ');
    if (begin == std::string::npos)
        return false;
    const std::string digits = part.substr(begin, end - begin + 1);
    if (digits.empty() || int(digits.size()) > maxDigits)
        return false;
    value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::tm LocalNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

} // namespace

std::optional<std::optional<std::string>> ParseFormDate(const std::string& text)
{
    if (text.find_first_not_of(" /") == std::string::npos)
        return std::optional<std::string>();

    const std::size_t s1 = text.find('/');
    const std::size_t s2 = s1 == std::string::npos ? s1 : text.find('/', s1 + 1);
    if (s2 == std::string::npos || text.find('/', s2 + 1) != std::string::npos)
        return std::nullopt;
    int month = 0, day = 0, year = 0;
    if (!ParseNumber(text.substr(0, s1), 2, month) ||
        !ParseNumber(text.substr(s1 + 1, s2 - s1 - 1), 2, day) ||
        !ParseNumber(text.substr(s2 + 1), 4, year) || text.size() - s2 - 1 != 4)
        return std::nullopt;

    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(unsigned(month)),
                                           std::chrono::day(unsigned(day))};
    if (year < 1 || !date.ok())
        return std::nullopt;
    char iso[11];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", year, month, day);
    return std::optional<std::string>(iso);
}

std::string TodayText()
{
    const std::tm t = LocalNow();
    char text[11];
    std::strftime(text, sizeof text, "%Y-%m-%d", &t);
    return text;
}

std::string NowTimeText()
{
    const std::tm t = LocalNow();
    char text[9];
    std::strftime(text, sizeof text, "%H:%M:%S", &t);
    return text;
}

int CurrentYear()
{
    return LocalNow().tm_year + 1900;
}

} // namespace refserver
