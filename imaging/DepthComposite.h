// Distance fog and fade-out of one shaded surface hit ("Depth Composite").
//
// Shading calls depthComposite as its last step with the hit's depth (the ray
// parameter, in composition pixels) and the finished straight colour. Works on
// values only; safe on any number of render threads.
#pragma once

#include "imaging/Pixel.h"
#include "scene/RenderInfo.h"

namespace depth_composite_detail {

using DepthCompositeInfo = RenderInfoTemplate<Hyperboloid>::DepthCompositeInfo;

// Clamps a ramp value to [0, 1]; NaN counts as 0.
inline float clampToUnit(double f) {
    if (!(f > 0.0)) return 0.0f;
    return static_cast<float>(f < 1.0 ? f : 1.0);
}

// How far into the fog a hit is: 0 at the start depth, 1 at the end depth,
// unclamped. "End depth" equal to "Start depth" is a hard step: fog only
// behind the start depth.
inline double fogAmount(const DepthCompositeInfo &info, double depth) {
    if (info.range == 0.0) return depth > info.start ? 1.0 : 0.0;
    return (depth - info.start) / info.range;
}

// How much of a hit remains visible: 1 at the start depth, 0 at the end
// depth, unclamped. With a zero range, hits at or behind the start depth
// vanish.
inline double fadeVisibility(const DepthCompositeInfo &info, double depth) {
    if (info.range == 0.0) return depth < info.start ? 1.0 : 0.0;
    return 1.0 - (depth - info.start) / info.range;
}

} // namespace depth_composite_detail

// Whether depthComposite leaves a transparent black hit transparent black:
// every mode but fog, which colours it. What the pixel pass relies on to
// store pixels beyond the texture's reach without shading them.
inline bool keepsTransparentBlack(const RenderInfoTemplate<Hyperboloid>::DepthCompositeInfo &info) {
    return info.mode != 2;
}

// Modes: 1 Off (pixel unchanged), 2 Fog, 3 Fade Out. A negative range turns
// the ramps around: fog then colours the near hits, fade-out hides them.
inline void depthComposite(const RenderInfoTemplate<Hyperboloid>::DepthCompositeInfo &info,
                           double depth, PF_PixelFloat &pixel) {
    using namespace depth_composite_detail;
    if (info.mode == 3) {
        // Fade out: coverage falls with depth, colour stays.
        pixel.alpha *= clampToUnit(fadeVisibility(info, depth));
    } else if (info.mode == 2) {
        // Fog: blend the colour toward the fog colour, weighting the surface's
        // own colour by its coverage, and keep the coverage itself. The fog
        // colour's alpha plays no part.
        const float f = clampToUnit(fogAmount(info, depth));
        const float alpha = pixel.alpha;
        const float k = (1.0f - f) * alpha;
        const PF_PixelFloat &fog = info.fogColor;
        pixel.red = pixel.red * k + fog.red * f;
        pixel.green = pixel.green * k + fog.green * f;
        pixel.blue = pixel.blue * k + fog.blue * f;
        const float weight = k + f;
        if (weight > 0.0f) {
            pixel.red /= weight;
            pixel.green /= weight;
            pixel.blue /= weight;
        }
        pixel.alpha = alpha;
    }
}
