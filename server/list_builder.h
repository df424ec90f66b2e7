#pragma once

#include "answer_sink.h"
#include "text_rows.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QStringView>

#include <cstdint>
#include <exception>
#include <vector>

// Cuts a list answer into a table while its text arrives: the count, "<br>",
// then records that each end with "®". Gives the same table, and fails with
// the same error, as cutting the whole text at once: the count is read from
// the text before the first "<br>", the records after it are cut one by one
// until the count is reached, and the text after the last of them is
// ignored (and not kept).
//
// Errors are kept, not raised, while the text arrives: count() raises the
// count's error and table-taking the first record's, each at the point the
// caller would have met it reading the whole answer.
class ListBuilder : public AnswerSink
{
public:
    void begin(std::int64_t expectedChars) override;
    char16_t* room(qsizetype chars) override;
    void took(qsizetype chars) override;

    // Raw bytes, cut first and decoded field by field: most records are
    // ASCII between their terminators and are only widened; any other
    // record is decoded whole, terminator included, which gives exactly
    // the text decoding the whole body gives (see list_builder.cpp).
    bool beginBytes(std::int64_t expectedBytes, ByteText text) override;
    void takeBytes(QByteArrayView bytes) override;

    // A whole text at once, as if it had arrived in one piece.
    void feed(QStringView text);

    // The announced count. Raises ConversionError when the text before the
    // first "<br>" is not an integer or there is no "<br>".
    std::int32_t count();

protected:
    // `leadingBlanksSkipped`: blanks before the count are dropped first.
    ListBuilder(TextRows& rows, int minimalRecordLength, bool leadingBlanksSkipped);
    // For the records alone, after a count already read.
    ListBuilder(TextRows& rows, int minimalRecordLength, std::int32_t count);
    ~ListBuilder() override = default;

    // Makes room for the integer columns of about `rows` rows.
    virtual void reserveRows(qsizetype rows) = 0;
    // Cuts one record, the text before its "®", into the next row; raises
    // the record's conversion error.
    virtual void cutRecord(QStringView record) = 0;

    // The fields of a record whose bytes are one character each, as cut at
    // its first terminators (at most MaxByteFields, enough for every field
    // of either list).
    static constexpr int MaxByteFields = 22;
    class ByteFields
    {
    public:
        ByteFields(QByteArrayView record, const qsizetype* ends, int terminators,
                   qsizetype terminatorBytes)
            : m_record(record), m_ends(ends), m_terminators(terminators),
              m_terminatorBytes(terminatorBytes)
        {
        }
        // The field cutRecord() would take k-th: empty after the last
        // terminator (and then at the record's end, so that it too lies
        // before readableEnd()).
        QByteArrayView take(int k) const
        {
            if (k >= m_terminators)
                return m_record.sliced(m_record.size());
            const qsizetype start = k == 0 ? 0 : m_ends[k - 1] + m_terminatorBytes;
            return m_record.sliced(start, m_ends[k] - start);
        }
        // How far the record's bytes may be read: to the end of its
        // terminator.
        const char* readableEnd() const { return m_record.data() + m_record.size() + m_terminatorBytes; }

    private:
        QByteArrayView m_record;
        const qsizetype* m_ends; // where field k's terminator begins
        int m_terminators;
        qsizetype m_terminatorBytes;
    };
    // Cuts such a record into the next row exactly as cutRecord() cuts its
    // text; raises the record's conversion error.
    virtual void cutByteRecord(const ByteFields& fields) = 0;
    // Helpers for it: blanks trimmed at both ends, and an integer field
    // converted by StrToInt.
    static QByteArrayView TrimBytes(QByteArrayView bytes);
    static QByteArrayView TrimLeftBytes(QByteArrayView bytes);
    static std::int32_t StrToIntBytes(QByteArrayView bytes);

    // Ends the text: raises the count's or the first failed record's
    // error, or else completes the rows.
    void finishRows();

private:
    qsizetype cutBytes(QByteArrayView bytes);
    qsizetype scanRecord(QByteArrayView record);
    void cutRecordBytes(QByteArrayView record);
    void startRecords();
    void endText();
    void cutPending();
    void readCount(QStringView text);
    void fail(std::exception_ptr error);

    enum class Phase
    {
        Count,
        Records,
        Done
    };

    TextRows& m_rows;
    int m_minimalRecordLength;
    bool m_leadingBlanksSkipped;
    bool m_begun = false;
    bool m_ended = false;
    bool m_roomDiscarded = false;
    Phase m_phase = Phase::Count;
    std::int64_t m_expectedChars = -1;
    std::int32_t m_count = 0;
    std::int32_t m_cutRows = 0;
    // Characters of pending text already searched for the next terminator.
    qsizetype m_searched = 0;
    std::exception_ptr m_countError;
    std::exception_ptr m_recordError;
    // Where the text goes once nothing more of it is needed.
    std::vector<char16_t> m_discard;
    // Taking bytes: their set, what waits for the rest of its record, and
    // the decoders of the body's start and of what comes later.
    bool m_takingBytes = false;
    ByteText m_byteText = ByteText::Utf8;
    QByteArray m_waiting;
    // The record being scanned: where its first fields end, from its start,
    // and whether it holds nothing but ASCII and terminators so far.
    qsizetype m_fieldEnds[MaxByteFields] = {};
    int m_fieldEndCount = 0;
    bool m_recordPlain = true;
    QStringDecoder m_firstDecoder{QStringConverter::Utf8, QStringDecoder::Flag::Stateless};
    QStringDecoder m_laterDecoder{QStringConverter::Utf8, QStringDecoder::Flag::Stateless |
                                                              QStringDecoder::Flag::ConvertInitialBom};
};
