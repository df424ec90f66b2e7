#include "text_rows.h"

#include "memory_tuning.h"

#include <algorithm>
#include <limits>
#include <map>
#include <mutex>
#include <new>


namespace {

// Field ends are 32-bit offsets.
constexpr qsizetype MaxChars = qsizetype(std::numeric_limits<std::uint32_t>::max());
// The first buffer of a text of unknown length.
constexpr qsizetype FirstCapacity = 64 * 1024;
// Room a widened field may write beyond its end (see appendWidened()).
constexpr qsizetype WidenSlack = 16;

// A list is loaded again and again (every view and letter tab reloads it),
// and a fresh buffer costs a page fault per page on its first write, which
// on a virtual machine costs more than the whole download. So the buffers of
// a table replaced by one of about the same size are kept, one pair per kind
// of table, and the next table of that kind is built in them. They are not
// offered back to the kernel meanwhile: on a virtual machine that reclaims
// idle memory, such pages are gone within seconds and fault in again.
struct Spare
{
    QString chars;
    std::vector<std::uint32_t> ends;
};

std::mutex SpareMutex;
std::map<int, Spare> Spares; // by fields per row

// Below this a fresh buffer is cheap enough.
constexpr std::size_t WorthKeepingBytes = std::size_t(4) << 20;

} // namespace

TextRows& TextRows::operator=(TextRows&& other) noexcept
{
    if (this == &other)
        return *this;
    QString chars = std::exchange(m_chars, std::move(other.m_chars));
    std::vector<std::uint32_t> ends = std::exchange(m_ends, std::move(other.m_ends));
    m_fieldsPerRow = other.m_fieldsPerRow;
    m_buffer = std::exchange(other.m_buffer, nullptr);
    m_cut = std::exchange(other.m_cut, 0);
    m_read = std::exchange(other.m_read, 0);
    m_size = std::exchange(other.m_size, 0);
    m_announcedCapacity = std::exchange(other.m_announcedCapacity, 0);

    const std::size_t bytes = std::size_t(chars.capacity()) * sizeof(char16_t);
    // Kept only for a successor of about the same size: a list that shrank
    // gives its memory back.
    if (bytes < WorthKeepingBytes || chars.isDetached() == false ||
        chars.capacity() > 2 * std::max<qsizetype>(m_chars.capacity(), 1))
        return *this;
    const std::lock_guard lock(SpareMutex);
    Spare& spare = Spares[m_fieldsPerRow];
    spare.chars = std::move(chars);
    spare.ends = std::move(ends);
    return *this;
}

void TextRows::reserveRows(qsizetype rows)
{
    const std::size_t fields = std::size_t(rows) * m_fieldsPerRow;
    {
        const std::lock_guard lock(SpareMutex);
        std::vector<std::uint32_t>& spare = Spares[m_fieldsPerRow].ends;
        if (spare.capacity() >= fields && m_ends.capacity() < fields) {
            m_ends = std::move(spare);
            m_ends.clear();
        }
        spare = {};
    }
    if (m_ends.capacity() < fields) {
        m_ends.reserve(fields);
        AdviseHugePages(m_ends.data(), m_ends.capacity() * sizeof(std::uint32_t));
    }
}

void TextRows::reserveText(qsizetype chars)
{
    m_announcedCapacity = chars < 0 ? 0 : std::min(chars + WidenSlack, MaxChars);
    const qsizetype firstBlock = std::clamp<qsizetype>(
        chars < 0 ? FirstCapacity : std::min(chars, MostReservedChars) + WidenSlack, 1, MaxChars);
    bool reused = false;
    {
        const std::lock_guard lock(SpareMutex);
        QString& spare = Spares[m_fieldsPerRow].chars;
        reused = spare.capacity() >= firstBlock;
        if (reused)
            m_chars = std::move(spare);
        spare = QString(); // a spare too small is released before a new buffer is taken
    }
    m_cut = m_read = m_size = 0;
    if (reused) {
        setCapacity(m_chars.capacity());
        return;
    }
    m_chars = QString();
    // A fresh buffer takes the whole announced length at once: the kernel
    // hands out its pages only as the text arrives, so an announcement not
    // kept costs address space and no memory, and the text is neither
    // cleared nor copied again while the buffer doubles. A process short of
    // address space starts with the first block and grows.
    try {
        setCapacity(std::max(firstBlock, m_announcedCapacity));
    } catch (const std::bad_alloc&) {
        m_chars = QString();
        setCapacity(firstBlock);
    }
}

void TextRows::setCapacity(qsizetype capacity)
{
    m_chars.reserve(capacity);
    m_chars.resize(capacity); // written by the pieces; the rest is cut off by finish()
    m_buffer = reinterpret_cast<char16_t*>(m_chars.data());
    AdviseHugePages(m_buffer, std::size_t(capacity) * sizeof(char16_t));
}

bool TextRows::roomAfter(qsizetype used, qsizetype chars)
{
    if (chars <= m_chars.size() - used)
        return true;
    if (chars > MaxChars - used)
        return false;
    qsizetype capacity = std::min(MaxChars, std::max(m_chars.size() * 2, used + chars));
    if (used + chars <= m_announcedCapacity)
        capacity = std::min(capacity, m_announcedCapacity);
    // A new buffer, advised before the text moves into it so that the copy
    // too lands in huge pages; only what is used moves (a reallocation
    // would copy the whole old buffer, untouched room included).
    QString grown;
    grown.reserve(capacity);
    grown.resize(capacity);
    auto* to = reinterpret_cast<char16_t*>(grown.data());
    AdviseHugePages(to, std::size_t(capacity) * sizeof(char16_t));
    if (used > 0)
        std::memcpy(to, m_buffer, std::size_t(used) * sizeof(char16_t));
    m_chars = std::move(grown);
    m_buffer = to;
    return true;
}

bool TextRows::makeRoom(qsizetype chars)
{
    // First reuse the room of the text already cut away.
    if (chars > m_chars.size() - m_size && m_read > m_cut) {
        std::memmove(m_buffer + m_cut, m_buffer + m_read,
                     std::size_t(m_size - m_read) * sizeof(char16_t));
        m_size -= m_read - m_cut;
        m_read = m_cut;
    }
    return roomAfter(m_size, chars);
}

bool TextRows::makeFieldRoom(qsizetype chars)
{
    return roomAfter(m_cut, chars + WidenSlack);
}

void TextRows::finish()
{
    m_ends.resize(std::size_t(rowCount()) * m_fieldsPerRow);
    m_chars.truncate(m_ends.empty() ? 0 : m_ends.back());
    // The room the answer's text took is kept unless most of it went unused
    // (terminators, numbers and blanks are a fifth of a list, text after the
    // last record usually nothing), so that the buffer fits the next load
    // of the same list when it is reused.
    const auto wasteful = [](std::size_t size, std::size_t capacity) {
        return capacity - size > capacity / 2;
    };
    if (wasteful(m_ends.size(), m_ends.capacity()))
        m_ends.shrink_to_fit();
    // QString releases its spare capacity with realloc, which for a large
    // buffer shrinks the mapping in place instead of copying it.
    if (wasteful(std::size_t(m_chars.size()), std::size_t(m_chars.capacity())))
        m_chars.squeeze();
    m_buffer = nullptr;
    m_cut = m_read = m_size = 0;
}

qsizetype TextRows::memoryBytes() const
{
    return m_chars.capacity() * qsizetype(sizeof(char16_t)) +
           qsizetype(m_ends.capacity() * sizeof(std::uint32_t));
}
