#include "caller_search.h"

#include "text_basics.h"

#include <QChar>
#include <QVarLengthArray>

#include <cstring>
#include <vector>

// The table's text is searched whole, one pass per rule, at the speed of a
// byte search: most characters are told apart from the first one sought
// sixteen at a time, and only the few that may begin a match are looked at
// closely and placed in their row and field. Which customers matched is
// noted by row; the first of them in list order is the one found.

namespace {

using Chars = QVarLengthArray<char16_t, 64>;

constexpr int FewestPhoneDigits = 4;

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// One character's case-blind form; letters outside ASCII by Unicode's
// folding, as the rest of Qt compares without regard to case.
char16_t Fold(char16_t c)
{
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? char16_t(c | 0x20) : c;
    return char16_t(QChar::toCaseFolded(char32_t(c)));
}

// The characters that may stand at one place of a text match: those
// whose bits, with `lower` set, equal `value` (a letter in either case, or
// one ASCII character), plus, when `nonAscii` is set, every character
// outside ASCII (a few of which fold to ASCII letters).
struct CharClass
{
    char16_t lower = 0xFFFF;
    char16_t value = 0xFFFF; // with lower 0xFFFF: any character at all
    bool nonAscii = false;

    bool has(char16_t c) const { return char16_t(c | lower) == value || (nonAscii && c >= 0x80); }
};

// The characters that fold to `folded`.
CharClass FoldsTo(char16_t folded)
{
    CharClass c;
    c.nonAscii = true;
    if (folded >= 0x80)
        return c; // no ASCII character folds to it: the non-ASCII ones are sought
    c.lower = folded >= u'a' && folded <= u'z' ? 0x20 : 0;
    c.value = folded;
    c.nonAscii = c.lower != 0;
    return c;
}

// Sixteen characters at once, in whatever vector registers the processor
// has. Values of this type never cross a call, so the warning about their
// calling convention does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
using Lanes = std::uint16_t __attribute__((vector_size(32)));

// Where a match may begin, for the vector pass: a text match at a place
// whose character and the two after it are in `text` (when `byText`), a
// telephone match at the first digit sought followed by the second, by one
// or two characters that are not digits and then the second, or by three
// that are not digits (whatever follows them is then compared in full).
struct Starts
{
    bool byText = false;
    CharClass text[3];
    bool byPhone = false;
    char16_t firstDigit = 0;
    char16_t secondDigit = 0;

