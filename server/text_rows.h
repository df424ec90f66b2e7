#pragma once

#include "byte_scanning.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// The text fields of a table, row after row, in one shared UTF-16 buffer.
// One heap string per field would cost more than the text itself; here a
// field costs its characters plus one 32-bit end offset.
//
// While a table is built, the same buffer also holds the text still to be
// cut, behind the fields cut so far: pieces of an answer are written at its
// end as they arrive, and each field cut from them moves down to the end of
// the fields before it. The answer's text is thus never held twice.
class TextRows
{
public:
    explicit TextRows(int fieldsPerRow) : m_fieldsPerRow(fieldsPerRow) {}
    TextRows(const TextRows&) = default;
    TextRows& operator=(const TextRows&) = default;
    TextRows(TextRows&&) noexcept = default;
    // The buffers of the rows replaced are kept for the next table built,
    // when that table is of about the same size (see text_rows.cpp).
    TextRows& operator=(TextRows&& other) noexcept;

    int fieldsPerRow() const { return m_fieldsPerRow; }
    qsizetype rowCount() const { return qsizetype(m_ends.size()) / m_fieldsPerRow; }

    QStringView view(qsizetype row, int field) const
    {
        const std::size_t index = std::size_t(row) * m_fieldsPerRow + field;
        const std::uint32_t begin = index == 0 ? 0 : m_ends[index - 1];
        return QStringView(m_chars).sliced(begin, m_ends[index] - begin);
    }
    QString at(qsizetype row, int field) const { return view(row, field).toString(); }
    // Every field, end to end.
    QStringView allText() const { return m_chars; }
    // The field that holds the character at `offset` of allText(), as
    // row * fieldsPerRow() + field, and where that field ends.
    struct Place
    {
        qsizetype index;
        qsizetype end;
    };
    Place placeOf(qsizetype offset) const
    {
        const auto it = std::upper_bound(m_ends.begin(), m_ends.end(), std::uint32_t(offset));
        return {qsizetype(it - m_ends.begin()), it == m_ends.end() ? 0 : qsizetype(*it)};
    }

    // Building. `chars` bounds the text to come when known (else -1), and
    // `rows` estimates its rows; both only size the first allocations.
    void reserveText(qsizetype chars);
    // The most text reserved before any arrives when the announced length
    // cannot be reserved whole or a kept buffer is reused (64 MiB): an
    // announcement is no promise, and the buffer grows as the text comes.
    static constexpr qsizetype MostReservedChars = qsizetype(32) << 20;
    void reserveRows(qsizetype rows);
    // Room for `chars` more characters of text to cut; false when the
    // table's text would outgrow its 32-bit offsets.
    bool makeRoom(qsizetype chars);
    char16_t* room() { return m_buffer + m_size; }
    void took(qsizetype chars) { m_size += chars; }
    // The text not cut yet.
    QStringView pending() const { return QStringView(m_buffer + m_read, m_size - m_read); }
    // The first `chars` characters of pending() are done with.
    void consume(qsizetype chars) { m_read += chars; }
    // Appends the next field, a piece of pending(); fields fill a row before
    // the next row starts. Nothing of pending() before the field's end may
    // be read afterwards.
    void append(QStringView field)
    {
        if (!field.isEmpty()) {
            std::memmove(m_buffer + m_cut, field.utf16(),
                         std::size_t(field.size()) * sizeof(char16_t));
            m_cut += field.size();
        }
        m_ends.push_back(std::uint32_t(m_cut));
    }
    // Building from bytes that are cut before they are decoded: room for
    // `chars` more characters of fields (false as for makeRoom()), and a
    // field of bytes that are one character each (ASCII, ISO-8859-1), which
    // may be read on up to `readableEnd`.
    bool makeFieldRoom(qsizetype chars);
    void appendWidened(QByteArrayView field, const char* readableEnd)
    {
        byte_scanning::WidenField(field.data(), std::size_t(field.size()), readableEnd,
                                  m_buffer + m_cut);
        m_cut += field.size();
        m_ends.push_back(std::uint32_t(m_cut));
    }
    // Drops a row left incomplete, the text not cut, and unused capacity.
    void finish();

    // Heap bytes held, counted by capacity.
    qsizetype memoryBytes() const;

private:
    // Makes the buffer `capacity` characters long, keeping what it holds.
    void setCapacity(qsizetype capacity);
    // Room for `chars` more characters after the first `used` ones.
    bool roomAfter(qsizetype used, qsizetype chars);

    int m_fieldsPerRow;
    QString m_chars;
    std::vector<std::uint32_t> m_ends;
    // While building: the buffer of m_chars, the end of the fields cut so
    // far, the start of the text still to cut, and the end of that text.
    char16_t* m_buffer = nullptr;
    qsizetype m_cut = 0;
    qsizetype m_read = 0;
    qsizetype m_size = 0;
    // The buffer's size when the announced text has arrived whole: growth
    // stops there rather than doubling past it. 0 when none was announced.
    qsizetype m_announcedCapacity = 0;
};
