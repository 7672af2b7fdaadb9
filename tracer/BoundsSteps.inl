// The steps of ArctangentBounds and PowerBounds, written once: included,
// inside a namespace of their own, by those functions' sources and by the
// lane kernels that bound a run's angles (HitLanesKernel.inl) and powers
// (LightLanesKernel.inl), so that the lanes work out the bits the one-hit
// functions do. Branch-free (the range tests are the callers'), builtins
// only, and no include of its own: each includer brings <cstdint>.

constexpr double kBoundsHalfPi = 3.141592653589793 / 2.0, kBoundsPi = 3.141592653589793;

// Whether atan2's arguments, as the larger magnitude `big` and the ratio
// small / big, lie in the range the angle's bounds are offered for.
inline bool ArctangentArgumentsInRange(double big, double ratio)
{
    return (big >= 0x1p-500) & (big <= 0x1p500) & ((ratio == 0.0) | (ratio >= 0x1p-900));
}

// atan(a) for a in [0, 1], within 2^-50, as the table's row `row` (the
// nearest sixteenth c = row / 16) plus the returned series: atan(a) =
// atan(c) + atan(t), t = (a - c) / (1 + a c), |t| <= 1/32, whose series to
// t^9/9 leaves out less than t^11 / 11 < 2^-58; the rounding of a, t and the
// series adds a few units of 2^-53 to each term.
inline double ArctangentSeries(double a, int &row)
{
    row = static_cast<int>(a * 16.0 + 0.5);
    const double c = row / 16.0;
    const double t = (a - c) / (1.0 + a * c);
    const double t2 = t * t;
    return t + t * t2 * (-1.0 / 3.0 + t2 * (1.0 / 5.0 + t2 * (-1.0 / 7.0 + t2 * (1.0 / 9.0))));
}

// The angle of (x, y) from atan of its ratio (`octant`), by octant: each step
// adds at most one rounding of a value below 4 (2^-51) and a constant's
// (2^-52); the sign of y (-0 included) is copied onto the angle, which is not
// negative before it, as atan2 signs it.
inline double ArctangentByOctant(double octant, double x, double y)
{
    const double steep = __builtin_fabs(y) > __builtin_fabs(x) ? kBoundsHalfPi - octant : octant;
    const double left = x < 0.0 ? kBoundsPi - steep : steep;
    return __builtin_copysign(left, y);
}

// ArctangentBounds lane by lane, for the lane kernels: bounds lo, hi of the
// angle of each lane's (x, y), with `bounded` 1 where they are offered. A
// lane outside the bounds' range takes the ratio 0, which keeps its row of
// the table in range, and is flagged 0. The table's rows are read in a loop
// of their own, so that the arithmetic around it goes on lanes. (Its
// includers declare the table and the slack: ArctangentBounds.h.)
template <int n>
[[gnu::always_inline]] inline void ArctangentBoundsLanes(const double (&xs)[n], const double (&ys)[n],
                                                         double (&lo)[n], double (&hi)[n],
                                                         double (&bounded)[n])
{
    double series[n], sixteenths[n];
    int tableRows[n];
    for (int k = 0; k < n; ++k) {
        const double ax = __builtin_fabs(xs[k]), ay = __builtin_fabs(ys[k]);
        const double big = ax > ay ? ax : ay, small = ax > ay ? ay : ax;
        const double ratio = small / big;
        const bool inRange = ArctangentArgumentsInRange(big, ratio);
        series[k] = ArctangentSeries(inRange ? ratio : 0.0, tableRows[k]);
        bounded[k] = inRange ? 1.0 : 0.0;
    }
    for (int k = 0; k < n; ++k) sixteenths[k] = kArctangentOfSixteenths[tableRows[k]];
    for (int k = 0; k < n; ++k) {
        const double r = ArctangentByOctant(sixteenths[k] + series[k], xs[k], ys[k]);
        lo[k] = r - kArctangentSlack;
        hi[k] = r + kArctangentSlack;
    }
}

