// The customer list parser on arbitrary UTF-8 responses, cut whole and cut
// while the bytes arrive in pieces (both must give the same).
//
// After a successful parse: the table holds exactly the announced count, the
// row step ran once per row in order with the table grown to that row, every
// row is present in every column (accesses are bounds-checked in this
// build), no text field holds a terminator, the fields fit in the response,
// and the reported memory covers them. A failure is a TilloraError; a
// RangeCheckError only for a negative count.

#include "customer_table.h"
#include "errors.h"
#include "fuzz_support.h"
#include "list_cursor.h"


namespace {

// Touches every column of a row; returns the characters its text fields hold.
qsizetype CheckRow(const TCustomerTable& table, std::int32_t row)
{
    (void)table.ID(row);
    (void)table.ACT(row);
    qsizetype chars = 0;
    for (int c = int(CustomerField::LN); c < int(CustomerField::ACT); ++c) {
        const QStringView field = table.textView(CustomerField(c), row);
        FUZZ_CHECK(!field.contains(ListCursor::FieldTerminator));
        FUZZ_CHECK(!field.contains(ListCursor::RecordTerminator));
        chars += field.size();
    }
    FUZZ_CHECK(table.LN(row) == table.textView(CustomerField::LN, row));
    FUZZ_CHECK(table.PD(row) == table.textView(CustomerField::PD, row));
    return chars;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString response = Utf8Text(data, size);

    // Cut while it arrives, the answer gives what it gives cut whole.
    TCustomerTable::Builder whole, streamed, cutFirst;
    whole.feed(response);
    StreamUtf8(Bytes(data, size), streamed);
    StreamUtf8Bytes(Bytes(data, size), cutFirst);
    const QString outcome = ListOutcome(whole);
    FUZZ_CHECK(outcome == ListOutcome(streamed));
    FUZZ_CHECK(outcome == ListOutcome(cutFirst));

    std::int32_t steps = 0;
    try {
        const TCustomerTable table =
            TCustomerTable::Parse(response, [&](const TCustomerTable& growing, std::int32_t row) {
                FUZZ_CHECK(row == steps);
                FUZZ_CHECK(growing.CustomerCount() == row + 1);
                CheckRow(growing, row);
                ++steps;
            });

        const std::int32_t count = table.CustomerCount();
        FUZZ_CHECK(count == TCustomerTable::ReadCountHeader(response).count);
        FUZZ_CHECK(steps == count);
        qsizetype chars = 0;
        for (std::int32_t row = 0; row < count; ++row)
            chars += CheckRow(table, row);
        FUZZ_CHECK(chars <= response.size());
        const qsizetype perRow =
            2 * sizeof(std::int32_t) + (CustomerFieldCount - 2) * sizeof(std::uint32_t);
        FUZZ_CHECK(table.memoryBytes() >= chars * qsizetype(sizeof(char16_t)) + count * perRow);
    } catch (const RangeCheckError&) {
        FUZZ_CHECK(steps == 0);
        FUZZ_CHECK(TCustomerTable::ReadCountHeader(response).count < 0);
    } catch (const TilloraError& e) {
        FUZZ_CHECK(!e.message().isEmpty());
    } catch (...) {
        AbortOnForeignException();
    }
    return 0;
}
