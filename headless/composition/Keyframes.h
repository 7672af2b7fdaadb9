// Animated values of the composition model: a value that may change over
// composition time through keyframes.
//
// An `Animated<T>` holds a plain `value` and a list of `keys`. Without keys the
// value holds at every time. With keys:
//   - before the first key (by time) the first key's value holds, after the
//     last key the last key's value holds;
//   - between two neighbouring keys the value moves linearly (`Linear`) or
//     keeps the earlier key's value until the next key (`Hold`);
//   - at a key's own time the value is that key's value.
// Key times are composition seconds. The keys need not be sorted: the two
// neighbours of a time are looked up by time, so a loader can fill them in
// any order. When several keys share one time, the one listed last counts at
// and after that time. Keys whose time is not a number are ignored.
//
// Which interpolation applies is the reader's choice: layer streams and most
// parameters move linearly; popups, checkboxes and layer choices hold.
//
// The value types that can be animated are the ones below (doubles, 3D
// vectors, colours and the four-number parameter values); `interpolate` is
// defined for each.
//
// Thread safety: plain data; concurrent reads are safe, writes are not.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace headless {

// A point or vector in composition space (pixels), or three angles/percentages.
struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
    friend bool operator==(const Vec3 &, const Vec3 &) = default;
};

// A colour with channels in 0..1, in the host's channel order.
struct ColorValue {
    double alpha = 1.0, red = 1.0, green = 1.0, blue = 1.0;
    friend bool operator==(const ColorValue &, const ColorValue &) = default;
};

enum class Interpolation { Linear, Hold };

// a + (b - a) * f, channel by channel.
inline double interpolate(double a, double b, double f) { return a + (b - a) * f; }
Vec3 interpolate(const Vec3 &a, const Vec3 &b, double f);
ColorValue interpolate(const ColorValue &a, const ColorValue &b, double f);
template <std::size_t N>
std::array<double, N> interpolate(const std::array<double, N> &a, const std::array<double, N> &b,
                                  double f) {
    std::array<double, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = interpolate(a[i], b[i], f);
    return out;
}

template <class T> struct Keyframe {
    double time = 0.0; // composition seconds
    T value{};
};

template <class T> struct Animated {
    T value{};
    std::vector<Keyframe<T>> keys;

    Animated() = default;
    Animated(const T &v) : value(v) {} // NOLINT: a plain value is an unanimated one

    bool isAnimated() const { return !keys.empty(); }

    // The value at composition time `t` (seconds).
    T at(double t, Interpolation how = Interpolation::Linear) const {
        const Keyframe<T> *before = nullptr; // latest key at or before t
        const Keyframe<T> *after = nullptr;  // earliest key after t
        for (const Keyframe<T> &key : keys) {
            if (key.time <= t) {
                if (!before || key.time >= before->time) before = &key;
            } else if (key.time > t) {
                if (!after || key.time < after->time) after = &key;
            }
        }
        if (!before && !after) return value;
        if (!before) return after->value;
        if (!after || how == Interpolation::Hold) return before->value;
        const double f = (t - before->time) / (after->time - before->time);
        return interpolate(before->value, after->value, f);
    }
};

} // namespace headless
