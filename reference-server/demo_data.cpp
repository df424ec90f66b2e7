#include "demo_data.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace refserver {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

// SplitMix64: the same sequence on every platform, unlike the standard
// distributions, so a given year always yields the same records.
class Rng
{
public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // n > 0. The modulo bias is irrelevant for sample data.
    int below(int n) { return int(next() % std::uint64_t(n)); }
    bool chance(int percent) { return below(100) < percent; }

private:
    std::uint64_t m_state;
};

void PutDigits(char* out, unsigned value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
}

std::string DateText(year_month_day ymd)
{
    std::string s = "0000-00-00";
    PutDigits(s.data(), unsigned(int(ymd.year())), 4);
    PutDigits(s.data() + 5, unsigned(ymd.month()), 2);
    PutDigits(s.data() + 8, unsigned(ymd.day()), 2);
    return s;
}

std::string TimeText(int secondsOfDay)
{
    std::string s = "00:00:00";
    PutDigits(s.data(), unsigned(secondsOfDay / 3600), 2);
    PutDigits(s.data() + 3, unsigned(secondsOfDay / 60 % 60), 2);
    PutDigits(s.data() + 6, unsigned(secondsOfDay % 60), 2);
    return s;
}

void CheckYear(int currentYear)
{
    // Dates are written with four-digit years and reach fifteen years back.
    if (currentYear < 1900 || currentYear > 9000)
        throw std::invalid_argument("current year out of range");
}

constexpr int OfficeOpens = 8 * 3600;
constexpr int OfficeSeconds = 9 * 3600; // 08:00:00 to 16:59:59

// Weekdays from January 1 of the previous year to June 30 of this one: the
// last eighteen months or so of calls.
std::vector<sys_days> CallDays(int currentYear)
{
    const sys_days first{std::chrono::year{currentYear - 1} / 1 / 1};
    const sys_days last{std::chrono::year{currentYear} / 6 / 30};
    std::vector<sys_days> result;
    for (sys_days d = first; d <= last; d += days{1}) {
        const unsigned wd = std::chrono::weekday{d}.c_encoding();
        if (wd != 0 && wd != 6)
            result.push_back(d);
    }
    return result;
}

constexpr std::array<std::string_view, 6> HowHeard = {"Web Search",       "Farm Show Display",
                                                      "Magazine Ad",      "Postcard",
                                                      "Radio Commercial", "Word Of Mouth"};
constexpr std::array<std::string_view, 4> Handlers = {"Anna", "Brian", "Carol", "David"};

std::string PhoneNumber(std::string_view areaCode, int lastTwo)
{
    std::string s(areaCode);
    s += "55501"; // 555-0100..0199 is reserved for fiction
    s.resize(10);
    PutDigits(s.data() + 8, unsigned(lastTwo % 100), 2);
    return s;
}

std::string ProductKey(Rng& rng)
{
    static constexpr std::string_view Letters = "ABCDEFGHJKLMNPQRSTUVWXYZ"; // no I or O
    std::string s = "TLR-0000-00XX";
    PutDigits(s.data() + 4, unsigned(rng.below(10000)), 4);
    PutDigits(s.data() + 9, unsigned(rng.below(100)), 2);
    s[11] = Letters[std::size_t(rng.below(int(Letters.size())))];
    s[12] = Letters[std::size_t(rng.below(int(Letters.size())))];
    return s;
}

enum class Dates
{
    Full,
    NoAnniversary,
    None
};

