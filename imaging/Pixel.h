// The three pixel depths of the host and the conversions between them.
//
// All colour arithmetic is done on PF_PixelFloat (full intensity 1.0, values
// unclamped while being computed). Integer pixels are converted to float when
// read and back only when written into an 8- or 16-bit buffer:
// - 8 bits: full intensity 255; in: c / 255.0f; out: the rule below.
// - 16 bits: full intensity 32768 (2^15, not 65535); in: c * 2^-15, exact;
//   out: the rule below.
// The one rule for every float-to-integer store in the effect: multiply by the
// full-intensity value in float; above it store full intensity, below 0 store
// 0, otherwise truncate toward zero. A NaN channel stores 0.
//
// Everything here works on values: no heap, no host calls, no shared state;
// safe on any number of render threads.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"

#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// ---- single channels ------------------------------------------------------------

// c times full, clamped to [0, full] (below zero, or NaN, is 0), truncated.
// Written as two selects rather than branches: channel values vary from
// pixel to pixel, and the selects compile to compare-and-blend.
inline float ScaledChannel(float c, float full) {
    const float scaled = c * full;
    const float notNegative = scaled >= 0.0f ? scaled : 0.0f;
    return notNegative > full ? full : notNegative;
}

inline A_u_char ChannelFTo8(float c) { return static_cast<A_u_char>(ScaledChannel(c, 255.0f)); }

inline A_u_short ChannelFTo16(float c) { return static_cast<A_u_short>(ScaledChannel(c, 32768.0f)); }

// ---- clamping -------------------------------------------------------------------

// Clamps each channel (alpha too) to [lower, upper], compared in double. Note
// the argument order: upper first. With lower > upper the pixel is returned
// unchanged; a NaN channel passes unchanged.
inline PF_PixelFloat ClipPixelF(const PF_PixelFloat *p, double upper, double lower) {
    PF_PixelFloat out = *p;
    if (lower > upper) return out;
    auto clip = [upper, lower](PF_FpShort &c) {
        const double v = c;
        if (v > upper)
            c = static_cast<PF_FpShort>(upper);
        else if (v < lower)
            c = static_cast<PF_FpShort>(lower);
    };
    clip(out.alpha);
    clip(out.red);
    clip(out.green);
    clip(out.blue);
    return out;
}

// ---- whole pixels ---------------------------------------------------------------

// Every texel the samplers fetch comes through here. With SSE2 the four
// quotients are one division on four lanes, each lane the scalar c / 255.0f.
inline PF_PixelFloat Pixel8ToF(const PF_Pixel *p) {
#if defined(__SSE2__)
    static_assert(sizeof(PF_Pixel) == 4 && sizeof(PF_PixelFloat) == 4 * sizeof(float));
    int bits;
    std::memcpy(&bits, p, sizeof bits);
    const __m128i zero = _mm_setzero_si128();
    const __m128i channels = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bits), zero), zero);
    float quotients[4];
    _mm_storeu_ps(quotients, _mm_div_ps(_mm_cvtepi32_ps(channels), _mm_set1_ps(255.0f)));
    PF_PixelFloat out;
    std::memcpy(&out, quotients, sizeof out);
    return out;
#else
    return {p->alpha / 255.0f, p->red / 255.0f, p->green / 255.0f, p->blue / 255.0f};
#endif
}

inline PF_PixelFloat Pixel16ToF(const PF_Pixel16 *p) {
    constexpr float scale = 3.0517578125e-05f; // 2^-15: exactly c / 32768
    return {p->alpha * scale, p->red * scale, p->green * scale, p->blue * scale};
}

#if defined(__SSE2__)
// The store of a whole pixel, four channels to a register, with exactly the
// scalar rule's results: the clip to [0, 1] passes NaN (a min and a max with
// the bound first, which return their second operand when unordered), then
// the rule's selects, then truncation. The pixel types' channels lie in the
// same order (alpha, red, green, blue) as the float pixel's. SSE2 only, which
// every x86-64 compiler assumes, so that every source includes the same code.
inline __m128i StoredChannels(const PF_PixelFloat *p, float full) {
    static_assert(sizeof(PF_PixelFloat) == 4 * sizeof(float));
    const __m128 zero = _mm_setzero_ps();
    __m128 c = _mm_loadu_ps(&p->alpha);
    c = _mm_max_ps(zero, _mm_min_ps(_mm_set1_ps(1.0f), c));
    const __m128 scaled = _mm_mul_ps(c, _mm_set1_ps(full));
    const __m128 notNegative = _mm_and_ps(_mm_cmpge_ps(scaled, zero), scaled);
    return _mm_cvttps_epi32(_mm_min_ps(_mm_set1_ps(full), notNegative));
}
#endif

