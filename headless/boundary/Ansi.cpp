#include "headless/boundary/Ansi.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace headless {

namespace {

A_FpLong ansiAtan(A_FpLong x) { return std::atan(x); }
A_FpLong ansiAtan2(A_FpLong y, A_FpLong x) { return std::atan2(y, x); }
A_FpLong ansiCeil(A_FpLong x) { return std::ceil(x); }
A_FpLong ansiCos(A_FpLong x) { return std::cos(x); }
A_FpLong ansiExp(A_FpLong x) { return std::exp(x); }
A_FpLong ansiFabs(A_FpLong x) { return std::fabs(x); }
A_FpLong ansiFloor(A_FpLong x) { return std::floor(x); }
A_FpLong ansiFmod(A_FpLong x, A_FpLong y) { return std::fmod(x, y); }
A_FpLong ansiHypot(A_FpLong x, A_FpLong y) { return std::hypot(x, y); }
A_FpLong ansiLog(A_FpLong x) { return std::log(x); }
A_FpLong ansiLog10(A_FpLong x) { return std::log10(x); }
A_FpLong ansiPow(A_FpLong x, A_FpLong y) { return std::pow(x, y); }
A_FpLong ansiSin(A_FpLong x) { return std::sin(x); }
A_FpLong ansiSqrt(A_FpLong x) { return std::sqrt(x); }
A_FpLong ansiTan(A_FpLong x) { return std::tan(x); }
A_FpLong ansiAsin(A_FpLong x) { return std::asin(x); }
A_FpLong ansiAcos(A_FpLong x) { return std::acos(x); }

// The SDK's sprintf has no size: like the C function, the caller guarantees room.
int ansiSprintf(A_char *buffer, const A_char *format, ...) {
    if (!buffer || !format) return -1;
    va_list args;
    va_start(args, format);
    const int written = std::vsprintf(buffer, format, args);
    va_end(args);
    return written;
}

A_char *ansiStrcpy(A_char *destination, const A_char *source) {
    if (!destination || !source) return destination;
    return std::strcpy(destination, source);
}

} // namespace

void fillAnsiCallbacks(PF_ANSICallbacks &ansi) {
    ansi.atan = ansiAtan;
    ansi.atan2 = ansiAtan2;
    ansi.ceil = ansiCeil;
    ansi.cos = ansiCos;
    ansi.exp = ansiExp;
    ansi.fabs = ansiFabs;
    ansi.floor = ansiFloor;
    ansi.fmod = ansiFmod;
    ansi.hypot = ansiHypot;
    ansi.log = ansiLog;
    ansi.log10 = ansiLog10;
    ansi.pow = ansiPow;
    ansi.sin = ansiSin;
    ansi.sqrt = ansiSqrt;
    ansi.tan = ansiTan;
    ansi.sprintf = ansiSprintf;
    ansi.strcpy = ansiStrcpy;
    ansi.asin = ansiAsin;
    ansi.acos = ansiAcos;
    std::memset(ansi.ansi_procs, 0, sizeof ansi.ansi_procs);
}

} // namespace headless
