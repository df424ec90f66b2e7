// The demo and synthetic data sets: the shapes and invariants that the list
// format, the quarterly report and the call log rely on.

#include "demo_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

using refserver::Call;
using refserver::Customer;
using refserver::Dataset;
using refserver::DemoData;
using refserver::SyntheticData;

// Leap and common years, starting on different weekdays.
constexpr int Years[] = {2024, 2025, 2027, 2028};

bool IsDigits(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view s)
{
    int n = 0;
    for (char c : s)
        n = n * 10 + (c - '0');
    return n;
}

bool IsDate(std::string_view s)
{
    if (s.size() != 10 || s[4] != '-' || s[7] != '-' || !IsDigits(s.substr(0, 4)) ||
        !IsDigits(s.substr(5, 2)) || !IsDigits(s.substr(8, 2)))
        return false;
    const std::chrono::year_month_day ymd{std::chrono::year{Number(s.substr(0, 4))},
                                          std::chrono::month{unsigned(Number(s.substr(5, 2)))},
                                          std::chrono::day{unsigned(Number(s.substr(8, 2)))}};
    return ymd.ok();
}

bool IsOptionalDate(const std::optional<std::string>& s)
{
    return !s || IsDate(*s);
}

bool IsOfficeTime(std::string_view s)
{
    return s.size() == 8 && s[2] == ':' && s[5] == ':' && IsDigits(s.substr(0, 2)) &&
           IsDigits(s.substr(3, 2)) && IsDigits(s.substr(6, 2)) && Number(s.substr(3, 2)) < 60 &&
           Number(s.substr(6, 2)) < 60 && s >= "08:00:00" && s <= "17:00:00";
}

// Valid UTF-8 within ISO-8859-1 (the server's --latin1 answers), free of the
// list format's separators U+00A9 and U+00AE and of control characters other
// than those `allowedControls` names.
bool IsListSafe(std::string_view s, std::string_view allowedControls = {})
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x20 || b == 0x7F) {
            if (allowedControls.find(char(b)) == std::string_view::npos)
                return false;
            continue;
        }
        if (b < 0x80)
            continue;
        if ((b != 0xC2 && b != 0xC3) || i + 1 == s.size())
            return false;
        const auto next = static_cast<unsigned char>(s[++i]);
        if ((next & 0xC0) != 0x80)
            return false;
        const unsigned codePoint = ((b & 0x1Fu) << 6) | (next & 0x3Fu);
        if (codePoint < 0xA0 || codePoint == 0xA9 || codePoint == 0xAE)
            return false;
    }
    return true;
}

std::vector<std::string> TextFields(const Customer& c)
{
    std::vector<std::string> fields = {c.ln, c.fn, c.bn, c.ad, c.cy, c.st, c.zp, c.p1,
                                       c.p2, c.em, c.ho, c.dv, c.sn, c.pk, c.pm};
    for (const auto* d : {&c.bd, &c.dd, &c.ani, &c.pd})
        fields.push_back(d->value_or("<none>"));
    return fields;
}

// Everything a data set holds, in order, for comparing two of them.
std::vector<std::string> Flatten(const Dataset& data)
{
    std::vector<std::string> out;
    for (const Customer& c : data.customers) {
        const auto fields = TextFields(c);
        out.insert(out.end(), fields.begin(), fields.end());
        out.push_back(std::to_string(c.act));
    }
    for (const Call& k : data.calls)
        out.insert(out.end(),
                   {std::to_string(k.customerId), k.direction, k.handler, k.date, k.time, k.text});
    return out;
}