// Fills ho, dv, pm, pk and the four dates from c.act and returns the
// beginning date (the epoch when there is none). A current customer's
// anniversary is in `currentYear` (month `anniversaryMonth`, or random when
// 0); expired ones fell due one or two years ago; dormant ones long before.
sys_days FillLicence(Customer& c, Rng& rng, int currentYear, unsigned anniversaryMonth, Dates dates)
{
    const int how = rng.below(100);
    c.ho = HowHeard[how < 25 ? 0 : how < 45 ? 1 : how < 60 ? 2 : how < 70 ? 3 : how < 80 ? 4 : 5];
    c.pm = rng.chance(25) ? "Starter (Receipts)" : "Unlimited";
    c.pk = ProductKey(rng);

    const int aniYear = c.act == 1   ? currentYear
                        : c.act == 0 ? currentYear - 2 - rng.below(2)
                                     : currentYear - 4 - rng.below(4);
    const int years = 1 + rng.below(8);
    const unsigned month = anniversaryMonth ? anniversaryMonth : unsigned(1 + rng.below(12));
    const unsigned day = unsigned(1 + rng.below(28)); // valid in every month and year
    const int paidBefore = 1 + rng.below(40);
    const bool paid = c.act != -1 || rng.chance(50);

    // Older customers mostly got the CD; newer ones mostly download.
    c.dv = rng.chance(aniYear - years < currentYear - 5 ? 70 : 20) ? "CD By Mail"
                                                                   : "Internet Download";
    if (dates == Dates::None)
        return sys_days{};
    const auto on = [&](int y) {
        return year_month_day{std::chrono::year{y}, std::chrono::month{month},
                              std::chrono::day{day}};
    };
    const year_month_day anniversary = on(aniYear);
    const year_month_day begin = on(aniYear - years);
    c.bd = DateText(begin);
    c.dd = DateText(on(aniYear + 1));
    if (paid)
        c.pd = DateText(year_month_day{sys_days{anniversary} - days{paidBefore}});
    if (dates == Dates::Full)
        c.ani = DateText(anniversary);
    return sys_days{begin};
}

struct DemoRow
{
    const char *ln, *fn, *bn, *ad, *cy, *st, *zp, *em;
    int act;
    Dates dates = Dates::Full;
};

