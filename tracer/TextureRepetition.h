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
    const double n = std::floor(v / (interval + 1.0));
    if (std::isnan(n)) return 0;
    if (n <= static_cast<double>(INT_MIN + 1)) return INT_MIN + 1;
    if (n >= static_cast<double>(INT_MAX - 1)) return INT_MAX - 1;
    return static_cast<int>(n);
}
