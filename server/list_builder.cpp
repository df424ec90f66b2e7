#include "list_builder.h"

#include "byte_scanning.h"

#include "errors.h"
#include "list_cursor.h"
#include "text_basics.h"
#include "vector_state.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace {

constexpr QStringView CountEnd = u"<br>";
// The least of a piece added at once to the bytes that wait for the rest of
// their record.
constexpr qsizetype WaitingStep = 1024;
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
    // Reserve for what the text can hold, not for what was announced, and
    // for no more text than is reserved before it arrives.
    const qsizetype text = std::min(qsizetype(m_expectedChars), TextRows::MostReservedChars);
    const qsizetype fit = m_expectedChars >= 0 ? text / m_minimalRecordLength + 1 : UnknownLengthRows;
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

// ---- Taking raw bytes -------------------------------------------------------
//
// Why cutting before decoding gives the text decoding gives:
// - In UTF-8 the terminators "©" and "®" are the byte pairs C2 A9 and C2 AE.
//   C2 never continues a character, so these pairs always decode to the
//   terminators, and the terminators come from nothing else; ASCII bytes
//   (blanks, digits, "<br>") never belong to a longer character. Records and
//   fields are thus found in the bytes exactly where they are in the text.
// - After a terminator, or an ASCII byte, a decoder holds nothing back. A
//   record decoded with its own terminator therefore decodes as it does in
//   the whole body, and a field of ASCII bytes decodes to the same bytes
//   widened. Only the start of the body may drop a byte order mark.
// - In a set of one byte per character every byte is one character.