// Fictional people and businesses. Oddities on purpose: "&" and apostrophes,
// lower-case and blank-led last names, Latin-1 letters (the server can answer
// in ISO-8859-1, so nothing beyond it).
// clang-format off
const DemoRow DemoRows[] = {
    {"Hansen", "Erik", "Hansen & Sons Feed", "1840 County Road 9", "Story City", "IA", "50248", "hansenfeed@example.net", 1},
    {"Müller", "Dieter", "Müller Dairy", "4410 State Hwy 15", "New Ulm", "MN", "56073", "dmueller@example.com", 1},
    {"Peña", "Rosa", "Peña Family Orchards", "220 Orchard Ln", "Hondo", "TX", "78861", "rosa.pena@example.org", 1},
    {"van Dijk", "Pieter", "Tulip Lane Nursery", "605 Albany Ave SE", "Orange City", "IA", "51041", "pvandijk@example.com", 1},
    {" Olsen", "Karl", "", "RR 1 Box 212", "Hillsboro", "ND", "58045", "", 1},
    {"de la Cruz", "Miguel", "De la Cruz Custom Harvesting", "PO Box 318", "Garden City", "KS", "67846", "mdelacruz@example.org", 1},
    {"Schmidt", "Zoë", "Prairie Rose Bookkeeping", "112 W 3rd St", "Seward", "NE", "68434", "zoe@example.com", 1},
    {"O'Brien", "Patrick", "O'Brien Cattle Co.", "7721 Sandhills Rd", "Valentine", "NE", "69201", "", 0},
    {"Yoder", "Eli", "Yoder Harness & Tack", "3150 Township Rd 606", "Millersburg", "OH", "44654", "", 1},
    {"Kowalski", "Janet", "", "88 Birch St", "Stevens Point", "WI", "54481", "jkowalski@example.net", 1},
    {"Lindqvist", "Ingrid", "Lindqvist Sheep Ranch", "14502 Butte Rd", "Belle Fourche", "SD", "57717", "ingrid@example.com", 1},
    {"Brenneman", "Ruth", "Brenneman Poultry", "2291 Mill Creek Rd", "Strasburg", "PA", "17579", "", 1},
    {"Carter", "Dwayne", "Carter Grain & Seed", "410 Depot St", "Effingham", "IL", "62401", "carterseed@example.com", 1},
    {"Hoffmann", "Gretchen", "", "1207 N Main St", "Jasper", "IN", "47546", "ghoffmann@example.net", 1},
    {"Thompson", "Bill", "Thompson Angus", "20331 County Road K", "Chillicothe", "MO", "64601", "", 0},
    {"Nguyen", "Linh", "Golden Valley Produce", "56 Riverside Dr", "Lincoln", "NE", "68508", "linh@example.org", 1},
    {"Smith-Jones", "Alice", "Alice's Bookkeeping Service", "318 Maple Ave, Suite 2", "Ames", "IA", "50010", "alice@example.com", 1},
    {"Berg", "Nils", "Berg Brothers Farms", "9980 260th St", "Worthington", "MN", "56187", "", -1},
    {"García", "José", "García Landscaping", "1450 Sunset Blvd", "Uvalde", "TX", "78801", "jgarcia@example.com", 1},
    {"Weber", "Hans", "", "5 Church St", "Hermann", "MO", "65041", "", 1},
    {"Miller", "Sarah", "Miller & Daughters Honey", "775 Clover Rd", "Decorah", "IA", "52101", "honey@example.net", 1},
    {"Jankowski", "Tom", "Jankowski Equipment Repair", "1602 Industrial Pkwy", "Wausau", "WI", "54401", "tomj@example.com", 0},
    {"Fischer", "Maria", "Fischer Vineyard", "4032 Bluff Rd", "Augusta", "MO", "63332", "", 1},
    {"Anderson", "Paul", "Anderson Custom Baling", "RR 3 Box 77", "Hays", "KS", "67601", "panderson@example.org", 1},
    {"Reyes", "Carmen", "", "911 Pecan St", "Seguin", "TX", "78155", "creyes@example.com", 1},
    {"Dahl", "Oskar", "Dahl Seed Potatoes", "320 2nd Ave NE", "Grafton", "ND", "58237", "", -1, Dates::None},
    {"McAllister", "Fiona", "Highland Acres", "6450 Ridge Rd", "Mount Vernon", "OH", "43050", "fiona@example.net", 1},
    {"Stoltzfus", "Aaron", "Stoltzfus Woodworking", "158 Peach Ln", "Gap", "PA", "17527", "", 1},
    {"Bauer", "Klaus", "Bauer Hog Farm", "27910 Hwy 30", "Carroll", "IA", "51401", "", 0},
    {"Brooks", "Denise", "Brooks Tax & Accounting", "200 S Washington St", "Marion", "IL", "62959", "dbrooks@example.com", 1},
    {"Krüger", "Heike", "", "44 Linden Ct", "Fredericksburg", "TX", "78624", "heike.k@example.org", 1},
    {"Johnson", "Gary", "Johnson Feedlot", "3800 Road 12", "Ogallala", "NE", "69153", "", 1},
    {"Pedersen", "Lars", "", "RR 2", "Madison", "SD", "57042", "lpedersen@example.com", -1},
    {"Novak", "Frank", "Novak Sawmill", "1130 Mill Rd", "Tomah", "WI", "54660", "", 1},
    {"Schultz", "Barbara", "Schultz Greenhouse & Garden", "65 Elm Grove Rd", "Seymour", "IN", "47274", "bschultz@example.net", 1},
    {"Wagner", "Ray", "", "2408 Walnut St", "Manhattan", "KS", "66502", "rwagner@example.com", 0},
    {"Olson", "Marit", "Olson Bee Farm", "12 Lakeview Dr", "Fergus Falls", "MN", "56537", "", 1},
    {"Zimmerman", "Luke", "Zimmerman Dairy", "5310 Creek Rd", "Ephrata", "PA", "17522", "", 1},
    {"Harris", "Beth", "Cedar Creek Stables", "1919 Cedar Creek Rd", "Columbia", "MO", "65201", "beth@example.org", 1},
    {"Ortiz", "Luis", "Ortiz Trucking", "801 Frontage Rd", "Dodge City", "KS", "67801", "lortiz@example.com", 1},
    {"Sørensen", "Anders", "", "330 Ash St", "Tyler", "MN", "56178", "", -1, Dates::NoAnniversary},
    {"Kelly", "Maureen", "Kelly's Country Store", "101 Main St", "Bucyrus", "OH", "44820", "kellystore@example.net", 1},
    {"Vogel", "Walter", "Vogel Farms", "15700 Hwy 14", "Brookings", "SD", "57006", "", 1},
    {"Ramírez", "Ana", "Ramírez Goat Dairy", "48 Caliche Rd", "Kerrville", "TX", "78028", "ana@example.com", 0},
    {"Lehman", "Joe", "", "2650 County Road 400 N", "Mattoon", "IL", "61938", "", 1},
    {"Christensen", "Helga", "Christensen Christmas Trees", "7400 Pine Hill Rd", "Menomonie", "WI", "54751", "helga@example.org", 1},
    {"Frey", "Daniel", "Frey Custom Spraying", "350 Airport Rd", "Kearney", "NE", "68847", "dfrey@example.com", 1, Dates::NoAnniversary},
    {"Martin", "Gloria", "", "910 Oak St", "Washington", "IN", "47501", "", -1},
    {"Becker", "Otto", "Becker & Becker Implement", "2000 E Hwy 12", "Aberdeen", "SD", "57401", "sales@example.net", 1},
    {"Nelson", "Judy", "Nelson Orchard", "6677 Apple Valley Rd", "Bayfield", "WI", "54814", "", 1},
    {"Friesen", "Jacob", "", "41 Prairie View Rd", "Hillsboro", "KS", "67063", "jfriesen@example.com", 0, Dates::NoAnniversary},
    {"Shaw", "Kevin", "Shaw Sod Farm", "1550 River Rd", "Shelbyville", "IN", "46176", "", 1},
    {"Hofer", "Susanna", "Hofer Colony Supply", "PO Box 45", "Freeman", "SD", "57029", "", -1},
    {"Gutiérrez", "Elena", "", "2210 Mesquite Dr", "Del Rio", "TX", "78840", "egutierrez@example.org", 1},
    {"Lange", "Henry", "Lange Maple Syrup", "880 Sugarbush Rd", "Marshfield", "WI", "54449", "", 1},
    {"Bishop", "Tracy", "Bishop Farm Books", "15 Courthouse Sq", "Greenfield", "OH", "45123", "tracy@example.com", 1},
    {"Engel", "Rudy", "", "RR 5 Box 19", "Mexico", "MO", "65265", "", -1},
    {"Wiebe", "Agnes", "Wiebe Bros. Grain", "4080 County Road 8", "Mountain Lake", "MN", "56159", "", 1},
    {"Dupont", "Claire", "", "72 Levee Rd", "Quincy", "IL", "62301", "cdupont@example.net", 1},
    {"Sauer", "Mark", "Sauer Custom Meats", "300 W Locust St", "Mount Joy", "PA", "17552", "", 0},
};
// clang-format on

