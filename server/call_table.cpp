#include "call_table.h"

#include "errors.h"
#include "list_cursor.h"
#include "text_basics.h"

namespace {

// The shortest possible record: two one-digit integers and 8 terminators.
constexpr qsizetype MinimalRecordLength = 2 + 7 + 1;

// Each field of a call record loses its leading blanks before it is cut.
QStringView TakeCallField(QStringView& record)
{
    record = Trim(record);
    return ListCursor::takeField(record);
}

} // namespace

// Blanks before the count are skipped; the records are cut as in the
// customer list, but without trimming the record as a whole.
TCallTable::Builder::Builder()
    : ListBuilder(m_table.m_text, MinimalRecordLength, /*leadingBlanksSkipped=*/true)
{
}

void TCallTable::Builder::reserveRows(qsizetype rows)
{
    m_table.m_callId.reserve(std::size_t(rows));
    m_table.m_callCustomerId.reserve(std::size_t(rows));
}

void TCallTable::Builder::cutRecord(QStringView record)
{
    // Converted before anything is stored, so that a failed record leaves
    // no row behind.
    const std::int32_t id = StrToInt(Trim(TakeCallField(record)));
    const std::int32_t customerId = StrToInt(Trim(TakeCallField(record)));
    m_table.m_callId.push_back(id);
    m_table.m_callCustomerId.push_back(customerId);
    for (int field = 0; field < TextColumnCount; ++field)
        m_table.m_text.append(TakeCallField(record));
}

void TCallTable::Builder::cutByteRecord(const ByteFields& fields)
{
    // Trimming what is left of the record before each field skips the
    // field's leading blanks.
    const std::int32_t id = StrToIntBytes(TrimBytes(fields.take(0)));
    const std::int32_t customerId = StrToIntBytes(TrimBytes(fields.take(1)));
    m_table.m_callId.push_back(id);
    m_table.m_callCustomerId.push_back(customerId);
    for (int field = 0; field < TextColumnCount; ++field)
        m_table.m_text.appendWidened(TrimLeftBytes(fields.take(2 + field)), fields.readableEnd());
}

TCallTable TCallTable::Builder::take()
{
    finishRows();
    m_table.m_callId.shrink_to_fit();
    m_table.m_callCustomerId.shrink_to_fit();
    return std::move(m_table);
}

TCallTable TCallTable::Parse(QStringView response)
{
    Builder builder;
    builder.begin(response.size());
    builder.feed(response);
    return builder.take();
}

std::vector<std::int32_t> TCallTable::RowsOfCustomer(std::int32_t customerId) const
{
    // A scan at each selection costs well under a millisecond for a million
    // calls, less than an index would cost to build at every load.
    std::vector<std::int32_t> rows;
    const std::int32_t* ids = m_callCustomerId.data();
    const std::size_t count = m_callCustomerId.size();
    constexpr std::size_t Block = 16;
    std::size_t at = 0;
    for (; at + Block <= count; at += Block) {
        bool any = false;
        for (std::size_t k = 0; k < Block; ++k)
            any |= ids[at + k] == customerId;
        if (!any)
            continue;
        for (std::size_t k = 0; k < Block; ++k)
            if (ids[at + k] == customerId)
                rows.push_back(std::int32_t(at + k));
    }
    for (; at < count; ++at)
        if (ids[at] == customerId)
            rows.push_back(std::int32_t(at));
    return rows;
}

qsizetype TCallTable::memoryBytes() const
{
    return qsizetype((m_callId.capacity() + m_callCustomerId.capacity()) * sizeof(std::int32_t)) +
           m_text.memoryBytes();
}
