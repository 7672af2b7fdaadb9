// The area table's rows of 8-bit and 16-bit worlds made on AVX2 lanes, built
// for x86-64-v3 where the build asks for it; run only where the processor
// has it (AreaTableRows.cpp chooses). The same integers as the one-channel
// loop: a row of a large world's table is made while the samplers wait.
#include "headless/images/AreaTableRows.h"

#if defined(VELTRIX_AREA_BOX_V3)
#include <immintrin.h>

#include <cstring>

namespace headless {
namespace area_rows_v3 {
namespace {

// Alpha, then each colour times alpha, of a pixel whose four channels
// (alpha, red, green, blue) are in the 32-bit lanes of `argb`: below 2^32, so
// the low 32 bits of each product are all of it, widened to 64 bits.
inline __m256i premultiplied(__m128i argb) {
    const __m128i scale = _mm_blend_epi32(_mm_shuffle_epi32(argb, 0), _mm_set1_epi32(1), 1); // 1, a, a, a
    return _mm256_cvtepu32_epi64(_mm_mullo_epi32(argb, scale));
}
inline __m128i channels(const PF_Pixel &p) {
    std::uint32_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(bits)));
}
inline __m128i channels(const PF_Pixel16 &p) {
    std::uint64_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    return _mm_cvtepu16_epi32(_mm_cvtsi64_si128(static_cast<long long>(bits)));
}

// Row y + 1 from row y (`above`) and pixel row `pixels`, into `out`, which
// may be `above`: each entry is read before it is written.
template <class P> void addRow(const P *pixels, A_long width, const std::uint64_t *above, std::uint64_t *out) {
    auto load = [](const std::uint64_t *at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at)); };
    auto store = [](std::uint64_t *at, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(at), v); };
    store(out, load(above));
    __m256i run = _mm256_setzero_si256();
    for (A_long x = 0; x < width; ++x) {
        run = _mm256_add_epi64(run, premultiplied(channels(pixels[x])));
        const std::size_t at = (static_cast<std::size_t>(x) + 1) * kAreaSums;
        store(out + at, _mm256_add_epi64(load(above + at), run));
    }
}

} // namespace

void addRow8(const PF_Pixel *pixels, A_long width, const std::uint64_t *above, std::uint64_t *out) {
    addRow(pixels, width, above, out);
}
void addRow16(const PF_Pixel16 *pixels, A_long width, const std::uint64_t *above, std::uint64_t *out) {
    addRow(pixels, width, above, out);
}

} // namespace area_rows_v3
} // namespace headless
#endif
