// One filtered read of a host world through the host's area sampler, and the
// 16.16 fixed-point numbers that the samplers take.
//
// Used by texture sampling, the reflection map of shading and the
// depth-of-field composite. The sampling parameter block is always built
// zeroed with only the two radii and the source world set (MakeSampPB): edge
// behaviour zero makes texels outside the source transparent black, and there
// is no motion blur, compositing or asynchronous sampling.
//
// Thread safety: everything here runs on the host's render threads, many at
// once, with all state on the stack. The sampling suites are taken from the
// render record's suite cache, whose first fill of a slot is safe from
// several threads (and cheap afterwards); the host's samplers are called
// concurrently.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/AEGP_SuiteHandler.h"
#include "host/SDK.h"
#include "imaging/Pixel.h"

#include <cmath>
#include <cstdint>
#include <type_traits>

// ---- 16.16 fixed point ----------------------------------------------------------

// Smallest and largest radius handed to a host sampler: one fixed-point unit
// (1/65536 pixel) and 128 pixels.
inline constexpr PF_Fixed kMinSampleRadius = 1;
inline constexpr PF_Fixed kMaxSampleRadius = 8388608;

// v in 16.16 fixed point: v * 65536 rounded half away from zero (add 0.5, or
// -0.5 when negative, then truncate). Saturating: values beyond the 32-bit
// range give its ends, and NaN gives 0, so no input is undefined behaviour
// (a large open factor easily puts u * W past 32767 pixels).
//
// Every texel lookup converts four numbers, so the common case (a value well
// inside the range, not NaN) goes first: adding 0.5 with the value's sign is
// adding or subtracting it (-0 gives -0.5 instead of 0.5, which truncates to
// the same 0).
inline PF_Fixed FixedFromDouble(double v)
{
    const double scaled = v * 65536.0;
    if (std::fabs(scaled) < 2147483647.0) [[likely]]
        return static_cast<PF_Fixed>(scaled + std::copysign(0.5, scaled));
    if (std::isnan(scaled)) return 0;
    const double rounded = scaled < 0.0 ? scaled - 0.5 : scaled + 0.5;
    if (rounded >= 2147483648.0) return INT32_MAX;
    if (rounded <= -2147483649.0) return INT32_MIN;
    return static_cast<PF_Fixed>(rounded);
}

// A sampling radius in pixels as 16.16 fixed point, clamped to
// [kMinSampleRadius, kMaxSampleRadius]; a NaN radius is the minimum.
inline PF_Fixed FixedSampleRadius(double pixels)
{
    // A footprint's radius, capped at 128 pixels: FixedFromDouble's rounding
    // of a number that is not negative (-0 rounds to 0 either way), which
    // stays within the maximum, in one conversion.
    if (pixels >= 0.0 && pixels <= 128.0) [[likely]] {
        const PF_Fixed r = static_cast<PF_Fixed>(pixels * 65536.0 + 0.5);
        return r < kMinSampleRadius ? kMinSampleRadius : r;
    }
    if (std::isnan(pixels)) return kMinSampleRadius;
    const PF_Fixed r = FixedFromDouble(pixels);
    if (r < kMinSampleRadius) return kMinSampleRadius;
    if (r > kMaxSampleRadius) return kMaxSampleRadius;
    return r;
}

// A sampling block with every member zero except the two radii (in pixels,
// converted by FixedSampleRadius) and the source world. The host only reads
// the source.
inline PF_SampPB MakeSampPB(double xRadius, double yRadius, const PF_EffectWorld *source)
{
    PF_SampPB pb{};
    pb.x_radius = FixedSampleRadius(xRadius);
    pb.y_radius = FixedSampleRadius(yRadius);
    pb.src = const_cast<PF_EffectWorld *>(source);
    return pb;
}

// ---- blending -------------------------------------------------------------------

// Adds pixel b into a, weighting each colour by its own alpha: colours become
// (a.c a.alpha + b.c b.alpha) / (a.alpha + b.alpha), alpha the plain sum. The
// sum is not clamped (it may exceed 1); with a zero sum the colours stay
// undivided. Single precision.
inline void BlendPixel(PF_PixelFloat &a, const PF_PixelFloat &b)
{
    const float alpha = a.alpha + b.alpha;
    PF_PixelFloat sum{alpha, a.red * a.alpha + b.red * b.alpha,
                      a.green * a.alpha + b.green * b.alpha, a.blue * a.alpha + b.blue * b.alpha};
    if (alpha > 0.0f) {
        sum.red /= alpha;
        sum.green /= alpha;
        sum.blue /= alpha;
    }
    a = sum;
}

