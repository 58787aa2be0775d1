#pragma once
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>

namespace vardelin {

using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i64 = std::int64_t;

inline constexpr u64 kU32Max = 4294967295ULL;
inline constexpr double kEpsilon = 2.220446049250313e-16;
inline constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Counters never wrap: a wrapped count would report less work than was done.
constexpr u64 sat_add(u64 a, u64 b) noexcept {
    u64 r = 0;
    return __builtin_add_overflow(a, b, &r) ? std::numeric_limits<u64>::max() : r;
}

inline void sat_add_to(u64& counter, u64 amount) noexcept { counter = sat_add(counter, amount); }

constexpr u64 sat_sub(u64 a, u64 b) noexcept { return a > b ? a - b : 0; }

constexpr u64 sat_mul(u64 a, u64 b) noexcept {
    u64 r = 0;
    return __builtin_mul_overflow(a, b, &r) ? std::numeric_limits<u64>::max() : r;
}

// Sizes derived from user input: an overflowing product can only mean an allocation that
// could never succeed, so it is reported as one.
inline u64 checked_mul(u64 a, u64 b) {
    u64 r = 0;
    if (__builtin_mul_overflow(a, b, &r)) throw std::bad_alloc();
    return r;
}

inline u64 checked_add(u64 a, u64 b) {
    u64 r = 0;
    if (__builtin_add_overflow(a, b, &r)) throw std::bad_alloc();
    return r;
}

// A plain cast of NaN or of an out-of-range float to an integer is undefined behaviour;
// every float-to-integer conversion goes through here: NaN gives 0, the rest saturates.
template <class Int>
constexpr Int saturating_cast(double v) noexcept {
    static_assert(std::is_integral_v<Int>);
    if (v != v) return 0;
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    // 2^bits as a double is exact; anything at or above it saturates.
    constexpr double hi_excl = static_cast<double>(std::numeric_limits<Int>::max()) + 1.0;
    if (v <= lo) return std::numeric_limits<Int>::min();
    if (v >= hi_excl) return std::numeric_limits<Int>::max();
    return static_cast<Int>(v);
}

// Strict weak order on doubles with NaN after every number: sorting, selection and heaps over
// floats use it so that a NaN can never break the ordering's invariants.
struct NanLastLess {
    constexpr bool operator()(double a, double b) const noexcept {
        if (std::isnan(a)) return false;
        if (std::isnan(b)) return true;
        return a < b;
    }
};

inline constexpr NanLastLess nan_last_less{};

}  // namespace vardelin