namespace {

constexpr char Utf8Lead = '\xC2';
constexpr char FieldEndByte = '\xA9';  // "©" in ISO-8859-1, and its second byte in UTF-8
constexpr char RecordEndByte = '\xAE'; // "®" likewise

bool IsBlankByte(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

// An integer field of one to nine digits is its decimal value, as StrToInt
// reads it; anything else goes to StrToInt itself.
bool ReadPlainDigits(QByteArrayView bytes, std::int32_t& value)
{
    if (bytes.isEmpty() || bytes.size() > 9)
        return false;
    std::int32_t v = 0;
    for (const char c : bytes) {
        const unsigned digit = unsigned(static_cast<unsigned char>(c)) - '0';
        if (digit > 9)
            return false;
        v = v * 10 + std::int32_t(digit);
    }
    value = v;
    return true;
}

// The first UTF-8 record terminator (C2 A9 is a field's, C2 AE a record's)
// of the record at `begin`, searching from `from`; nullptr when there is
// none. The pair may have begun just before `from`. C2 always begins a
// character, so C2 AE is always "®".
const char* FindUtf8RecordEnd(const char* begin, const char* from, const char* end)
{
    for (const char* p = from; p < end; ++p) {
        p = static_cast<const char*>(std::memchr(p, RecordEndByte, std::size_t(end - p)));
        if (!p)
            return nullptr;
        if (p > begin && p[-1] == Utf8Lead)
            return p - 1;
    }
    return nullptr;
}

} // namespace

QByteArrayView ListBuilder::TrimLeftBytes(QByteArrayView bytes)
{
    qsizetype start = 0;
    while (start < bytes.size() && IsBlankByte(bytes[start]))
        ++start;
    return bytes.sliced(start);
}

QByteArrayView ListBuilder::TrimBytes(QByteArrayView bytes)
{
    bytes = TrimLeftBytes(bytes);
    qsizetype end = bytes.size();
    while (end > 0 && IsBlankByte(bytes[end - 1]))
        --end;
    return bytes.first(end);
}

std::int32_t ListBuilder::StrToIntBytes(QByteArrayView bytes)
{
    std::int32_t value;
    if (ReadPlainDigits(bytes, value))
        return value;
    QVarLengthArray<char16_t, 32> text(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i)
        text[i] = static_cast<unsigned char>(bytes[i]);
    return StrToInt(QStringView(text.data(), text.size()));
}

bool ListBuilder::beginBytes(std::int64_t expectedBytes, ByteText text)
{
    if (m_begun)
        return false;
    m_takingBytes = true;
    m_byteText = text;
    // Never more characters than bytes.
    begin(expectedBytes);
    return true;
}

void ListBuilder::takeBytes(QByteArrayView bytes)
{
    if (m_phase == Phase::Done || bytes.isEmpty())
        return;
    qsizetype taken = 0;
    // What waits from the pieces before is completed from the front of this
    // one, a step at a time, until what is left to cut begins in this piece:
    // the rest is cut where it lies instead of being copied behind it. The
    // steps grow with what waits, so a record of any length costs linear
    // time.
    while (!m_waiting.isEmpty() && taken < bytes.size()) {
        const qsizetype step = std::min(bytes.size() - taken,
                                        std::max<qsizetype>(m_waiting.size(), WaitingStep));
        m_waiting.append(bytes.sliced(taken, step));
        taken += step;
        const qsizetype cut = cutBytes(m_waiting);
        if (m_phase == Phase::Done) {
            m_waiting = QByteArray();
            return;
        }
        const qsizetype left = m_waiting.size() - cut;
        if (left <= step) {
            taken -= left;
            m_waiting.resize(0);
        } else {
            m_waiting.remove(0, cut);
        }
    }
    if (taken == bytes.size())
        return;
    const QByteArrayView rest = bytes.sliced(taken);
    const qsizetype cut = cutBytes(rest);
    if (m_phase != Phase::Done)
        m_waiting.append(rest.sliced(cut));
}

// Cuts what the bytes complete; returns how many bytes are done with. The
// rest waits for the next piece, with m_searched telling how much of it
// was already searched.
qsizetype ListBuilder::cutBytes(QByteArrayView bytes)
{
    const bool utf8 = m_byteText == ByteText::Utf8;
    qsizetype done = 0;
    if (m_phase == Phase::Count) {
        const qsizetype end =
            bytes.indexOf(QByteArrayView("<br>"), std::max<qsizetype>(0, m_searched - 3));
        if (end < 0) {
            m_searched = bytes.size();
            return 0;
        }
        // Decoded with the mark, after which nothing is held back.
        const QByteArrayView head = bytes.first(end + 4);
        const QString text = utf8 ? m_firstDecoder.decode(head) : QString::fromLatin1(head);
        const QStringView count = QStringView(text).chopped(4);
        readCount(m_leadingBlanksSkipped ? TrimLeft(count) : count);
        done = end + 4;
        m_searched = 0;
        if (m_phase == Phase::Records)
            startRecords();
    }
    while (m_phase == Phase::Records) {
        const QByteArrayView rest = bytes.sliced(done);
        const qsizetype end = scanRecord(rest);
        if (end < 0)
            return done;
        try {
            cutRecordBytes(rest.first(end));
        } catch (...) {
            fail(std::current_exception());
            return bytes.size();
        }
        done += end + (utf8 ? 2 : 1);
        m_searched = 0;
        m_fieldEndCount = 0;
        m_recordPlain = true;
        if (++m_cutRows == m_count)
            m_phase = Phase::Done;
    }
    return bytes.size();
}

// Scans a record from where the last piece left off: notes where its
// fields end and whether any byte other than the terminators is outside
// ASCII. Returns where its terminator begins, or -1 when the bytes end
// first (a terminator's first byte at the very end waits for the second).
qsizetype ListBuilder::scanRecord(QByteArrayView record)
{
    using namespace byte_scanning;
    const char* begin = record.data();
    const char* end = begin + record.size();
    const char* recordEnd = nullptr;
    const char* waitFrom = end;
    const auto fieldEnd = [&](const char* at) {
        if (m_fieldEndCount < MaxByteFields)
            m_fieldEnds[m_fieldEndCount++] = at - begin;
    };
    if (m_byteText == ByteText::Latin1) {
        ForEachStop(begin + m_searched, end, Stop::Terminators, [&](const char* at) -> const char* {
            if (*at == RecordEndByte) {
                recordEnd = at;
                return nullptr;
            }
            fieldEnd(at);
            return at + 1;
        });
    } else {
        const char* from = begin + m_searched;
        if (m_recordPlain) {
            const char* stop = ForEachStop(from, end, Stop::NonAscii, [&](const char* at) -> const char* {
                if (*at == Utf8Lead) {
                    if (at + 1 == end) {
                        waitFrom = at;
                        return nullptr;
                    }
                    if (at[1] == FieldEndByte) {
                        fieldEnd(at);
                        return at + 2;
                    }
                    if (at[1] == RecordEndByte) {
                        recordEnd = at;
                        return nullptr;
                    }
                }
                m_recordPlain = false;
                return nullptr;
            });
            from = recordEnd || m_recordPlain ? nullptr : stop + 1;
        }
        // A record that is to be decoded whole needs only its end, which a
        // byte search finds faster than a stop at every byte outside ASCII.
        if (from)
            recordEnd = FindUtf8RecordEnd(begin, from, end);
    }
    if (recordEnd)
        return recordEnd - begin;
    m_searched = waitFrom - begin;
    return -1;
}

void ListBuilder::cutRecordBytes(QByteArrayView record)
{
    if (!m_rows.makeFieldRoom(record.size()))
        throw TilloraError(QStringLiteral("The server's list is too large to load."));
    if (!m_recordPlain) {
        // Only UTF-8 records other than ASCII and terminators come here:
        // decoded whole, with their terminator, and cut as text.
        const QString text = m_laterDecoder.decode(
            QByteArrayView(record.data(), record.size() + 2));
        cutRecord(QStringView(text).chopped(1));
        return;
    }
    const ByteFields fields(record, m_fieldEnds, m_fieldEndCount,
                            m_byteText == ByteText::Utf8 ? 2 : 1);
    cutByteRecord(fields);
}
