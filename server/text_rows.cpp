#include "text_rows.h"

#include "errors.h"

#include <limits>

void TextRows::reserve(qsizetype rows, qsizetype chars)
{
    // Field ends are 32-bit offsets.
    if (chars > qsizetype(std::numeric_limits<std::uint32_t>::max()))
        throw TilloraError(QStringLiteral("The server's list is too large to load."));
    m_ends.reserve(std::size_t(rows) * m_fieldsPerRow);
    m_chars.resize(chars); // filled by append(); the rest is cut off by finish()
    m_begin = reinterpret_cast<char16_t*>(m_chars.data());
    m_write = m_begin;
}

void TextRows::finish()
{
    m_ends.resize(std::size_t(rowCount()) * m_fieldsPerRow);
    m_chars.truncate(m_ends.empty() ? 0 : m_ends.back());
    m_ends.shrink_to_fit();
    // QString releases its spare capacity with realloc, which for a large
    // buffer shrinks the mapping in place instead of copying it.
    m_chars.squeeze();
    m_begin = m_write = nullptr;
}

qsizetype TextRows::memoryBytes() const
{
    return m_chars.capacity() * qsizetype(sizeof(char16_t)) +
           qsizetype(m_ends.capacity() * sizeof(std::uint32_t));
}
