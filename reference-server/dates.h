#pragma once

#include <optional>
#include <string>

namespace refserver {

// A date field of the customer form: month/day/year as the client's masked
// edit sends it. An unfilled field (only spaces and slashes) is a missing
// date (nullopt inside); anything else must be a real date. The outer
// nullopt means "not a date".
std::optional<std::optional<std::string>> ParseFormDate(const std::string& text);

// Why ParseFormDate refuses `text`, to follow "holds "...", " in a message:
// "whose year is not four digits" or "which is not a date of the form
// month/day/year".
std::string FormDateProblem(const std::string& text);

// The server's local date and time: "YYYY-MM-DD" and "HH:MM:SS".
std::string TodayText();
std::string NowTimeText();
int CurrentYear();

} // namespace refserver