inline PF_Pixel PixelFTo8(const PF_PixelFloat *p) {
#if defined(__SSE2__)
    static_assert(sizeof(PF_Pixel) == 4);
    const __m128i words = _mm_packs_epi32(StoredChannels(p, 255.0f), _mm_setzero_si128());
    const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    PF_Pixel out;
    std::memcpy(&out, &bytes, sizeof out);
    return out;
#else
    const PF_PixelFloat c = ClipPixelF(p, 1.0, 0.0);
    return {ChannelFTo8(c.alpha), ChannelFTo8(c.red), ChannelFTo8(c.green), ChannelFTo8(c.blue)};
#endif
}

inline PF_Pixel16 PixelFTo16(const PF_PixelFloat *p) {
#if defined(__SSE2__)
    static_assert(sizeof(PF_Pixel16) == 8);
    // 0..32768 does not fit a signed 16-bit pack: shift it down by 32768
    // first and flip the top bit of each word back after.
    const __m128i offset = _mm_set1_epi32(32768);
    const __m128i shifted = _mm_sub_epi32(StoredChannels(p, 32768.0f), offset);
    const __m128i words = _mm_xor_si128(_mm_packs_epi32(shifted, shifted), _mm_set1_epi16(-32768));
    PF_Pixel16 out;
    _mm_storel_epi64(reinterpret_cast<__m128i *>(&out), words);
    return out;
#else
    const PF_PixelFloat c = ClipPixelF(p, 1.0, 0.0);
    return {ChannelFTo16(c.alpha), ChannelFTo16(c.red), ChannelFTo16(c.green), ChannelFTo16(c.blue)};
#endif
}

// Read any of the three pixel types as float.
template <class P> inline PF_PixelFloat toPixelF(const P *p) {
    if constexpr (std::is_same_v<P, PF_Pixel>)
        return Pixel8ToF(p);
    else if constexpr (std::is_same_v<P, PF_Pixel16>)
        return Pixel16ToF(p);
    else {
        static_assert(std::is_same_v<P, PF_PixelFloat>, "not a host pixel type");
        return *p;
    }
}

// Store a float pixel as any of the three pixel types: fromPixelF<PF_Pixel16>(&f).
template <class P> inline P fromPixelF(const PF_PixelFloat *p) {
    if constexpr (std::is_same_v<P, PF_Pixel>)
        return PixelFTo8(p);
    else if constexpr (std::is_same_v<P, PF_Pixel16>)
        return PixelFTo16(p);
    else {
        static_assert(std::is_same_v<P, PF_PixelFloat>, "not a host pixel type");
        return *p;
    }
}

// ---- channel-wise arithmetic on float pixels (alpha included) -----------------

// Each channel widened to double, scaled, rounded back to float.
inline PF_PixelFloat operator*(double s, const PF_PixelFloat &p) {
    auto scale = [s](PF_FpShort c) { return static_cast<PF_FpShort>(static_cast<double>(c) * s); };
    return {scale(p.alpha), scale(p.red), scale(p.green), scale(p.blue)};
}

inline PF_PixelFloat operator*(const PF_PixelFloat &a, const PF_PixelFloat &b) {
    return {a.alpha * b.alpha, a.red * b.red, a.green * b.green, a.blue * b.blue};
}

inline PF_PixelFloat operator+(const PF_PixelFloat &a, const PF_PixelFloat &b) {
    return {a.alpha + b.alpha, a.red + b.red, a.green + b.green, a.blue + b.blue};
}

inline PF_PixelFloat operator-(const PF_PixelFloat &a, const PF_PixelFloat &b) {
    return {a.alpha - b.alpha, a.red - b.red, a.green - b.green, a.blue - b.blue};
}

// The complement, 1 - c, of every channel.
inline PF_PixelFloat operator!(const PF_PixelFloat &p) {
    return {1.0f - p.alpha, 1.0f - p.red, 1.0f - p.green, 1.0f - p.blue};
}
