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

#include <type_traits>

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

inline PF_PixelFloat Pixel8ToF(const PF_Pixel *p) {
    return {p->alpha / 255.0f, p->red / 255.0f, p->green / 255.0f, p->blue / 255.0f};
}

inline PF_PixelFloat Pixel16ToF(const PF_Pixel16 *p) {
    constexpr float scale = 3.0517578125e-05f; // 2^-15: exactly c / 32768
    return {p->alpha * scale, p->red * scale, p->green * scale, p->blue * scale};
}

inline PF_Pixel PixelFTo8(const PF_PixelFloat *p) {
    const PF_PixelFloat c = ClipPixelF(p, 1.0, 0.0);
    return {ChannelFTo8(c.alpha), ChannelFTo8(c.red), ChannelFTo8(c.green), ChannelFTo8(c.blue)};
}

inline PF_Pixel16 PixelFTo16(const PF_PixelFloat *p) {
    const PF_PixelFloat c = ClipPixelF(p, 1.0, 0.0);
    return {ChannelFTo16(c.alpha), ChannelFTo16(c.red), ChannelFTo16(c.green), ChannelFTo16(c.blue)};
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