std::string_view AreaCode(std::string_view state)
{
    static constexpr std::pair<std::string_view, std::string_view> Codes[] = {
        {"IA", "515"}, {"IL", "217"}, {"IN", "812"}, {"KS", "620"}, {"MN", "507"},
        {"MO", "573"}, {"ND", "701"}, {"NE", "402"}, {"OH", "419"}, {"PA", "717"},
        {"SD", "605"}, {"TX", "830"}, {"WI", "715"}};
    for (const auto& [st, code] : Codes)
        if (st == state)
            return code;
    return "555";
}

// The order in which current customers get anniversary months: each quarter
// comes round once every four customers.
constexpr unsigned QuarterRobin[12] = {1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12};

constexpr std::string_view IncomingOpeners[] = {
    "Asked how to print the year-end summary.",
    "Can't find the backup menu since the update.",
    "Wants to renew; will mail a check this week.",
    "Lost the product key; read it back to them.",
    "New computer, needs the program reinstalled.",
    "Receipts won't total by category & month.",
    "Question about depreciation on the new grain bin.",
    "Checks print about 1/4 inch too low.",
    "Daughter's taking over the books, wants a walk-through.",
    "Asked about going from Starter to Unlimited.",
    "Called about the renewal notice & the price.",
    "CD won't read in the new drive.",
    "Gets \"file in use\" when opening the ledger.",
    "Wants a second copy for the shop office.",
    "Cattle & hay sales in one account; how to split them?",
    "Didn't get the renewal letter.",
};