bool OneOf(const std::string& value, std::initializer_list<std::string_view> allowed)
{
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

void ExpectWellFormed(const Dataset& data)
{
    for (std::size_t i = 0; i < data.customers.size(); ++i) {
        const Customer& c = data.customers[i];
        const std::string who = "customer " + std::to_string(i + 1) + " (" + c.ln + ")";
        for (const std::string& field : TextFields(c))
            EXPECT_TRUE(IsListSafe(field)) << who << ": " << field;
        EXPECT_TRUE(c.st.size() == 2 && std::all_of(c.st.begin(), c.st.end(),
                                                    [](char ch) { return ch >= 'A' && ch <= 'Z'; }))
            << who << ": " << c.st;
        EXPECT_TRUE(c.zp.size() == 5 && IsDigits(c.zp)) << who << ": " << c.zp;
        EXPECT_TRUE(c.p1.size() == 10 && IsDigits(c.p1)) << who << ": " << c.p1;
        EXPECT_TRUE(c.p2.empty() || (c.p2.size() == 10 && IsDigits(c.p2))) << who << ": " << c.p2;
        EXPECT_TRUE(!c.sn.empty() && c.sn.size() <= 4 && IsDigits(c.sn)) << who << ": " << c.sn;
        EXPECT_TRUE(OneOf(c.ho, {"Web Search", "Farm Show Display", "Magazine Ad", "Postcard",
                                 "Radio Commercial", "Word Of Mouth"}))
            << who << ": " << c.ho;
        EXPECT_TRUE(OneOf(c.dv, {"Internet Download", "CD By Mail"})) << who << ": " << c.dv;
        EXPECT_TRUE(OneOf(c.pm, {"Unlimited", "Starter (Receipts)"})) << who << ": " << c.pm;
        EXPECT_TRUE(c.act == -1 || c.act == 0 || c.act == 1) << who << ": " << c.act;
        for (const auto* d : {&c.bd, &c.dd, &c.ani, &c.pd})
            EXPECT_TRUE(IsOptionalDate(*d)) << who << ": " << d->value_or("");
        // ISO dates compare as text.
        if (c.bd && c.ani) {
            EXPECT_LT(*c.bd, *c.ani) << who;
        }
        if (c.ani && c.dd) {
            EXPECT_LT(*c.ani, *c.dd) << who;
        }
        if (c.bd && c.pd) {
            EXPECT_LE(*c.bd, *c.pd) << who;
        }
        if (c.pd && c.dd) {
            EXPECT_LT(*c.pd, *c.dd) << who;
        }
    }

    const Call* previous = nullptr;
    for (std::size_t k = 0; k < data.calls.size(); ++k) {
        const Call& call = data.calls[k];
        const std::string which = "call " + std::to_string(k + 1);
        EXPECT_GE(call.customerId, 1) << which;
        EXPECT_LE(call.customerId, std::int64_t(data.customers.size())) << which;
        EXPECT_TRUE(OneOf(call.direction, {"Incoming", "Outgoing"})) << which;
        EXPECT_TRUE(OneOf(call.handler, {"Anna", "Brian", "Carol", "David"})) << which;
        EXPECT_TRUE(IsDate(call.date)) << which << ": " << call.date;
        EXPECT_TRUE(IsOfficeTime(call.time)) << which << ": " << call.time;
        EXPECT_FALSE(call.text.empty()) << which;
        EXPECT_TRUE(IsListSafe(call.text, "\t\r\n")) << which << ": " << call.text;
        // Line breaks are always CR LF.
        for (std::size_t p = call.text.find_first_of("\r\n"); p != std::string::npos;
             p = call.text.find_first_of("\r\n", p + 2))
            EXPECT_EQ(call.text.compare(p, 2, "\r\n"), 0) << which << ": " << call.text;
        if (previous) {
            EXPECT_LE(std::tie(previous->date, previous->time), std::tie(call.date, call.time))
                << which << " is logged before an earlier one";
        }
        previous = &call;
    }
}

std::size_t CountCalls(const Dataset& data, const std::function<bool(const Call&)>& pred)
{
    return std::size_t(std::count_if(data.calls.begin(), data.calls.end(), pred));
}

bool AnyCustomer(const Dataset& data, const std::function<bool(const Customer&)>& pred)
{
    return std::any_of(data.customers.begin(), data.customers.end(), pred);
}

} // namespace

TEST(DemoDataTest, RecordsAreWellFormed)
{
    for (int year : Years) {
        SCOPED_TRACE(year);
        const Dataset data = DemoData(year);
        ASSERT_GE(data.customers.size(), 50u);
        ASSERT_GE(data.calls.size(), 100u);
        ExpectWellFormed(data);
    }
}

