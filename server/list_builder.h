#pragma once

#include "answer_sink.h"
#include "text_rows.h"

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

    // Ends the text: raises the count's or the first failed record's
    // error, or else completes the rows.
    void finishRows();

private:
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
};
