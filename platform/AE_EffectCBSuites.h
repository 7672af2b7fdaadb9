// Stand-in for the host SDK's callback suites: the world suite (pixel format
// of a world) and the three area samplers, one per pixel depth.
#pragma once

#include "AE_Effect.h"
#include "AE_EffectPixelFormat.h"

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2

typedef struct PF_WorldSuite2 {
    SPAPI PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long widthL, A_long heightL,
                                PF_Boolean clear_pixB, PF_PixelFormat pixel_format,
                                PF_EffectWorld *worldP);
    SPAPI PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld *worldP);
    SPAPI PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld *worldP, PF_PixelFormat *pixel_formatP);
} PF_WorldSuite2;

// Each sampler reads the source world of the parameter block at 16.16 (x, y).
// The third function, area_sample, averages over the box of the block's radii.
#define kPFSampling8Suite "PF Sampling8 Suite"
#define kPFSampling8SuiteVersion1 1
typedef struct PF_Sampling8Suite1 {
    SPAPI PF_Err (*nn_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                              const PF_SampPB *params, PF_Pixel *dst_pixel);
    SPAPI PF_Err (*subpixel_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                    const PF_SampPB *params, PF_Pixel *dst_pixel);
    SPAPI PF_Err (*area_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                const PF_SampPB *params, PF_Pixel *dst_pixel);
} PF_Sampling8Suite1;

#define kPFSampling16Suite "PF Sampling16 Suite"
#define kPFSampling16SuiteVersion1 1
typedef struct PF_Sampling16Suite1 {
    SPAPI PF_Err (*nn_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                const PF_SampPB *params, PF_Pixel16 *dst_pixel);
    SPAPI PF_Err (*subpixel_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                      const PF_SampPB *params, PF_Pixel16 *dst_pixel);
    SPAPI PF_Err (*area_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                  const PF_SampPB *params, PF_Pixel16 *dst_pixel);
} PF_Sampling16Suite1;

#define kPFSamplingFloatSuite "PF SamplingFloat Suite"
#define kPFSamplingFloatSuiteVersion1 1
typedef struct PF_SamplingFloatSuite1 {
    SPAPI PF_Err (*nn_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                    const PF_SampPB *params, PF_PixelFloat *dst_pixel);
    SPAPI PF_Err (*subpixel_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                          const PF_SampPB *params, PF_PixelFloat *dst_pixel);
    SPAPI PF_Err (*area_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                      const PF_SampPB *params, PF_PixelFloat *dst_pixel);
} PF_SamplingFloatSuite1;
