// The host's number formats as doubles: 16.16 fixed-point parameter values
// and rational scales (downsampling factors, pixel aspect ratios).
//
// Thread safety: constants and pure functions; safe anywhere.
#pragma once

#include "host/SDK.h"

// One unit of a 16.16 fixed-point value: 1 / 65536, exact in a double.
inline constexpr double kFixedToDouble = 1.52587890625e-05;

// A rational scale as a double: num / den, each widened to double first.
inline double RatioOf(const PF_RationalScale &scale)
{
    return static_cast<double>(scale.num) / static_cast<double>(scale.den);
}
