#include "display_formats.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

struct Case
{
    const char16_t* input;
    const char16_t* expected;
};

std::string Utf8(const char16_t* text)
{
    return QString::fromUtf16(text).toStdString();
}

} // namespace

TEST(FormatPhoneTest, SlicesTheFirstTenCharacters)
{
    const Case cases[] = {
        {u"5551234567", u"(555) 123-4567"},
        {u"555123456789", u"(555) 123-4567"},
        // Characters are sliced blindly, punctuation included.
        {u"555-123-4567", u"(555) -12-3-45"},
        {u"abcdefghij", u"(abc) def-ghij"},
        // No trimming: a leading blank takes a position.
        {u" 555123456", u"( 55) 512-3456"},
        {u"555123456", u"Unknown"},
        {u"          ", u"(   )    -    "},
        {u"", u"Unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.input));
        EXPECT_EQ(FormatPhone(c.input), QString::fromUtf16(c.expected));
    }
}

TEST(FormatDateTest, ReformatsValidDates)
{
    const Case cases[] = {
        {u"2012-01-15", u"01/15/2012"},
        // Separators and anything after the day are never looked at.
        {u"2012/01/15", u"01/15/2012"},
        {u"2012x01y15", u"01/15/2012"},
        {u"2012-01-15 10:30:00", u"01/15/2012"},
        {u"2012-12-31", u"12/31/2012"},
        {u"0001-01-01", u"01/01/0001"},
        {u"9999-12-31", u"12/31/9999"},
        // Leap days, including the century rules.
        {u"2012-02-29", u"02/29/2012"},
        {u"2000-02-29", u"02/29/2000"},
        // A text ending inside the day leaves a one-digit day.
        {u"2012-01-5", u"01/05/2012"},
        // Blanks around each number are accepted.
        {u"2012- 1- 5", u"01/05/2012"},
        {u"2012-1 -5 ", u"01/05/2012"},
        // Three or four digits are taken as written, leading zeros included.
        {u"0012-01-15", u"01/15/0012"},
        {u" 012-01-15", u"01/15/0012"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.input));
        EXPECT_EQ(FormatDate(c.input, 2024), QString::fromUtf16(c.expected));
    }
}

TEST(FormatDateTest, RejectsInvalidDates)
{
    const char16_t* inputs[] = {
        u"",
        u"2012",
        u"2012-01",
        u"2012-01-",
        u"0000-00-00",
        u"0000-01-01",
        u"2011-02-29",
        u"1900-02-29",
        u"2012-04-31",
        u"2012-13-01",
        u"2012-00-10",
        u"2012-01-00",
        u"2012-01-32",
        // The month part becomes "1-" and the day part is empty.
        u"2012-1-5",
        u"15.01.2012",
        u"01/15/2012",
        u"abcd-ef-gh",
        u"2012-0x-15",
        u"+012-01-15",
        u"2012--1-15",
        u"20 2-01-15",
        u"\t012-01-15",
        u"2012-01-1x",
    };
    for (const char16_t* input : inputs) {
        SCOPED_TRACE(Utf8(input));
        EXPECT_EQ(FormatDate(input, 2024), QStringLiteral("Error Date"));
    }
}

TEST(FormatDateTest, WindowsShortYearsAroundTheCurrentYear)
{
    struct WindowCase
    {
        const char16_t* input;
        int currentYear;
        const char16_t* expected;
    };
    const WindowCase cases[] = {
        {u"  12-01-15", 2024, u"01/15/2012"},
        {u"  80-01-15", 2024, u"01/15/1980"},
        {u"  74-01-15", 2024, u"01/15/1974"},
        {u"  73-01-15", 2024, u"01/15/2073"},
        {u"   0-01-15", 2024, u"01/15/2000"},
        {u"  00-01-15", 2024, u"01/15/2000"},
        {u"   5-06-30", 2024, u"06/30/2005"},
        // Window edges when the current year sits at a century boundary.
        {u"  50-01-15", 2100, u"01/15/2050"},
        {u"  49-01-15", 2100, u"01/15/2149"},
        {u"  40-01-15", 1990, u"01/15/1940"},
        {u"  39-01-15", 1990, u"01/15/2039"},
        // The window decides leap years too: 2000 is one, 2100 is not.
        {u"  00-02-29", 2024, u"02/29/2000"},
        {u"  00-02-29", 2100, u"Error Date"},
        // A window falling outside years 1 to 9999 yields no date.
        {u"  99-01-15", 10'060, u"Error Date"},
        {u"  90-01-15", 30, u"Error Date"},
        {u"  20-01-15", 30, u"01/15/0020"},
        // Four-digit years ignore the window.
        {u"1812-01-15", 2024, u"01/15/1812"},
    };
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(Utf8(c.input) + " in " + std::to_string(c.currentYear));
        EXPECT_EQ(FormatDate(c.input, c.currentYear), QString::fromUtf16(c.expected));
    }
}