constexpr std::string_view OutgoingOpeners[] = {
    "Renewal reminder; left a message.",
    "Returned their call about restoring a backup.",
    "Followed up on last week's printing problem.",
    "Confirmed the mailing address for the CD.",
    "Left voicemail about the anniversary date.",
    "Called back with the new product key.",
    "No answer; will try again Monday.",
    "Talked to the son; he'll handle the renewal.",
    "Explained the new tax tables in this year's update.",
    "Checked that the download worked.",
};

constexpr std::string_view FollowUps[] = {
    "Walked through it step by step.",
    "Sent instructions by e-mail.",
    "Mailed a new CD.",
    "Sent the download link.",
    "Will call back after harvest.",
    "Resolved.",
    "Said thanks, very happy with the program.",
    "Needs to check with the accountant first.",
    "Renewal paid by card over the phone.",
    "Told them about the Farm Show booth.",
    "Backup restored, nothing lost.",
    "Ask Brian if this comes up again.",
    "Wife & I both use it now, he said.",
};

template <std::size_t N> std::string_view Pick(Rng& rng, const std::string_view (&pool)[N])
{
    return pool[std::size_t(rng.below(int(N)))];
}

constexpr int DemoCalls = 150;
constexpr int TabCall = 57; // the one call whose text holds a tab

} // namespace

