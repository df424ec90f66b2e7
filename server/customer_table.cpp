#include "customer_table.h"

#include "errors.h"
#include "list_cursor.h"
#include "text_basics.h"
#include "vector_state.h"

namespace {

// The shortest possible record: two one-digit integers and 21 terminators.
constexpr qsizetype MinimalRecordLength = 2 + CustomerFieldCount + 1;

int TextIndex(CustomerField column)
{
    return int(column) - 1;
}

} // namespace

QString TCustomerTable::text(CustomerField column, std::int32_t row) const
{
    return m_text.at(row, TextIndex(column));
}

QStringView TCustomerTable::textView(CustomerField column, std::int32_t row) const
{
    return m_text.view(row, TextIndex(column));
}

CountHeader TCustomerTable::ReadCountHeader(QStringView response)
{
    const qsizetype br = response.indexOf(u"<br>");
    const QStringView countText = br < 0 ? QStringView() : response.first(br);
    const std::int32_t count = StrToInt(countText);
    return {count, br < 0 ? 0 : br + 4};
}

TCustomerTable TCustomerTable::ParseRecords(QStringView records, std::int32_t count,
                                            const RowStep& step)
{
    if (count < 0)
        throw RangeCheckError();

    ClearUpperVectorState();
    TCustomerTable table;
    // Reserve for what the text can hold, not for what was announced.
    const qsizetype rows = std::min<qsizetype>(count, records.size() / MinimalRecordLength + 1);
    table.m_id.reserve(std::size_t(rows));
    table.m_act.reserve(std::size_t(rows));
    table.m_text.reserve(rows, records.size());

    ListCursor cursor(records);
    for (std::int32_t row = 0; row < count; ++row) {
        QStringView record = Trim(cursor.takeRecord());

        table.m_id.push_back(StrToInt(Trim(ListCursor::takeField(record))));
        for (int field = 1; field < CustomerFieldCount - 1; ++field)
            table.m_text.append(ListCursor::takeField(record));
        const std::int32_t act = StrToInt(Trim(ListCursor::takeField(record)));
        table.m_act.push_back(act);

        if (step)
            step(table, row);
    }
    table.m_text.finish();
    table.m_id.shrink_to_fit();
    table.m_act.shrink_to_fit();
    return table;
}

TCustomerTable TCustomerTable::Parse(QStringView response, const RowStep& step)
{
    const CountHeader header = ReadCountHeader(response);
    return ParseRecords(response.sliced(header.recordsStart), header.count, step);
}

qsizetype TCustomerTable::memoryBytes() const
{
    return qsizetype((m_id.capacity() + m_act.capacity()) * sizeof(std::int32_t)) +
           m_text.memoryBytes();
}
