#pragma once

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
