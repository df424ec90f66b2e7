// The reference server's date field parser on arbitrary text.
//
// Only blanks and slashes mean "no date"; anything else is either refused or
// a real date written "YYYY-MM-DD", which, written back the way the client
// sends it, parses to the same date. Nothing may be thrown.

#include "dates.h"
#include "fuzz_support.h"

#include <chrono>
#include <string>

namespace {

bool Digits(const std::string& text, std::size_t from, std::size_t count)
{
    for (std::size_t i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const auto parsed = refserver::ParseFormDate(text);
        const bool unfilled = text.find_first_not_of(" /") == std::string::npos;
        FUZZ_CHECK(unfilled == (parsed && !*parsed));
        if (!parsed || !*parsed)
            return 0;

        const std::string& iso = **parsed;
        FUZZ_CHECK(iso.size() == 10 && iso[4] == '-' && iso[7] == '-');
        FUZZ_CHECK(Digits(iso, 0, 4) && Digits(iso, 5, 2) && Digits(iso, 8, 2));
        const int year = std::stoi(iso.substr(0, 4));
        const unsigned month = unsigned(std::stoi(iso.substr(5, 2)));
        const unsigned day = unsigned(std::stoi(iso.substr(8, 2)));
        FUZZ_CHECK(year >= 1);
        FUZZ_CHECK(
            (std::chrono::year(year) / std::chrono::month(month) / std::chrono::day(day)).ok());

        const std::string sent = iso.substr(5, 2) + "/" + iso.substr(8, 2) + "/" + iso.substr(0, 4);
        FUZZ_CHECK(refserver::ParseFormDate(sent) == parsed);
    } catch (...) {
        AbortOnForeignException();
    }
    return 0;
}