// ---- host area samples ----------------------------------------------------------

namespace area_sample_detail {

// The area sampler of the sampling suite for pixel type P (the third function
// of its suite).
inline PF_Err CallSampler(const PF_Sampling8Suite1 *s, PF_ProgPtr ref, PF_Fixed x, PF_Fixed y,
                          const PF_SampPB *pb, PF_Pixel *out)
{
    return s->area_sample ? s->area_sample(ref, x, y, pb, out) : PF_Err_BAD_CALLBACK_PARAM;
}
inline PF_Err CallSampler(const PF_Sampling16Suite1 *s, PF_ProgPtr ref, PF_Fixed x, PF_Fixed y,
                          const PF_SampPB *pb, PF_Pixel16 *out)
{
    return s->area_sample16 ? s->area_sample16(ref, x, y, pb, out) : PF_Err_BAD_CALLBACK_PARAM;
}
inline PF_Err CallSampler(const PF_SamplingFloatSuite1 *s, PF_ProgPtr ref, PF_Fixed x,
                          PF_Fixed y, const PF_SampPB *pb, PF_PixelFloat *out)
{
    return s->area_sample_float ? s->area_sample_float(ref, x, y, pb, out)
                                : PF_Err_BAD_CALLBACK_PARAM;
}

template <class P> inline auto SamplingSuite(AEGP_SuiteHandler &suites)
{
    if constexpr (std::is_same_v<P, PF_Pixel>)
        return suites.Sampling8Suite1();
    else if constexpr (std::is_same_v<P, PF_Pixel16>)
        return suites.Sampling16Suite1();
    else
        return suites.SamplingFloatSuite1();
}

// One host area sample of pixel type P at 16.16 (x, y) through `suite`,
// converted to float; after an error the pixel is transparent black.
template <class P, class Suite>
inline PF_Err SuiteSample(const Suite *suite, PF_ProgPtr effectRef, PF_Fixed x, PF_Fixed y,
                          const PF_SampPB &pb, PF_PixelFloat &out)
{
    P pixel{};
    const PF_Err err = CallSampler(suite, effectRef, x, y, &pb, &pixel);
    if (err != PF_Err_NONE) pixel = P{};
    out = toPixelF(&pixel);
    return err;
}

// SuiteSample through the suite cache. A host without the suite gives
// PF_Err_BAD_CALLBACK_PARAM instead of the cache's exception, which must not
// escape into the host's iteration, and a transparent black pixel.
template <class P>
inline PF_Err HostSample(const PF_InData *inData, AEGP_SuiteHandler &suites, PF_Fixed x,
                         PF_Fixed y, const PF_SampPB &pb, PF_PixelFloat &out)
{
    try {
        return SuiteSample<P>(SamplingSuite<P>(suites), inData->effect_ref, x, y, pb, out);
    } catch (PF_Err thrown) {
        const P none{};
        out = toPixelF(&none);
        return thrown;
    }
}

} // namespace area_sample_detail

// One host area sample of a 16-bit or 8-bit world at 16.16 (x, y) over the
// box of pb's radii, through "PF Sampling16 Suite" 1 or "PF Sampling8 Suite"
// 1, converted to float (times 2^-15, or divided by 255). Returns the host's
// error; after an error `out` is transparent black.
template <class P>
inline PF_Err AreaSample(const PF_InData *inData, AEGP_SuiteHandler &suites, PF_Fixed x,
                         PF_Fixed y, const PF_SampPB &pb, PF_PixelFloat &out)
{
    static_assert(std::is_same_v<P, PF_Pixel> || std::is_same_v<P, PF_Pixel16>,
                  "float worlds are sampled by HostAreaSample directly");
    return area_sample_detail::HostSample<P>(inData, suites, x, y, pb, out);
}

// One host area sample for any of the three pixel types: float worlds go to
// "PF SamplingFloat Suite" 1 directly, the others through AreaSample.
template <class P>
inline PF_Err HostAreaSample(const PF_InData *inData, AEGP_SuiteHandler &suites, PF_Fixed x,
                             PF_Fixed y, const PF_SampPB &pb, PF_PixelFloat &out)
{
    if constexpr (std::is_same_v<P, PF_PixelFloat>)
        return area_sample_detail::HostSample<P>(inData, suites, x, y, pb, out);
    else
        return AreaSample<P>(inData, suites, x, y, pb, out);
}
