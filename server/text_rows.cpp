#include "text_rows.h"

#include "errors.h"

#include <limits>

void TextRows::reserve(qsizetype rows, qsizetype chars)
{
    const qsizetype maxChars = std::numeric_limits<std::uint32_t>::max();
    m_ends.reserve(std::size_t(rows) * m_fieldsPerRow);
    m_chars.reserve(std::size_t(std::min(chars, maxChars)));
}

void TextRows::append(QStringView field)
{
    if (m_chars.size() + std::size_t(field.size()) > std::numeric_limits<std::uint32_t>::max())
        throw TilloraError(QStringLiteral("The server's list is too large to load."));
    m_chars.insert(m_chars.end(), field.utf16(), field.utf16() + field.size());
    m_ends.push_back(std::uint32_t(m_chars.size()));
}

void TextRows::finish()
{
    m_ends.resize(std::size_t(rowCount()) * m_fieldsPerRow);
    m_chars.resize(m_ends.empty() ? 0 : m_ends.back());
    m_ends.shrink_to_fit();
    m_chars.shrink_to_fit();
}

qsizetype TextRows::memoryBytes() const
{
    return qsizetype(m_chars.capacity() * sizeof(char16_t) +
                     m_ends.capacity() * sizeof(std::uint32_t));
}
