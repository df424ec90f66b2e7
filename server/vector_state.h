#pragma once

// Some library code run while a Qt application starts leaves the upper halves
// of the AVX registers dirty. Until they are cleared, every SSE instruction
// (the string searches and copies of the parsers) pays a transition penalty:
// a list parse measured three times slower. The parsers clear them first.
inline void ClearUpperVectorState()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        asm volatile("vzeroupper");
#endif
}
