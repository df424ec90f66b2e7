// The call list parser on arbitrary UTF-8 responses, cut whole and cut
// while the bytes arrive in pieces (both must give the same).
//
// After a successful parse: the table holds exactly the count before the
// first "<br>" of the trimmed response, every row is present in every column
// (accesses are bounds-checked in this build), no text field holds a
// terminator or starts with a blank, the fields fit in the response, and the
// reported memory covers them. A failure is a TilloraError; a RangeCheckError
// only for a negative count.

#include "call_table.h"
#include "errors.h"
#include "fuzz_support.h"
#include "list_cursor.h"
#include "text_basics.h"


namespace {

std::int32_t AnnouncedCount(QStringView response)
{
    const QStringView text = Trim(response);
    const qsizetype br = text.indexOf(u"<br>");
    FUZZ_CHECK(br >= 0);
    return StrToInt(text.first(br));
}

void CheckField(const QString& field)
{
    FUZZ_CHECK(!field.contains(ListCursor::FieldTerminator));
    FUZZ_CHECK(!field.contains(ListCursor::RecordTerminator));
    FUZZ_CHECK(field.isEmpty() || !IsBlank(field.front()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString response = Utf8Text(data, size);

    // Cut while it arrives, the answer gives what it gives cut whole.
    TCallTable::Builder whole, streamed, cutFirst;
    whole.feed(response);
    StreamUtf8(Bytes(data, size), streamed);
    StreamUtf8Bytes(Bytes(data, size), cutFirst);
    const QString outcome = ListOutcome(whole);
    FUZZ_CHECK(outcome == ListOutcome(streamed));
    FUZZ_CHECK(outcome == ListOutcome(cutFirst));

    try {
        const TCallTable table = TCallTable::Parse(response);

        const std::int32_t count = table.CallCount();
        FUZZ_CHECK(count == AnnouncedCount(response));
        qsizetype chars = 0;
        for (std::int32_t row = 0; row < count; ++row) {
            (void)table.CallID(row);
            (void)table.CallCustomerID(row);
            for (const QString& field :
                 {table.CallTag1(row), table.CallTag2(row), table.CallDate(row),
                  table.CallTime(row), table.CallText(row)}) {
                CheckField(field);
                chars += field.size();
            }
        }
        FUZZ_CHECK(chars <= response.size());
        const qsizetype perRow =
            2 * sizeof(std::int32_t) + TCallTable::TextColumnCount * sizeof(std::uint32_t);
        FUZZ_CHECK(table.memoryBytes() >= chars * qsizetype(sizeof(char16_t)) + count * perRow);
    } catch (const RangeCheckError&) {
        FUZZ_CHECK(AnnouncedCount(response) < 0);
    } catch (const TilloraError& e) {
        FUZZ_CHECK(!e.message().isEmpty());
    } catch (...) {
        AbortOnForeignException();
    }
    return 0;
}
