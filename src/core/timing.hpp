#pragma once
#include <ctime>
#include <optional>

#include "core/numeric.hpp"

namespace vardelin {

// One reading of the monotonic clock.
struct Instant {
    timespec ts{};
    static Instant now() noexcept {
        Instant i;
        clock_gettime(CLOCK_MONOTONIC, &i.ts);
        return i;
    }
};

// Nanoseconds from `start` to `end`, saturating; absent when the clock went backwards.
inline std::optional<u64> duration_ns(const Instant& start, const Instant& end) noexcept {
    if (end.ts.tv_sec < start.ts.tv_sec ||
        (end.ts.tv_sec == start.ts.tv_sec && end.ts.tv_nsec < start.ts.tv_nsec)) {
        return std::nullopt;
    }
    long sec = end.ts.tv_sec - start.ts.tv_sec;
    long nsec = end.ts.tv_nsec - start.ts.tv_nsec;
    if (nsec < 0) {
        sec -= 1;
        nsec += 1000000000L;
    }
    return sat_add(sat_mul(static_cast<u64>(sec), u64{1000000000}), static_cast<u64>(nsec));
}

class Stopwatch {
public:
    Stopwatch() noexcept : start_(Instant::now()) {}
    std::optional<u64> elapsed() const noexcept { return duration_ns(start_, Instant::now()); }
    u64 elapsed_or_zero() const noexcept { return elapsed().value_or(0); }

private:
    Instant start_;
};

}  // namespace vardelin
