#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <cstring>
#include <vector>

// The text fields of a table, row after row, in one shared UTF-16 buffer.
// One heap string per field would cost more than the text itself; here a
// field costs its characters plus one 32-bit end offset.
class TextRows
{
public:
    explicit TextRows(int fieldsPerRow) : m_fieldsPerRow(fieldsPerRow) {}

    int fieldsPerRow() const { return m_fieldsPerRow; }
    qsizetype rowCount() const { return qsizetype(m_ends.size()) / m_fieldsPerRow; }

    QStringView view(qsizetype row, int field) const
    {
        const std::size_t index = std::size_t(row) * m_fieldsPerRow + field;
        const std::uint32_t begin = index == 0 ? 0 : m_ends[index - 1];
        return QStringView(m_chars).sliced(begin, m_ends[index] - begin);
    }
    QString at(qsizetype row, int field) const { return view(row, field).toString(); }

    // Makes room for what is to come: `rows` is an estimate, `chars` the
    // length of the text the fields are cut from, which bounds their total.
    // Both come from the text being parsed, never from an announced count.
    void reserve(qsizetype rows, qsizetype chars);
    // Appends the next field; fields fill a row before the next row starts.
    // The fields appended since reserve() must be disjoint pieces of the
    // text whose length was given there.
    void append(QStringView field)
    {
        if (!field.isEmpty()) {
            std::memcpy(m_write, field.utf16(), std::size_t(field.size()) * sizeof(char16_t));
            m_write += field.size();
        }
        m_ends.push_back(std::uint32_t(m_write - m_begin));
    }
    // Drops a row left incomplete and releases unused capacity.
    void finish();

    // Heap bytes held, counted by capacity.
    qsizetype memoryBytes() const;

private:
    int m_fieldsPerRow;
    QString m_chars;
    std::vector<std::uint32_t> m_ends;
    // While building: where the next field's characters go.
    char16_t* m_begin = nullptr;
    char16_t* m_write = nullptr;
};
