#include "core/telemetry/FieldScan.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane3 {

namespace {

// Set in an ASCII letter's code, it gives the lower-case letter.
constexpr char kLowerCaseBit = 0x20;

}  // namespace

void FieldScanMasks(const char* p, std::size_t count, std::uint64_t& commas,
                    std::uint64_t& letters) {
    commas = 0;
    letters = 0;
#if defined(__SSE2__)
    // The last bytes of a line are copied out first: the block may not be read past them.
    alignas(16) char tail[kFieldScanBlock] = {};
    if (count < kFieldScanBlock) {
        std::memcpy(tail, p, count);
        p = tail;
    }
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i lower = _mm_set1_epi8(kLowerCaseBit);
    const __m128i e = _mm_set1_epi8('e');
    const __m128i pLetter = _mm_set1_epi8('p');
    for (std::size_t i = 0; i < kFieldScanBlock; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i folded = _mm_or_si128(bytes, lower);
        const auto c = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, comma)));
        const auto l = static_cast<std::uint32_t>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(folded, e), _mm_cmpeq_epi8(folded, pLetter))));
        commas |= std::uint64_t{c} << i;
        letters |= std::uint64_t{l} << i;
    }
#else
    for (std::size_t i = 0; i < count; ++i) {
        const char folded = static_cast<char>(p[i] | kLowerCaseBit);
        commas |= std::uint64_t{p[i] == ','} << i;
        letters |= std::uint64_t{folded == 'e' || folded == 'p'} << i;
    }
#endif
}

}  // namespace corvane3
