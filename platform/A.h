// Stand-in for the host SDK's basic type header. Declares only what the effect
// and the headless host use, under the SDK's names. Build against the real SDK
// headers instead with -DVELTRIX_SDK_DIR=<path>.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef unsigned char A_u_char;
typedef unsigned char A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef A_long A_Err;
typedef uint16_t A_UTF16Char;
typedef int64_t A_intptr_t;
typedef uint64_t A_u_longlong;

// A point in time: value / scale seconds.
typedef struct {
    A_long value;
    A_u_long scale;
} A_Time;

typedef struct {
    A_long num;
    A_u_long den;
} A_Ratio;

typedef struct {
    A_FpLong x, y;
} A_FloatPoint;

typedef struct {
    A_FpLong x, y, z;
} A_FloatPoint3;

// Host transform: row-major doubles, row-vector convention (p' = p * M),
// translation in row 3.
typedef struct {
    A_FpLong mat[4][4];
} A_Matrix4;

enum { A_Err_NONE = 0, A_Err_GENERIC = 1, A_Err_STRUCT = 2, A_Err_PARAMETER = 3, A_Err_ALLOC = 4 };
