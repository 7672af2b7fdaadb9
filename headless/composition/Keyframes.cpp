#include "headless/composition/Keyframes.h"

namespace headless {

Vec3 interpolate(const Vec3 &a, const Vec3 &b, double f) {
    return {interpolate(a.x, b.x, f), interpolate(a.y, b.y, f), interpolate(a.z, b.z, f)};
}

ColorValue interpolate(const ColorValue &a, const ColorValue &b, double f) {
    return {interpolate(a.alpha, b.alpha, f), interpolate(a.red, b.red, f),
            interpolate(a.green, b.green, f), interpolate(a.blue, b.blue, f)};
}

} // namespace headless
