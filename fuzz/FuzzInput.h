// Reads typed values off the front of a fuzz input, so that a fuzz target
// builds with any compiler: under libFuzzer (clang) and in the sanitized
// test tree (the corpus replay). Every read succeeds: once the bytes are used
// up, integers read as 0, booleans as false.
//
// Thread safety: one object per input, used on one thread.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remainingBytes() const { return size_; }

    bool consumeBool() { return (consumeByte() & 1) != 0; }

    // Any value of the integer type T.
    template <class T> T consumeIntegral() {
        static_assert(std::is_integral_v<T>);
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) bits |= std::uint64_t(consumeByte()) << (8 * i);
        return static_cast<T>(bits);
    }

    // A value in [min, max] (both included).
    template <class T> T consumeIntegralInRange(T min, T max) {
        static_assert(std::is_integral_v<T>);
        if (min >= max) return min;
        const std::uint64_t span = std::uint64_t(max) - std::uint64_t(min);
        const std::uint64_t raw = consumeIntegral<std::uint64_t>();
        const std::uint64_t offset = span == std::numeric_limits<std::uint64_t>::max()
                                         ? raw
                                         : raw % (span + 1);
        return static_cast<T>(std::uint64_t(min) + offset);
    }

    // Any bit pattern of a double: NaN, infinities and denormals included.
    double consumeAnyDouble() {
        const std::uint64_t bits = consumeIntegral<std::uint64_t>();
        double value;
        static_assert(sizeof value == sizeof bits);
        __builtin_memcpy(&value, &bits, sizeof value);
        return value;
    }

    // A finite double of any sign and magnitude from about 1e-24 to 1e24.
    double consumeFiniteDouble() {
        const double mantissa = double(consumeIntegral<std::int32_t>()) / 2147483648.0;
        const int exponent = consumeIntegralInRange(-80, 80);
        return std::ldexp(mantissa, exponent);
    }

    // A double in [min, max].
    double consumeDoubleInRange(double min, double max) {
        const double fraction = double(consumeIntegral<std::uint32_t>()) / 4294967295.0;
        return min + (max - min) * fraction;
    }

private:
    std::uint8_t consumeByte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }

    const std::uint8_t *data_;
    std::size_t size_;
};
