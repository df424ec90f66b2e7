#include "customer_table.h"

#include "errors.h"
#include "list_cursor.h"
#include "text_basics.h"

#include <atomic>

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

CountHeader TCustomerTable::ReadCountHeader(QStringView response)
{
    const qsizetype br = response.indexOf(u"<br>");
    const QStringView countText = br < 0 ? QStringView() : response.first(br);
    const std::int32_t count = StrToInt(countText);
    return {count, br < 0 ? 0 : br + 4};
}

TCustomerTable::Builder::Builder(RowStep step)
    : ListBuilder(m_table.m_text, MinimalRecordLength, /*leadingBlanksSkipped=*/false),
      m_step(std::move(step))
{
}

TCustomerTable::Builder::Builder(std::int32_t count, RowStep step)
    : ListBuilder(m_table.m_text, MinimalRecordLength, count), m_step(std::move(step))
{
}

void TCustomerTable::Builder::reserveRows(qsizetype rows)
{
    m_table.m_id.reserve(std::size_t(rows));
    m_table.m_act.reserve(std::size_t(rows));
}

void TCustomerTable::Builder::cutRecord(QStringView text)
{
    QStringView record = Trim(text);
    // Converted before anything is stored, so that a failed record leaves
    // no row behind.
    const std::int32_t id = StrToInt(Trim(ListCursor::takeField(record)));
    QStringView fields[CustomerFieldCount - 2];
    for (QStringView& field : fields)
        field = ListCursor::takeField(record);
    const std::int32_t act = StrToInt(Trim(ListCursor::takeField(record)));
    m_table.m_id.push_back(id);
    for (const QStringView field : fields)
        m_table.m_text.append(field);
    m_table.m_act.push_back(act);
    if (m_step)
        m_step(m_table, m_table.CustomerCount() - 1);
}

void TCustomerTable::Builder::cutByteRecord(const ByteFields& fields)
{
    // Trimming the record first changes only the identifier's leading
    // blanks, which its own trim removes, and the text after the last field.
    const std::int32_t id = StrToIntBytes(TrimBytes(fields.take(0)));
    const std::int32_t act = StrToIntBytes(TrimBytes(fields.take(CustomerFieldCount - 1)));
    m_table.m_id.push_back(id);
    for (int field = 1; field < CustomerFieldCount - 1; ++field)
        m_table.m_text.appendWidened(fields.take(field), fields.readableEnd());
    m_table.m_act.push_back(act);
    if (m_step)
        m_step(m_table, m_table.CustomerCount() - 1);
}

TCustomerTable TCustomerTable::Builder::take()
{
    finishRows();
    static std::atomic<std::uint64_t> lastGeneration{0};
    m_table.m_generation = ++lastGeneration;
    m_table.m_id.shrink_to_fit();
    m_table.m_act.shrink_to_fit();
    return std::move(m_table);
}

TCustomerTable TCustomerTable::ParseRecords(QStringView records, std::int32_t count,
                                            const RowStep& step)
{
    Builder builder(count, step);
    builder.begin(records.size());
    builder.feed(records);
    return builder.take();
}

TCustomerTable TCustomerTable::Parse(QStringView response, const RowStep& step)
{
    Builder builder(step);
    builder.begin(response.size());
    builder.feed(response);
    return builder.take();
}

qsizetype TCustomerTable::memoryBytes() const
{
    return qsizetype((m_id.capacity() + m_act.capacity()) * sizeof(std::int32_t)) +
           m_text.memoryBytes();
}