Dataset DemoData(int currentYear)
{
    CheckYear(currentYear);
    Rng rng(0x711104A5EED0D3A0ULL);
    Dataset data;
    data.customers.reserve(std::size(DemoRows));
    std::vector<sys_days> began; // the earliest day a call may be on, per customer
    std::vector<int> callable;   // indices of current and expired customers
    int currentsDated = 0;
    for (std::size_t i = 0; i < std::size(DemoRows); ++i) {
        const DemoRow& row = DemoRows[i];
        Customer c;
        c.ln = row.ln;
        c.fn = row.fn;
        c.bn = row.bn;
        c.ad = row.ad;
        c.cy = row.cy;
        c.st = row.st;
        c.zp = row.zp;
        c.em = row.em;
        c.act = row.act;
        const std::string_view area = AreaCode(row.st);
        c.p1 = PhoneNumber(area, int(i));
        if (rng.chance(40))
            c.p2 = PhoneNumber(area, int(i) * 7 + 23);
        c.sn = std::to_string(1000 + (int(i) * 97 + 311) % 9000); // distinct for i < 9000
        const unsigned month =
            row.act == 1 && row.dates == Dates::Full ? QuarterRobin[currentsDated++ % 12] : 0;
        began.push_back(FillLicence(c, rng, currentYear, month, row.dates) + days{1});
        if (row.act != -1)
            callable.push_back(int(i));
        data.customers.push_back(std::move(c));
    }

    // Calls only on current and expired customers: moving a customer to
    // dormant deletes their calls.
    const std::vector<sys_days> callDays = CallDays(currentYear);
    data.calls.reserve(DemoCalls);
    for (int k = 0; k < DemoCalls; ++k) {
        // The smaller of two draws: some customers call often, some never.
        const int index = callable[std::size_t(
            std::min(rng.below(int(callable.size())), rng.below(int(callable.size()))))];
        Call call;
        call.customerId = index + 1;
        const bool incoming = rng.chance(60);
        call.direction = incoming ? "Incoming" : "Outgoing";
        call.handler = Handlers[std::size_t(rng.below(4))];
        const auto from =
            std::lower_bound(callDays.begin(), callDays.end(), began[std::size_t(index)]);
        const auto span = int(callDays.end() - from);
        const sys_days day = span > 0 ? from[rng.below(span)] : callDays.back();
        call.date = DateText(year_month_day{day});
        call.time = TimeText(OfficeOpens + rng.below(OfficeSeconds));

        call.text = incoming ? Pick(rng, IncomingOpeners) : Pick(rng, OutgoingOpeners);
        if (k == TabCall)
            call.text += "\r\nRead back the product key:\t" + data.customers[std::size_t(index)].pk;
        const int more = rng.below(k == TabCall ? 3 : 4); // at most four lines in all
        std::string_view previous;
        for (int line = 0; line < more; ++line) {
            std::string_view next = Pick(rng, FollowUps);
            if (next == previous)
                continue;
            call.text += "\r\n";
            call.text += next;
            previous = next;
        }
        data.calls.push_back(std::move(call));
    }
    std::stable_sort(data.calls.begin(), data.calls.end(), [](const Call& a, const Call& b) {
        return std::tie(a.date, a.time) < std::tie(b.date, b.time);
    });
    return data;
}

namespace {

struct Region
{
    std::string_view st, area, zipPrefix, city;
};

constexpr Region Regions[] = {
    {"IA", "515", "502", "Boone"},      {"IA", "712", "510", "Le Mars"},
    {"NE", "308", "688", "Broken Bow"}, {"NE", "402", "686", "Wayne"},
    {"KS", "785", "676", "Colby"},      {"KS", "620", "678", "Liberal"},
    {"MN", "320", "563", "Willmar"},    {"MN", "507", "560", "Fairmont"},
    {"WI", "608", "535", "Monroe"},     {"WI", "920", "549", "Ripon"},
    {"IL", "309", "614", "Galesburg"},  {"IN", "765", "479", "Frankfort"},
    {"OH", "419", "458", "Lima"},       {"PA", "814", "166", "Huntingdon"},
    {"MO", "660", "644", "Maryville"},  {"SD", "605", "573", "Mitchell"},
    {"ND", "701", "586", "Dickinson"},  {"TX", "806", "790", "Hereford"},
    {"OK", "580", "737", "Enid"},       {"MT", "406", "593", "Miles City"},
    {"CO", "970", "807", "Sterling"},   {"KY", "270", "421", "Glasgow"},
    {"TN", "931", "384", "Lewisburg"},  {"NY", "315", "133", "Lowville"},
};

constexpr std::string_view FirstNames[] = {
    "Anna", "Bob",  "Carl", "Dora", "Ed",    "Faye", "Gus", "Hilda", "Ivan", "Jill", "Ken",  "Lena",
    "Mel",  "Nora", "Otto", "Pam",  "Quinn", "Rita", "Sam", "Tess",  "Ulla", "Vic",  "Wade", "Zoë"};

constexpr std::string_view LastNames[] = {
    "Schmidt", "Johnson", "Miller", "Olson",   "Peña",     "Müller", "O'Brien", "de la Cruz",
    "Yoder",   "Berg",    "Novak",  "Hansen",  "Weber",    "Kelly",  "Nguyen",  "Anderson",
    "Bauer",   "Fischer", "Lange",  "Ortiz",   "van Dijk", "Becker", "Reyes",   "Wagner",
    "Shaw",    "Vogel",   "Carter", "Friesen", "Hofer",    "Engel",  "Dahl",    "Martin"};

constexpr std::string_view BusinessKinds[] = {" Farms", " Feed & Seed", " Dairy",
                                              " Ranch", " Orchard",     " Supply"};

constexpr std::string_view Streets[] = {" Main St",   " County Road 12", " Elm St",
                                        " Hwy 30",    " Oak Ave",        " Mill Rd",
                                        " Church St", " Prairie View Rd"};

// Short enough to stay inside std::string's own buffer: ten million calls
// then need no memory beyond the vector.
constexpr std::string_view ShortTexts[] = {
    "Left message.",    "Renewal paid.", "Key resent.", "Backup help.",
    "Install\r\nDone.", "Printer & CD.", "Won't open.", "Moved\r\nNew addr",
};

} // namespace

