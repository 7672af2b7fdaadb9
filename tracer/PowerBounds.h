// Bounds of pow(x, y), far cheaper than the power itself.
//
// A highlight needs its power only as a single-precision factor, so the
// exact double rarely matters: where every value within the bounds gives the
// same factor, the highlight takes it from the bounds (the light lanes,
// LightLanes.h) and the C library's pow, the costliest step of a lit hit's
// shading in lanes, is left out. Where the bounds straddle a rounding of the
// factor, the caller takes the power itself.
//
// Thread safety: a pure function of its arguments.
#pragma once

// lo and hi with lo <= pow(x, y) <= hi, as the C library gives the power. The
// power is worked out as exp(y ln x) in double precision, each step's error
// bounded (PowerBounds.cpp); the bounds lie four times that bound, and at
// least 2^-46 of the power, on either side of it, where a C library's pow is
// within a unit in the last place (2^-52). False, with lo and hi untouched,
// where no bounds are offered: x outside [2^-1000, 2^1000] (zero, negative,
// infinite or NaN among them), y outside [0, 4096], or |y ln x| above 700.
bool PowerBounds(double x, double y, double &lo, double &hi);