    bool textAt(const char16_t* chars, qsizetype at, qsizetype size) const
    {
        for (int k = 0; k < 3 && at + k < size; ++k)
            if (!text[k].has(chars[at + k]))
                return false;
        return true;
    }
    bool phoneAt(const char16_t* chars, qsizetype at, qsizetype size) const
    {
        if (chars[at] != firstDigit)
            return false;
        for (qsizetype k = at + 1; k < size && k <= at + 3; ++k) {
            if (chars[k] == secondDigit)
                return true;
            if (IsDigit(chars[k]))
                return false;
        }
        return true; // three characters that are not digits, or the end: looked at closely
    }
};

// The places in the first block of sixteen characters, from `from` on,
// where some match may begin, as a bit per character (bit 0 for the
// block's first), in `places`, and where that block starts. Blocks without
// any are passed over; `size` - 19 or more when none is left.
template <bool ByText, bool ByPhone>
[[gnu::always_inline]] inline qsizetype ScanBlocks(const char16_t* chars, qsizetype from,
                                                   qsizetype size, const Starts& starts,
                                                   unsigned& places)
{
    Lanes lower[3], value[3], high, first, second, zero = {}, nine, digit0;
    const bool nonAscii =
        starts.text[0].nonAscii || starts.text[1].nonAscii || starts.text[2].nonAscii;
    for (int lane = 0; lane < 16; ++lane) {
        for (int k = 0; k < 3; ++k) {
            lower[k][lane] = starts.text[k].lower;
            value[k][lane] = starts.text[k].value;
        }
        high[lane] = nonAscii ? 0xFF80 : 0;
        first[lane] = starts.firstDigit;
        second[lane] = starts.secondDigit;
        nine[lane] = 9;
        digit0[lane] = u'0';
    }
    qsizetype i = from;
    for (; i + 19 <= size; i += 16) {
        Lanes a, b, c, d;
        std::memcpy(&a, chars + i, sizeof a);
        std::memcpy(&b, chars + i + 1, sizeof b);
        std::memcpy(&c, chars + i + 2, sizeof c);
        Lanes hit = zero;
        if constexpr (ByText)
            hit |= (Lanes((a | lower[0]) == value[0]) & Lanes((b | lower[1]) == value[1]) &
                    Lanes((c | lower[2]) == value[2])) |
                   (a & high);
        if constexpr (ByPhone) {
            std::memcpy(&d, chars + i + 3, sizeof d);
            const Lanes bOther = Lanes(Lanes(b - digit0) > nine);
            const Lanes cOther = Lanes(Lanes(c - digit0) > nine);
            const Lanes dOther = Lanes(Lanes(d - digit0) > nine);
            hit |= Lanes(a == first) &
                   (Lanes(b == second) |
                    (bOther & (Lanes(c == second) | (cOther & (Lanes(d == second) | dOther)))));
        }
        std::uint64_t words[4];
        std::memcpy(words, &hit, sizeof words);
        if (words[0] | words[1] | words[2] | words[3]) {
            places = 0;
            for (int lane = 0; lane < 16; ++lane)
                if (hit[lane] != zero[lane])
                    places |= 1u << lane;
            return i;
        }
    }
    return i;
}

__attribute__((target_clones("avx2", "default"))) qsizetype
NextCandidates(const char16_t* chars, qsizetype from, qsizetype size, const Starts& starts,
               unsigned& places)
{
    if (starts.byText && starts.byPhone)
        return ScanBlocks<true, true>(chars, from, size, starts, places);
    if (starts.byText)
        return ScanBlocks<true, false>(chars, from, size, starts, places);
    return ScanBlocks<false, true>(chars, from, size, starts, places);
}

// Calls `text(offset)` and `phone(offset)` for every place of `chars` where
// a match of that kind may begin; every other place is passed over sixteen
// at a time.
template <typename TextCheck, typename PhoneCheck>
void ForEachCandidate(QStringView all, const Starts& starts, TextCheck text, PhoneCheck phone)
{
    const char16_t* chars = all.utf16();
    const qsizetype size = all.size();
    const auto look = [&](qsizetype at) {
        if (starts.byText && starts.textAt(chars, at, size))
            text(at);
        if (starts.byPhone && starts.phoneAt(chars, at, size))
            phone(at);
    };
    qsizetype i = 0;
    while (i + 19 <= size) {
        unsigned places = 0;
        i = NextCandidates(chars, i, size, starts, places);
        if (i + 19 > size)
            break;
        for (; places; places &= places - 1)
            look(i + __builtin_ctz(places));
        i += 16;
    }
    for (; i < size; ++i)
        look(i);
}

// Rows whose fields the rules found, one flag per row.
class Matches
{
public:
    explicit Matches(std::int32_t rows) : m_rows(std::size_t(rows), false) {}
    void note(std::int32_t row)
    {
        if (!m_rows[std::size_t(row)]) {
            m_rows[std::size_t(row)] = true;
            m_any = true;
        }
    }
    bool any() const { return m_any; }
    bool has(std::int32_t row) const { return m_rows[std::size_t(row)]; }

private:
    std::vector<bool> m_rows;
    bool m_any = false;
};

bool IsTextColumn(CustomerField column)
{
    return column == CustomerField::EM || column == CustomerField::BN ||
           column == CustomerField::SN || column == CustomerField::PK;
}

bool IsPhoneColumn(CustomerField column)
{
    return column == CustomerField::P1 || column == CustomerField::P2;
}

} // namespace

int FindCallerByOtherFields(const TCustomerTable& table,
                            const std::vector<CustomerListModel::Entry>& entries,
                            QStringView typed)
{
    Chars digits;
    for (const QChar c : typed)
        if (IsDigit(c.unicode()))
            digits.append(c.unicode());
    Chars folded;
    for (const QChar c : Trim(typed))
        folded.append(Fold(c.unicode()));

    Starts starts;
    starts.byText = !folded.isEmpty();
    for (int k = 0; k < 3 && k < folded.size(); ++k)
        starts.text[k] = FoldsTo(folded[k]); // the others take any character
    starts.byPhone = digits.size() >= FewestPhoneDigits;
    if (starts.byPhone) {
        starts.firstDigit = digits[0];
        starts.secondDigit = digits[1];
    }
    if (!starts.byText && !starts.byPhone)
        return -1;

    const QStringView all = table.allText();
    const char16_t* chars = all.utf16();
    Matches matches(table.CustomerCount());
    const auto noteIfWithin = [&](qsizetype at, qsizetype end, bool phone) {
        const TCustomerTable::TextPlace place = table.placeOf(at);
        if ((phone ? IsPhoneColumn(place.column) : IsTextColumn(place.column)) && end <= place.end)
            matches.note(place.row);
    };
    ForEachCandidate(
        all, starts,
        [&](qsizetype at) {
            if (at + folded.size() > all.size())
                return;
            for (qsizetype k = 0; k < folded.size(); ++k)
                if (Fold(chars[at + k]) != folded[k])
                    return;
            noteIfWithin(at, at + folded.size(), false);
        },
        [&](qsizetype at) {
            qsizetype k = 0;
            qsizetype end = at;
            for (; k < digits.size() && end < all.size(); ++end) {
                if (!IsDigit(chars[end]))
                    continue;
                if (chars[end] != digits[k])
                    return;
                ++k;
            }
            if (k == digits.size())
                noteIfWithin(at, end, true);
        });
    if (!matches.any())
        return -1;
    for (std::size_t position = 0; position < entries.size(); ++position)
        if (matches.has(entries[position].row))
            return int(position);
    return -1;
}
