#include "caller_search.h"

#include "text_basics.h"

#include <QChar>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring> // memmem, a GNU extension of the C library
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Both rules read compact text at the speed of a byte search, and note which
// rows matched; the first of those rows in list order is the one found.
// - The text rule reads the table's text whole: most characters are told
//   apart from the start of the text sought sixteen at a time, and only the
//   few places that may begin a match are compared and placed in their row
//   and field.
// - The telephone rule reads the digits of every row's two numbers, kept
//   apart from the table and made once per loaded table.

namespace {

using Chars = QVarLengthArray<char16_t, 64>;

constexpr int FewestPhoneDigits = 4;
// Fewer characters are held by too many fields: a mistyped name would land
// on a stranger.
constexpr int FewestTextCharacters = 3;

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Characters, not UTF-16 units: a surrogate pair is one.
qsizetype CharacterCount(QStringView text)
{
    return text.size() -
           std::count_if(text.begin(), text.end(), [](QChar c) { return c.isLowSurrogate(); });
}

// One character's case-blind form; letters outside ASCII by Unicode's
// folding, as the rest of Qt compares without regard to case.
char16_t Fold(char16_t c)
{
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? char16_t(c | 0x20) : c;
    return char16_t(QChar::toCaseFolded(char32_t(c)));
}

// Rows the rules found, one flag per row.
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

// ---- The text rule ----------------------------------------------------------

// The characters that may stand at one place of a text match: those whose
// bits, with `lower` set, equal `value` (a letter in either case, or one
// ASCII character), plus, when `nonAscii` is set, every character outside
// ASCII (two of which fold to ASCII letters).
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
    if (folded >= 0x80) {
        // No ASCII character folds to it: only the others are looked at.
        c.lower = 0;
        c.nonAscii = true;
        return c;
    }
    c.lower = folded >= u'a' && folded <= u'z' ? 0x20 : 0;
    c.value = folded;
    // The only characters outside ASCII that fold into it: the long s and
    // the Kelvin sign.
    c.nonAscii = folded == u's' || folded == u'k';
    return c;
}

// Sixteen characters at once, in whatever vector registers the processor
// has. Values of this type never cross a call, so the warning about their
// calling convention does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
using Lanes = std::uint16_t __attribute__((vector_size(32)));
using Words = std::uint64_t __attribute__((vector_size(32)));

// The vector forms of three classes; `wide` is 0xFF80 where a class takes
// every character outside ASCII, 0 elsewhere.
struct LaneClasses
{
    Lanes lower[3], value[3], wide[3];
};

// The lanes of `chars` in class `k`.
template <bool NonAscii>
[[gnu::always_inline]] inline Lanes InClass(Lanes chars, const LaneClasses& classes, int k)
{
    Lanes in = Lanes((chars | classes.lower[k]) == classes.value[k]);
    // The long s and the Kelvin sign may stand at any of the three places.
    if constexpr (NonAscii)
        in |= Lanes((chars & classes.wide[k]) != 0);
    return in;
}

// Places of a block of sixteen characters whose character and the two after
// it are in the classes.
template <bool NonAscii>
[[gnu::always_inline]] inline Lanes HitsAt(const char16_t* chars, const LaneClasses& k)
{
    Lanes a, b, c;
    std::memcpy(&a, chars, sizeof a);
    std::memcpy(&b, chars + 1, sizeof b);
    std::memcpy(&c, chars + 2, sizeof c);
    return InClass<NonAscii>(a, k, 0) & InClass<NonAscii>(b, k, 1) & InClass<NonAscii>(c, k, 2);
}

[[gnu::always_inline]] inline bool AnyOf(Lanes hit)
{
    const Words words = Words(hit);
    return (words[0] | words[1] | words[2] | words[3]) != 0;
}

// A bit per character (bit 0 for the block's first).
[[gnu::always_inline]] inline unsigned PlacesOf(Lanes hit)
{
    unsigned bits = 0;
    for (int lane = 0; lane < 16; ++lane)
        if (hit[lane] != 0)
            bits |= 1u << lane;
    return bits;
}

// The first block of sixteen characters, from `from` on, that holds places
// where a match may begin, with those places in `places`; `size` - 18 or
// more when there is none.
template <bool NonAscii>
[[gnu::always_inline]] inline qsizetype ScanBlocks(const char16_t* chars, qsizetype from,
                                                   qsizetype size, const CharClass* classes,
                                                   unsigned& places)
{
    LaneClasses k;
    for (int lane = 0; lane < 16; ++lane)
        for (int c = 0; c < 3; ++c) {
            k.lower[c][lane] = classes[c].lower;
            k.value[c][lane] = classes[c].value;
            k.wide[c][lane] = classes[c].nonAscii ? 0xFF80 : 0;
        }
    qsizetype i = from;
    // Two blocks a round: most rounds find nothing, and one test serves both.
    for (; i + 34 <= size; i += 32) {
        const Lanes first = HitsAt<NonAscii>(chars + i, k);
        const Lanes second = HitsAt<NonAscii>(chars + i + 16, k);
        if (!AnyOf(first | second))
            continue;
        if (AnyOf(first)) {
            places = PlacesOf(first);
            return i;
        }
        places = PlacesOf(second);
        return i + 16;
    }
    for (; i + 18 <= size; i += 16) {
        const Lanes hit = HitsAt<NonAscii>(chars + i, k);
        if (AnyOf(hit)) {
            places = PlacesOf(hit);
            return i;
        }
    }
    return i;
}

