#include "list_builder.h"

#include "errors.h"
#include "list_cursor.h"
#include "text_basics.h"
#include "vector_state.h"

#include <algorithm>

namespace {

constexpr QStringView CountEnd = u"<br>";
// Rows reserved at first when the text's length is not known.
constexpr qsizetype UnknownLengthRows = 4096;

} // namespace

ListBuilder::ListBuilder(TextRows& rows, int minimalRecordLength, bool leadingBlanksSkipped)
    : m_rows(rows), m_minimalRecordLength(minimalRecordLength),
      m_leadingBlanksSkipped(leadingBlanksSkipped)
{
}

ListBuilder::ListBuilder(TextRows& rows, int minimalRecordLength, std::int32_t count)
    : m_rows(rows), m_minimalRecordLength(minimalRecordLength), m_leadingBlanksSkipped(false),
      m_phase(Phase::Records), m_count(count)
{
}

void ListBuilder::begin(std::int64_t expectedChars)
{
    if (m_begun)
        return;
    m_begun = true;
    m_expectedChars = expectedChars;
    ClearUpperVectorState();
    m_rows.reserveText(qsizetype(expectedChars));
    if (m_phase == Phase::Records)
        startRecords();
}

void ListBuilder::startRecords()
{
    if (m_count < 0) {
        fail(std::make_exception_ptr(RangeCheckError()));
        return;
    }
    if (m_count == 0) {
        m_phase = Phase::Done;
        return;
    }
    // Reserve for what the text can hold, not for what was announced.
    const qsizetype fit = m_expectedChars >= 0 ? qsizetype(m_expectedChars) / m_minimalRecordLength + 1
                                               : UnknownLengthRows;
    const qsizetype rows = std::min<qsizetype>(m_count, fit);
    reserveRows(rows);
    m_rows.reserveRows(rows);
}

char16_t* ListBuilder::room(qsizetype chars)
{
    begin(-1);
    m_roomDiscarded = m_phase == Phase::Done;
    if (!m_roomDiscarded && !m_rows.makeRoom(chars)) {
        fail(std::make_exception_ptr(
            TilloraError(QStringLiteral("The server's list is too large to load."))));
        m_roomDiscarded = true;
    }
    if (m_roomDiscarded) {
        m_discard.resize(std::max<std::size_t>(m_discard.size(), std::size_t(chars)));
        return m_discard.data();
    }
    return m_rows.room();
}

void ListBuilder::took(qsizetype chars)
{
    if (m_roomDiscarded)
        return;
    m_rows.took(chars);
    cutPending();
}

void ListBuilder::feed(QStringView text)
{
    char16_t* out = room(text.size());
    if (!text.isEmpty())
        std::memcpy(out, text.utf16(), std::size_t(text.size()) * sizeof(char16_t));
    took(text.size());
}

void ListBuilder::cutPending()
{
    if (m_phase == Phase::Count) {
        if (m_leadingBlanksSkipped) {
            const QStringView pending = m_rows.pending();
            const QStringView rest = TrimLeft(pending);
            m_rows.consume(pending.size() - rest.size());
            if (rest.isEmpty())
                return;
            m_leadingBlanksSkipped = false;
        }
        const QStringView pending = m_rows.pending();
        // The end mark may have begun in the piece before.
        const qsizetype end =
            pending.indexOf(CountEnd, std::max<qsizetype>(0, m_searched - (CountEnd.size() - 1)));
        if (end < 0) {
            m_searched = pending.size();
            return;
        }
        readCount(pending.first(end));
        m_rows.consume(end + CountEnd.size());
        m_searched = 0;
        if (m_phase == Phase::Records)
            startRecords();
    }
    while (m_phase == Phase::Records) {
        const QStringView pending = m_rows.pending();
        const qsizetype end = pending.indexOf(ListCursor::RecordTerminator, m_searched);
        if (end < 0) {
            m_searched = pending.size();
            return;
        }
        try {
            cutRecord(pending.first(end));
        } catch (...) {
            fail(std::current_exception());
            return;
        }
        m_rows.consume(end + 1);
        m_searched = 0;
        if (++m_cutRows == m_count)
            m_phase = Phase::Done;
    }
}

void ListBuilder::readCount(QStringView text)
{
    try {
        m_count = StrToInt(text);
        m_phase = Phase::Records;
    } catch (...) {
        m_countError = std::current_exception();
        m_phase = Phase::Done;
    }
}

void ListBuilder::fail(std::exception_ptr error)
{
    m_recordError = std::move(error);
    m_phase = Phase::Done;
}

void ListBuilder::endText()
{
    if (m_ended)
        return;
    m_ended = true;
    begin(-1);
    if (m_phase == Phase::Count)
        readCount({}); // no "<br>" anywhere: the count is the empty text
    if (m_phase == Phase::Records) {
        // A record is missing: cut as the empty text, which fails.
        try {
            cutRecord({});
        } catch (...) {
            fail(std::current_exception());
        }
    }
}

std::int32_t ListBuilder::count()
{
    endText();
    if (m_countError)
        std::rethrow_exception(m_countError);
    return m_count;
}

void ListBuilder::finishRows()
{
    count();
    if (m_recordError)
        std::rethrow_exception(m_recordError);
    m_rows.finish();
}