// exp(y ln x) for x in [2^-1000, 2^1000] and y ln x (`t`) in [-700, 700]
// (outside it, the value is exp(0) and the caller's range test fails), and
// the half width of the power's bounds relative to it (`slack`).
//
// ln x: x = m 2^e with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh(s) with
// s = (m - 1) / (m + 1), |s| <= 0.1716, whose series to s^17 leaves out less
// than 2^-52 of it; ln 2 in two parts, the first exact in products with any
// e. Its error is below (|ln x| + 1) 2^-53, and t's below
// |y| (|ln x| + 1) 2^-53 + |t| 2^-53. exp(t) = 2^k exp(r), k the nearest
// integer to t / ln 2, r = t - k ln 2 in [-0.35, 0.35], whose series to r^13
// leaves out less than 2^-56: relative error below t's error plus 2^-50.
// The slack takes 8 times each part of t's error and 4 times the sum.
inline double PowerEstimate(double x, double y, double &t, double &slack)
{
    constexpr double kLn2Hi = 0x1.62e42fee00000p-1, kLn2Lo = 0x1.a39ef35793c76p-33;
    constexpr double kInvLn2 = 0x1.71547652b82fep0, kSqrt2 = 0x1.6a09e667f3bcdp0;
    const std::uint64_t bits = __builtin_bit_cast(std::uint64_t, x);
    const double e0 = __builtin_bit_cast(double, ((bits >> 52) & 0x7ff) | 0x4330000000000000ull) -
                      (0x1p52 + 1023.0);
    const double m0 =
        __builtin_bit_cast(double, (bits & 0x000fffffffffffffull) | 0x3ff0000000000000ull);
    const bool high = m0 > kSqrt2;
    const double m = high ? m0 * 0.5 : m0;
    const double e = high ? e0 + 1.0 : e0;
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    // Both series by powers of their variable in pairs (Estrin's scheme):
    // a few products deep rather than one per term, so that a run's lanes
    // wait on fewer roundings in a row; each term's rounding stays within a
    // unit or two of 2^-53 of the sum, as in the nested form.
    const double s4 = s2 * s2, s8 = s4 * s4;
    const double series =
        ((2.0 + s2 * (2.0 / 3)) + s4 * (2.0 / 5 + s2 * (2.0 / 7))) +
        s8 * (((2.0 / 9 + s2 * (2.0 / 11)) + s4 * (2.0 / 13 + s2 * (2.0 / 15))) + s8 * (2.0 / 17));
    const double lnx = e * kLn2Hi + (e * kLn2Lo + s * series);
    t = y * lnx;
    const double tt = (t >= -700.0) & (t <= 700.0) ? t : 0.0;
    const double k = __builtin_floor(tt * kInvLn2 + 0.5);
    const double r = (tt - k * kLn2Hi) - k * kLn2Lo;
    const double r2 = r * r, r4 = r2 * r2, r8 = r4 * r4;
    const double p =
        (((1.0 + r) + r2 * (1.0 / 2 + r * (1.0 / 6))) +
         r4 * ((1.0 / 24 + r * (1.0 / 120)) + r2 * (1.0 / 720 + r * (1.0 / 5040)))) +
        r8 * (((1.0 / 40320 + r * (1.0 / 362880)) + r2 * (1.0 / 3628800 + r * (1.0 / 39916800))) +
              r4 * (1.0 / 479001600 + r * (1.0 / 6227020800.0)));
    // 2^k, k in [-1010, 1010]: its biased exponent, the low bits of k + 1023 + 2^52.
    const double scale =
        __builtin_bit_cast(double, __builtin_bit_cast(std::uint64_t, k + (0x1p52 + 1023.0)) << 52);
    const double error = __builtin_fabs(y) * (__builtin_fabs(lnx) * 0x1p-50 + 0x1p-50) +
                         __builtin_fabs(tt) * 0x1p-50;
    slack = 4.0 * (error + 0x1p-48);
    return p * scale;
}
