#include "tracer/PowerBounds.h"

#include <cstdint>

// The steps, one for one, of the light lanes' highlight bounds
// (LightLanesKernel.inl), which give the same bits.
//
// ln x: x = m 2^e with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh(s) with
// s = (m - 1) / (m + 1), |s| <= 0.1716, whose series to s^17 leaves out less
// than 2^-52 of it; ln 2 in two parts, the first exact in products with any
// e. Its error is below (|ln x| + 1) 2^-53, and t = y ln x's below
// |y| (|ln x| + 1) 2^-53 + |t| 2^-53. exp(t) = 2^k exp(r), k the nearest
// integer to t / ln 2, r = t - k ln 2 in [-0.35, 0.35], whose series to r^13
// leaves out less than 2^-56: relative error below t's error plus 2^-50.
// The bounds take 8 times each part of t's error and 4 times the sum.
bool PowerBounds(double x, double y, double &lo, double &hi)
{
    constexpr double kLn2Hi = 0x1.62e42fee00000p-1, kLn2Lo = 0x1.a39ef35793c76p-33;
    constexpr double kInvLn2 = 0x1.71547652b82fep0, kSqrt2 = 0x1.6a09e667f3bcdp0;
    if (!(x >= 0x1p-1000 && x <= 0x1p1000 && y >= 0.0 && y <= 4096.0)) return false;
    const std::uint64_t bits = __builtin_bit_cast(std::uint64_t, x);
    const double e0 = __builtin_bit_cast(double, ((bits >> 52) & 0x7ff) | 0x4330000000000000ull) -
                      (0x1p52 + 1023.0);
    const double m0 = __builtin_bit_cast(double, (bits & 0x000fffffffffffffull) | 0x3ff0000000000000ull);
    const bool high = m0 > kSqrt2;
    const double m = high ? m0 * 0.5 : m0;
    const double e = high ? e0 + 1.0 : e0;
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    const double series =
        2.0 + s2 * (2.0 / 3 + s2 * (2.0 / 5 + s2 * (2.0 / 7 + s2 * (2.0 / 9 + s2 * (2.0 / 11 +
              s2 * (2.0 / 13 + s2 * (2.0 / 15 + s2 * (2.0 / 17))))))));
    const double lnx = e * kLn2Hi + (e * kLn2Lo + s * series);
    const double t = y * lnx;
    if (!(t >= -700.0 && t <= 700.0)) return false;
    const double k = __builtin_floor(t * kInvLn2 + 0.5);
    const double r = (t - k * kLn2Hi) - k * kLn2Lo;
    const double p =
        1.0 + r * (1.0 + r * (1.0 / 2 + r * (1.0 / 6 + r * (1.0 / 24 + r * (1.0 / 120 +
        r * (1.0 / 720 + r * (1.0 / 5040 + r * (1.0 / 40320 + r * (1.0 / 362880 +
        r * (1.0 / 3628800 + r * (1.0 / 39916800 + r * (1.0 / 479001600 + r * (1.0 / 6227020800.0)))))))))))));
    // 2^k, k in [-1010, 1010]: its biased exponent, the low bits of k + 1023 + 2^52.
    const double scale =
        __builtin_bit_cast(double, __builtin_bit_cast(std::uint64_t, k + (0x1p52 + 1023.0)) << 52);
    const double value = p * scale;
    const double error = __builtin_fabs(y) * (__builtin_fabs(lnx) * 0x1p-50 + 0x1p-50) +
                         __builtin_fabs(t) * 0x1p-50;
    const double slack = 4.0 * (error + 0x1p-48);
    lo = value - value * slack;
    hi = value + value * slack;
    return true;
}
