#pragma once

// Byte loops of the list builders, sixteen bytes at a time where the
// machine allows it: finding the bytes that matter in a record, and
// widening one-byte characters to UTF-16.

#include <cstddef>

// TILLORA_PORTABLE_SCANNING (a CMake option) builds the plain loops on x86-64
// too, so that the path of every other processor is built and tested.
#if defined(__SSE2__) && !defined(TILLORA_PORTABLE_SCANNING)
#define TILLORA_SSE2_SCANNING
#include <emmintrin.h>
#endif

namespace byte_scanning {

// Which bytes a record scan stops at.
enum class Stop
{
    NonAscii,       // every byte from 0x80 on (UTF-8: terminators and all other characters)
    Terminators,    // the bytes 0xA9 and 0xAE ("©" and "®" in ISO-8859-1)
};

inline bool IsStop(unsigned char c, Stop stop)
{
    return stop == Stop::NonAscii ? c >= 0x80 : (c == 0xA9 || c == 0xAE);
}

#if defined(TILLORA_SSE2_SCANNING)
// Bit k set when byte k of the sixteen at `p` is one to stop at.
inline unsigned StopMask(const char* p, Stop stop)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (stop == Stop::NonAscii)
        return unsigned(_mm_movemask_epi8(bytes));
    const __m128i field = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(char(0xA9)));
    const __m128i record = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(char(0xAE)));
    return unsigned(_mm_movemask_epi8(_mm_or_si128(field, record)));
}
#endif

// Calls `at(p)` for each byte to stop at in [from, end), in order, until it
// returns a position to go on from (at least p + 1) or nullptr to stop.
// Returns where it stopped: the position `at` returned nullptr for, or end.
template <typename At>
const char* ForEachStop(const char* from, const char* end, Stop stop, At at)
{
    const char* p = from;
#if defined(TILLORA_SSE2_SCANNING)
    while (end - p >= 16) {
        unsigned mask = StopMask(p, stop);
        const char* blockEnd = p + 16;
        const char* next = blockEnd;
        while (mask != 0) {
            const char* hit = p + __builtin_ctz(mask);
            const char* resume = at(hit);
            if (!resume)
                return hit;
            if (resume >= blockEnd) {
                next = resume;
                break;
            }
            // Drop the bits before where the scan goes on.
            mask &= ~0u << unsigned(resume - p);
        }
        p = next;
    }
#endif
    while (p < end) {
        if (!IsStop(static_cast<unsigned char>(*p), stop)) {
            ++p;
            continue;
        }
        const char* resume = at(p);
        if (!resume)
            return p;
        p = resume;
    }
    return end;
}

// Writes each of `count` bytes as one UTF-16 unit (ISO-8859-1 to UTF-16).
inline void Widen(const char* in, std::size_t count, char16_t* out)
{
#if defined(TILLORA_SSE2_SCANNING)
    const __m128i zero = _mm_setzero_si128();
    if (count >= 16) {
        // Whole blocks, then one more that ends at the last byte and overlaps
        // the block before: nothing is read or written outside the field.
        const auto block = [&](std::size_t at) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + 8), _mm_unpackhi_epi8(bytes, zero));
        };
        for (std::size_t at = 0; at + 16 <= count; at += 16)
            block(at);
        if (count % 16 != 0)
            block(count - 16);
        return;
    }
    if (count >= 8) {
        const auto half = [&](std::size_t at) {
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_unpacklo_epi8(bytes, zero));
        };
        half(0);
        half(count - 8);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<unsigned char>(in[i]);
}

// Widens a field as Widen() does. One of at most sixteen bytes, when sixteen
// can be read from `in`, is widened as one block without a branch on its
// length: `out` must have room for sixteen characters, of which those after
// the field are left for what is written next.
inline void WidenField(const char* in, std::size_t count, [[maybe_unused]] const char* readableEnd,
                       char16_t* out)
{
#if defined(TILLORA_SSE2_SCANNING)
    if (count <= 16 && readableEnd - in >= 16) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
        return;
    }
#endif
    Widen(in, count, out);
}

} // namespace byte_scanning
