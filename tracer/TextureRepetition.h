// Index of the texture repetition ("Extend Hyperboloid") that a texture row v
// falls into. Repetition n >= 0 covers [n L, n L + 1] with its gap after it,
// repetition n < 0 covers [n L + G, n L + G + 1] with its gap before it, where
// G is the interval and L = 1 + G the pitch.
//
// Thread safety: pure function; call from any thread.
#pragma once

#include <climits>
#include <cmath>

// floor(v / (interval + 1)) as an int. A v that is not a number (a degenerate
// surface) gives 0, and values beyond the int range are held one short of its
// ends, so callers may still step to the neighbouring repetitions n - 1 and
// n + 1, or negate n, without overflow.
inline int RepetitionIndex(double v, double interval)
{
    // Without gaps the pitch is 1, and v / 1 is v exactly: the division, slow
    // and on every hit's path, is left out.
    const double pitch = interval + 1.0;
    const double n = std::floor(pitch == 1.0 ? v : v / pitch);
    if (std::isnan(n)) return 0;
    if (n <= static_cast<double>(INT_MIN + 1)) return INT_MIN + 1;
    if (n >= static_cast<double>(INT_MAX - 1)) return INT_MAX - 1;
    return static_cast<int>(n);
}

// The whole periods WrapIntoPeriod takes off u: within a run of u that takes
// off as many, the wrapped u grows with u.
inline double WrapTurns(double u, double period)
{
    return period == 1.0 ? std::floor(u) : std::floor(u / period);
}

// u less `turns` whole periods.
inline double UnwindTurns(double u, double period, double turns)
{
    return period == 1.0 ? u - turns : u - period * turns;
}

// u reduced into [0, period): u - period floor(u / period). Unopened
// surfaces have a period of exactly 1, where u / 1 is u and 1 floor(u) is
// floor(u): the division, slow and on the path of every textured hit, is
// left out without changing a bit.
inline double WrapIntoPeriod(double u, double period)
{
    return UnwindTurns(u, period, WrapTurns(u, period));
}
