// Stand-in for the host SDK's pixel format codes.
#pragma once

#include "A.h"

#define AEFX_FOURCC(a, b, c, d)                                                                \
    ((A_long)(((A_u_long)(a) << 24) | ((A_u_long)(b) << 16) | ((A_u_long)(c) << 8) |           \
              (A_u_long)(d)))

typedef A_long PF_PixelFormat;
enum {
    PF_PixelFormat_ARGB32 = AEFX_FOURCC('a', 'e', '0', '8'),  // PF_Pixel
    PF_PixelFormat_ARGB64 = AEFX_FOURCC('a', 'e', '1', '6'),  // PF_Pixel16
    PF_PixelFormat_ARGB128 = AEFX_FOURCC('a', 'e', '3', '2'), // PF_PixelFloat
    PF_PixelFormat_INVALID = AEFX_FOURCC('b', 'a', 'd', 'f')
};