// An AVX2 copy beside the baseline one, picked by the loader through an ifunc
// resolver: only on x86-64, and not under ThreadSanitizer, whose runtime is
// not ready when the loader runs the resolver (the program dies at load).
// Everywhere else the compiler lowers the vectors to what the processor has.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TILLORA_NO_IFUNC
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TILLORA_NO_IFUNC
#endif
#if defined(__x86_64__) && !defined(TILLORA_NO_IFUNC)
#define TILLORA_X86_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TILLORA_X86_CLONES
#endif

TILLORA_X86_CLONES qsizetype
NextCandidates(const char16_t* chars, qsizetype from, qsizetype size, const CharClass* classes,
               unsigned& places)
{
    if (classes[0].nonAscii || classes[1].nonAscii || classes[2].nonAscii)
        return ScanBlocks<true>(chars, from, size, classes, places);
    return ScanBlocks<false>(chars, from, size, classes, places);
}

bool IsTextColumn(CustomerField column)
{
    return column == CustomerField::EM || column == CustomerField::BN ||
           column == CustomerField::SN || column == CustomerField::PK;
}

// Notes the rows whose e-mail, business name, serial number or product key
// contains `folded` (already folded, three characters or more), case-blind.
void FindText(const TCustomerTable& table, const Chars& folded, Matches& matches)
{
    const QStringView text = table.allText();
    const char16_t* chars = text.utf16();
    const qsizetype size = text.size();
    CharClass classes[3];
    for (int k = 0; k < 3 && k < folded.size(); ++k)
        classes[k] = FoldsTo(folded[k]); // the others take any character

    const auto look = [&](qsizetype at) {
        if (at + folded.size() > size)
            return;
        for (qsizetype k = 0; k < folded.size(); ++k)
            if (Fold(chars[at + k]) != folded[k])
                return;
        const TCustomerTable::TextPlace place = table.placeOf(at);
        if (IsTextColumn(place.column) && at + folded.size() <= place.end)
            matches.note(place.row);
    };
    qsizetype i = 0;
    while (i + 18 <= size) {
        unsigned places = 0;
        i = NextCandidates(chars, i, size, classes, places);
        if (i + 18 > size)
            break;
        for (; places; places &= places - 1)
            look(i + __builtin_ctz(places));
        i += 16;
    }
    for (; i < size; ++i)
        look(i);
}

// ---- The telephone rule -----------------------------------------------------

// The digits of both telephone numbers of every row, each number followed
// by a mark that is no digit, so that a match never runs from one number
// into the next; and where each row's digits begin.
struct PhoneDigits
{
    std::string digits;
    std::vector<std::uint32_t> rowStarts;

    explicit PhoneDigits(const TCustomerTable& table)
    {
        rowStarts.reserve(std::size_t(table.CustomerCount()));
        for (std::int32_t row = 0; row < table.CustomerCount(); ++row) {
            rowStarts.push_back(std::uint32_t(digits.size()));
            for (const CustomerField column : {CustomerField::P1, CustomerField::P2}) {
                for (const QChar c : table.textView(column, row))
                    if (IsDigit(c.unicode()))
                        digits += char(c.unicode());
                digits += '|';
            }
        }
    }

    std::int32_t rowOf(std::size_t offset) const
    {
        return std::int32_t(std::upper_bound(rowStarts.begin(), rowStarts.end(),
                                             std::uint32_t(offset)) -
                            rowStarts.begin() - 1);
    }
};

// The digits of the table last searched, made again for another table.
const PhoneDigits& PhoneDigitsOf(const TCustomerTable& table)
{
    static std::uint64_t generation = 0;
    static std::unique_ptr<PhoneDigits> digits;
    if (!digits || generation != table.generation()) {
        digits.reset();
        digits = std::make_unique<PhoneDigits>(table);
        generation = table.generation();
    }
    return *digits;
}

// Notes the rows whose first or second telephone number holds `typed`
// digits in a row, everything but digits left out.
void FindPhoneDigits(const TCustomerTable& table, const Chars& typed, Matches& matches)
{
    const PhoneDigits& index = PhoneDigitsOf(table);
    std::string sought;
    for (const char16_t c : typed)
        sought += char(c);
    const char* begin = index.digits.data();
    const char* end = begin + index.digits.size();
    for (const char* at = begin;;) {
        at = static_cast<const char*>(memmem(at, std::size_t(end - at), sought.data(), sought.size()));
        if (!at)
            return;
        matches.note(index.rowOf(std::size_t(at - begin)));
        ++at;
    }
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
    const QStringView text = Trim(typed);
    Chars folded;
    for (const QChar c : text)
        folded.append(Fold(c.unicode()));

    Matches matches(table.CustomerCount());
    if (digits.size() >= FewestPhoneDigits)
        FindPhoneDigits(table, digits, matches);
    if (CharacterCount(text) >= FewestTextCharacters)
        FindText(table, folded, matches);
    if (!matches.any())
        return -1;
    for (std::size_t position = 0; position < entries.size(); ++position)
        if (matches.has(entries[position].row))
            return int(position);
    return -1;
}