TEST(FormatDateTest, DefaultOverloadUsesTodaysYear)
{
    EXPECT_EQ(FormatDate(u"2012-01-15"), QStringLiteral("01/15/2012"));
    EXPECT_EQ(FormatDate(u"2011-02-29"), QStringLiteral("Error Date"));
    // 50 lands in 2050 for every current year from 2001 to 2099.
    EXPECT_EQ(FormatDate(u"  50-06-15"), QStringLiteral("06/15/2050"));
}

TEST(FormatTimeTest, ShowsValidTimesOnTheTwelveHourClock)
{
    const Case cases[] = {
        {u"14:05:00", u"02:05 PM"},
        {u"14:05:59", u"02:05 PM"},
        {u"14:05:59.999", u"02:05 PM"},
        {u"00:30:00", u"12:30 AM"},
        {u"0", u"12:00 AM"},
        {u"12:00:00", u"12:00 PM"},
        {u"11:59:59", u"11:59 AM"},
        {u"23:59:59.999", u"11:59 PM"},
        {u"9:5", u"09:05 AM"},
        {u"14", u"02:00 PM"},
        {u"0009:05", u"09:05 AM"},
        // Blanks before each number and separator and at the end.
        {u"  14 : 05 : 00 . 5  ", u"02:05 PM"},
        // A trailing designator, any case, blank optional.
        {u"2:30 pm", u"02:30 PM"},
        {u"2:30pm", u"02:30 PM"},
        {u"2:30 Am ", u"02:30 AM"},
        {u"11:59:59.999 PM", u"11:59 PM"},
        {u"12 AM", u"12:00 AM"},
        {u"12:15 am", u"12:15 AM"},
        {u"12 PM", u"12:00 PM"},
        {u"1 PM", u"01:00 PM"},
        // A leading designator, blanks optional before and after.
        {u"PM 2:30", u"02:30 PM"},
        {u"pm2:30", u"02:30 PM"},
        {u"  aM  9:05", u"09:05 AM"},
        {u"AM 12:45", u"12:45 AM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.input));
        EXPECT_EQ(FormatTime(c.input), QString::fromUtf16(c.expected));
    }
}

TEST(FormatTimeTest, RejectsInvalidTimes)
{
    const char16_t* inputs[] = {
        u"",
        u"   ",
        u"AM",
        u"PM ",
        // Out of range.
        u"24:00:00",
        u"14:60",
        u"14:05:60",
        u"14:05:00.1000",
        // Designator hours must be 1 to 12.
        u"13:00 PM",
        u"0:30 AM",
        u"AM 0:30",
        // A separator needs its number.
        u"14:",
        u"14:05:",
        u"14:05:00.",
        u"14:05.5",
        u"14.05",
        u"14:05:00:00",
        // Leftovers and stray characters.
        u"14:05:00 x",
        u"PM 2:30 PM",
        u"2:30 AM PM",
        u"2:30 P",
        u"2:30 PMX",
        u"A M 2:30",
        u"-1:00",
        u"+1:00",
        u"14h05",
        u"\t14:05",
        u"14:05\t",
        // Long digit runs must not wrap into range.
        u"4294967310:00",
        u"99999999999999999999:00",
        u"1:99999999999999999999",
        u"1:00:00.99999999999999999999",
    };
    for (const char16_t* input : inputs) {
        SCOPED_TRACE(Utf8(input));
        EXPECT_EQ(FormatTime(input), QStringLiteral("TIME:Unknown"));
    }
}
