#pragma once

#include <optional>

#include <QDate>
#include <QString>
#include <QStringView>

// How stored phone numbers, dates and times are shown to the operator. Each
// function returns a fixed fallback text instead of failing on bad input.

// "(555) 123-4567" from the first ten characters, or "Unknown".
QString FormatPhone(QStringView stored);

// "mm/dd/yyyy" from a stored "yyyy-mm-dd" (any separators), or "Error Date".
QString FormatDate(QStringView stored); // uses the current year for the two-digit-year window
QString FormatDate(QStringView stored, int currentYear); // the same with "today" fixed, for tests

// "hh:mm AM" on the 12-hour clock, or "TIME:Unknown".
QString FormatTime(QStringView stored);

// Reads a month/day/year text ("3/31/2026", blanks allowed around the parts,
// a one- or two-digit year moved into the hundred years around the current
// one); nullopt when it is not a real date.
std::optional<QDate> ParseShortDate(QStringView text, int currentYear);
// A date as two-digit month, "/", two-digit day, "/", four-digit year.
QString ShortDateText(const QDate& date);
