#include "call_table.h"

#include "errors.h"
#include "list_cursor.h"
#include "text_basics.h"
#include "vector_state.h"

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

TCallTable TCallTable::Parse(QStringView response)
{
    const QStringView text = Trim(response);
    const qsizetype br = text.indexOf(u"<br>");
    const std::int32_t count = StrToInt(br < 0 ? QStringView() : text.first(br));
    if (count < 0)
        throw RangeCheckError();
    const QStringView records = text.sliced(br + 4);

    ClearUpperVectorState();
    TCallTable table;
    const qsizetype rows = std::min<qsizetype>(count, records.size() / MinimalRecordLength + 1);
    table.m_callId.reserve(std::size_t(rows));
    table.m_callCustomerId.reserve(std::size_t(rows));
    table.m_text.reserve(rows, records.size());

    ListCursor cursor(records);
    for (std::int32_t row = 0; row < count; ++row) {
        QStringView record = cursor.takeRecord();
        table.m_callId.push_back(StrToInt(Trim(TakeCallField(record))));
        table.m_callCustomerId.push_back(StrToInt(Trim(TakeCallField(record))));
        for (int field = 0; field < TextColumnCount; ++field)
            table.m_text.append(TakeCallField(record));
    }
    table.m_text.finish();
    table.m_callId.shrink_to_fit();
    table.m_callCustomerId.shrink_to_fit();
    return table;
}

qsizetype TCallTable::memoryBytes() const
{
    return qsizetype((m_callId.capacity() + m_callCustomerId.capacity()) * sizeof(std::int32_t)) +
           m_text.memoryBytes();
}
