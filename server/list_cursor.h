#pragma once

#include "text_basics.h"

#include <QStringView>

// Walks a list response from the front, record by record, without copying:
// the same cuts as removing each record from the front of the text, in
// linear time.
class ListCursor
{
public:
    explicit ListCursor(QStringView text) : m_rest(text) {}

    // The text before the next record terminator, which is consumed with it;
    // empty (and nothing consumed) when no terminator is left. Leading blanks
    // of what follows are skipped.
    QStringView takeRecord()
    {
        const qsizetype end = m_rest.indexOf(RecordTerminator);
        if (end < 0)
            return {};
        const QStringView record = m_rest.first(end);
        m_rest = TrimLeft(m_rest.sliced(end + 1));
        return record;
    }

    static constexpr QChar FieldTerminator = QChar(0x00A9);  // ©
    static constexpr QChar RecordTerminator = QChar(0x00AE); // ®

    // Cuts the next field off the front of a record: the text before the next
    // field terminator. When none is left, the field is empty and the record
    // stays as it is.
    static QStringView takeField(QStringView& record)
    {
        // Fields are short: a plain loop beats setting up a vector search.
        const char16_t* begin = record.utf16();
        const char16_t* end = begin + record.size();
        for (const char16_t* p = begin; p != end; ++p) {
            if (*p == FieldTerminator.unicode()) {
                const QStringView field(begin, p);
                record = QStringView(p + 1, end);
                return field;
            }
        }
        return {};
    }

private:
    QStringView m_rest;
};