Dataset SyntheticData(int customers, int calls, int currentYear)
{
    if (customers < 0 || calls < 0)
        throw std::invalid_argument("negative record count");
    if (customers == 0 && calls > 0)
        throw std::invalid_argument("calls need at least one customer");
    CheckYear(currentYear);

    Rng rng(0x5EED5A17E71C0DEULL);
    Dataset data;
    data.customers.reserve(std::size_t(customers));
    for (int i = 0; i < customers; ++i) {
        Customer c;
        const Region& region = Regions[std::size_t(rng.below(int(std::size(Regions))))];
        c.ln = Pick(rng, LastNames);
        c.fn = Pick(rng, FirstNames);
        if (rng.chance(50)) {
            c.bn = c.ln;
            c.bn += Pick(rng, BusinessKinds);
        }
        c.ad = std::to_string(1 + rng.below(29999));
        c.ad += Pick(rng, Streets);
        c.cy = region.city;
        c.st = region.st;
        c.zp = region.zipPrefix;
        c.zp.resize(5);
        PutDigits(c.zp.data() + 3, unsigned(rng.below(100)), 2);
        c.p1 = PhoneNumber(region.area, rng.below(100));
        if (rng.chance(30))
            c.p2 = PhoneNumber(region.area, rng.below(100));
        if (rng.chance(60))
            c.em = "customer" + std::to_string(i + 1) + "@example.com";
        c.sn = std::to_string(1 + i % 9999);
        const int status = rng.below(100);
        c.act = status < 75 ? 1 : status < 90 ? 0 : -1;
        FillLicence(c, rng, currentYear, 0, rng.chance(3) ? Dates::NoAnniversary : Dates::Full);
        data.customers.push_back(std::move(c));
    }

    // Calls spread evenly over the office hours of the call period, each at a
    // random moment of its own slot, so they come out in order without sorting.
    const std::vector<sys_days> callDays = CallDays(currentYear);
    std::vector<std::string> dayTexts;
    dayTexts.reserve(callDays.size());
    for (sys_days d : callDays)
        dayTexts.push_back(DateText(year_month_day{d}));
    const std::int64_t total = std::int64_t(callDays.size()) * OfficeSeconds;
    data.calls.reserve(std::size_t(calls));
    for (std::int64_t j = 0; j < calls; ++j) {
        const std::int64_t slot = j * total / calls;
        const std::int64_t width = (j + 1) * total / calls - slot;
        const std::int64_t moment =
            slot + (width > 1 ? std::int64_t(rng.next() % std::uint64_t(width)) : 0);
        Call call;
        call.customerId = 1 + rng.below(customers);
        call.direction = rng.chance(60) ? "Incoming" : "Outgoing";
        call.handler = Handlers[std::size_t(rng.below(4))];
        call.date = dayTexts[std::size_t(moment / OfficeSeconds)];
        call.time = TimeText(OfficeOpens + int(moment % OfficeSeconds));
        call.text = Pick(rng, ShortTexts);
        data.calls.push_back(std::move(call));
    }
    return data;
}

} // namespace refserver