TEST(DemoDataTest, EveryQuarterHasCurrentAnniversaries)
{
    for (int year : Years) {
        SCOPED_TRACE(year);
        const std::string prefix = std::to_string(year) + "-";
        int perQuarter[4] = {};
        for (const Customer& c : DemoData(year).customers)
            if (c.act == 1 && c.ani && c.ani->starts_with(prefix) && IsDate(*c.ani))
                ++perQuarter[(Number(c.ani->substr(5, 2)) - 1) / 3];
        for (int q = 0; q < 4; ++q)
            EXPECT_GE(perQuarter[q], 3) << "quarter " << q + 1;
    }
}

TEST(DemoDataTest, HoldsTheRealWorldOddities)
{
    const Dataset data = DemoData(2025);

    struct Oddity
    {
        const char* what;
        std::function<bool(const Customer&)> pred;
    };
    const Oddity oddities[] = {
        {"a current customer", [](const Customer& c) { return c.act == 1; }},
        {"an expired customer", [](const Customer& c) { return c.act == 0; }},
        {"a dormant customer", [](const Customer& c) { return c.act == -1; }},
        {"a missing anniversary", [](const Customer& c) { return !c.ani; }},
        {"an ampersand in a business name",
         [](const Customer& c) { return c.bn.find('&') != std::string::npos; }},
        {"a last name starting in lower case",
         [](const Customer& c) { return !c.ln.empty() && c.ln[0] >= 'a' && c.ln[0] <= 'z'; }},
        {"a last name with a leading blank",
         [](const Customer& c) { return c.ln.size() > 1 && c.ln[0] == ' ' && c.ln[1] != ' '; }},
        {"a non-ASCII letter in a name",
         [](const Customer& c) {
             return std::any_of(c.ln.begin(), c.ln.end(), [](char ch) { return ch & 0x80; }) ||
                    std::any_of(c.fn.begin(), c.fn.end(), [](char ch) { return ch & 0x80; });
         }},
        {"an empty second phone", [](const Customer& c) { return c.p2.empty(); }},
        {"a second phone", [](const Customer& c) { return !c.p2.empty(); }},
        {"a CD delivery", [](const Customer& c) { return c.dv == "CD By Mail"; }},
        {"a Starter licence", [](const Customer& c) { return c.pm == "Starter (Receipts)"; }},
    };
    for (const Oddity& o : oddities)
        EXPECT_TRUE(AnyCustomer(data, o.pred)) << "no customer with " << o.what;

    std::set<std::string> states;
    for (const Customer& c : data.customers)
        states.insert(c.st);
    EXPECT_GE(states.size(), 10u);

    const auto contains = [](std::string_view needle) {
        return [needle](const Call& k) { return k.text.find(needle) != std::string::npos; };
    };
    EXPECT_GT(CountCalls(data, contains("\r\n")), 0u);
    EXPECT_GT(CountCalls(data, contains("&")), 0u);
    EXPECT_GT(CountCalls(data, contains("'")), 0u);
    EXPECT_EQ(CountCalls(data, contains("\t")), 1u);
    EXPECT_GT(CountCalls(data, [](const Call& k) { return k.direction == "Outgoing"; }), 0u);
}

TEST(DataSetTest, SameArgumentsGiveSameRecords)
{
    EXPECT_EQ(Flatten(DemoData(2026)), Flatten(DemoData(2026)));
    EXPECT_EQ(Flatten(SyntheticData(300, 2000, 2026)), Flatten(SyntheticData(300, 2000, 2026)));
}

TEST(SyntheticDataTest, HasTheRequestedSizesAndWellFormedRecords)
{
    struct Size
    {
        int customers, calls;
    };
    const Size sizes[] = {{0, 0}, {1, 40}, {25, 0}, {3000, 20000}, {40, 200000}};
    for (const Size& s : sizes) {
        SCOPED_TRACE(std::to_string(s.customers) + " customers, " + std::to_string(s.calls) +
                     " calls");
        const Dataset data = SyntheticData(s.customers, s.calls, 2025);
        ASSERT_EQ(data.customers.size(), std::size_t(s.customers));
        ASSERT_EQ(data.calls.size(), std::size_t(s.calls));
        ExpectWellFormed(data);
    }
}

TEST(SyntheticDataTest, RejectsImpossibleCounts)
{
    EXPECT_THROW(SyntheticData(0, 5, 2025), std::invalid_argument);
    EXPECT_THROW(SyntheticData(-1, 0, 2025), std::invalid_argument);
    EXPECT_THROW(SyntheticData(10, -1, 2025), std::invalid_argument);
}
