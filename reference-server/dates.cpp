#include "dates.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace refserver {

namespace {

// The text without the blanks at both ends.
std::string WithoutBlanks(const std::string& part)
{
    const std::size_t begin = part.find_first_not_of(' ');
    if (begin == std::string::npos)
        return {};
    return part.substr(begin, part.find_last_not_of(' ') - begin + 1);
}

bool ParseNumber(const std::string& part, int maxDigits, int& value)
{
    const std::string digits = WithoutBlanks(part);
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

bool AllDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

enum class Problem
{
    None,
    NotADate,
    YearNotFourDigits
};

std::optional<std::optional<std::string>> Read(const std::string& text, Problem& problem)
{
    problem = Problem::None;
    if (text.find_first_not_of(" /") == std::string::npos)
        return std::optional<std::string>();

    problem = Problem::NotADate;
    const std::size_t s1 = text.find('/');
    const std::size_t s2 = s1 == std::string::npos ? s1 : text.find('/', s1 + 1);
    if (s2 == std::string::npos || text.find('/', s2 + 1) != std::string::npos)
        return std::nullopt;
    int month = 0, day = 0;
    if (!ParseNumber(text.substr(0, s1), 2, month) ||
        !ParseNumber(text.substr(s1 + 1, s2 - s1 - 1), 2, day))
        return std::nullopt;
    // The year is its four characters, all digits: "01/15/  24" is a year
    // left half typed, not the year 24.
    const std::string yearPart = text.substr(s2 + 1);
    if (yearPart.size() != 4 || !AllDigits(yearPart)) {
        const std::string digits = WithoutBlanks(yearPart);
        if (AllDigits(digits) && digits.size() != 4)
            problem = Problem::YearNotFourDigits;
        return std::nullopt;
    }
    const int year = std::stoi(yearPart);

    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(unsigned(month)),
                                           std::chrono::day(unsigned(day))};
    if (year < 1 || !date.ok())
        return std::nullopt;
    problem = Problem::None;
    char iso[11];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", year, month, day);
    return std::optional<std::string>(iso);
}

} // namespace

std::optional<std::optional<std::string>> ParseFormDate(const std::string& text)
{
    Problem problem;
    return Read(text, problem);
}

std::string FormDateProblem(const std::string& text)
{
    Problem problem;
    Read(text, problem);
    return problem == Problem::YearNotFourDigits ? "holds a date whose year is not four digits"
                                                 : "is not a date of the form month/day/year";
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
