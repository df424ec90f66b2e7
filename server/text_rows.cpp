#include "text_rows.h"

#include "errors.h"

#include <limits>

void TextRows::reserve(qsizetype rows, qsizetype chars)
{
    const qsizetype maxChars = std::numeric_limits<std::uint32_t>::max();
    m_ends.reserve(std::size_t(rows) * m_fieldsPerRow);
    m_chars.reserve(std::min(chars, maxChars));
}

void TextRows::append(QStringView field)
{
    if (std::size_t(m_chars.size() + field.size()) > std::numeric_limits<std::uint32_t>::max())
        throw TilloraError(QStringLiteral("The server's list is too large to load."));
    m_chars.append(field);
    m_ends.push_back(std::uint32_t(m_chars.size()));
}

void TextRows::finish()
{
    m_ends.resize(std::size_t(rowCount()) * m_fieldsPerRow);
    m_chars.truncate(m_ends.empty() ? 0 : m_ends.back());
    m_ends.shrink_to_fit();
    // QString releases its spare capacity with realloc, which for a large
    // buffer shrinks the mapping in place instead of copying it.
    m_chars.squeeze();
}

qsizetype TextRows::memoryBytes() const
{
    return m_chars.capacity() * qsizetype(sizeof(char16_t)) +
           qsizetype(m_ends.capacity() * sizeof(std::uint32_t));
}
