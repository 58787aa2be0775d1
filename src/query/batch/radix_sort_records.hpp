#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "core/radix_sort.hpp"

namespace vardelin {

// The record counterpart of sort_ids: sorts records by a key of `Levels` bytes, where
// byte_at(record, level) is byte `level` of the key (level 0 the least significant), stably:
// records of equal key keep their order, which lets runs cut from one sequence be sorted
// apart and merged back into the order the whole sequence would get. Least-significant digit
// first, one byte per pass; a level on which every record agrees (the high bytes of small ids,
// the exponent of distances of one scale) costs no pass.
template <std::size_t Levels, class T, class ByteAt>
void radix_sort_records(std::vector<T>& items, const ByteAt& byte_at) {
    constexpr std::size_t kShortList = 256;
    const std::size_t n = items.size();
    if (n < 2) return;
    if (n < kShortList) {
        std::stable_sort(items.begin(), items.end(), [&](const T& a, const T& b) {
            for (std::size_t level = Levels; level-- > 0;) {
                const unsigned da = byte_at(a, level), db = byte_at(b, level);
                if (da != db) return da < db;
            }
            return false;
        });
        return;
    }
    std::array<std::array<std::size_t, 256>, Levels> counts{};
    for (const T& item : items) {
        for (std::size_t level = 0; level < Levels; ++level) ++counts[level][byte_at(item, level)];
    }
    std::vector<T> scratch(n);
    for (std::size_t level = 0; level < Levels; ++level) {
        std::array<std::size_t, 256>& start = counts[level];
        if (start[byte_at(items[0], level)] == n) continue;
        std::size_t sum = 0;
        for (std::size_t& s : start) {
            const std::size_t c = s;
            s = sum;
            sum += c;
        }
        for (const T& item : items) scratch[start[byte_at(item, level)]++] = item;
        items.swap(scratch);
    }
}

}  // namespace vardelin
