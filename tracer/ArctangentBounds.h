// Bounds of the angle atan2(y, x), far cheaper than the angle itself.
//
// A texture lookup needs a hit's u only as a 16.16 fixed-point texel column
// and a few comparisons, so the exact angle rarely matters: where every angle
// within the bounds gives the same lookup, the lookup is made from the bounds
// (TexelLookups::fromPlacement) and the C library's atan2, a tenth of a
// textured hit's work, is left out. Where the bounds straddle a step of the
// lookup, the caller takes the angle itself.
//
// Thread safety: a pure function of its arguments and a constant table.
#pragma once

// Half the width of the bounds, in radians. The bounds are worked out to
// within 2^-46 of the true angle (ArctangentBounds.cpp), and a C library's
// atan2 lies within a few units in the last place (2^-51 at most for angles
// up to pi): the margin is over a thousand times either.
inline constexpr double kArctangentSlack = 0x1p-36;

// lo and hi with lo <= atan2(y, x) <= hi, as the C library gives the angle,
// hi - lo about 2 kArctangentSlack. False, with lo and hi untouched, where no
// bounds are offered: either argument infinite or NaN, both zero, or
// magnitudes outside [2^-500, 2^500] or a quotient below 2^-900 (no hit's
// angle comes near these; the caller takes the angle itself).
bool ArctangentBounds(double y, double x, double &lo, double &hi);

// atan(i / 16) for i = 0 .. 16, to the nearest double: the table the bounds
// start from, which the hit lanes (HitLanes.h) read too.
extern const double kArctangentOfSixteenths[17];
