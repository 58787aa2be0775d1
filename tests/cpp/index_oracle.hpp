#pragma once
// Seeded point sets and brute-force answers that the index tests compare against.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/shared_array.hpp"
#include "stats/types.hpp"

namespace oracle {

using vardelin::Box;
using vardelin::Buffer;
using vardelin::SharedArray;
using vardelin::u64;

inline const double kNaN = std::numeric_limits<double>::quiet_NaN();
inline const double kInf = std::numeric_limits<double>::infinity();

struct Points {
    std::string name;
    SharedArray<double> xs, ys;
    std::size_t size() const { return xs->size(); }
};

inline Points make_points(const std::string& name, std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 100.0);
    std::normal_distribution<double> spread(0.0, 0.5);
    Buffer<double> xs(n), ys(n);
    std::vector<std::pair<double, double>> centres;
    for (int c = 0; c < 5; ++c) centres.emplace_back(u(rng), u(rng));
    for (std::size_t i = 0; i < n; ++i) {
        if (name == "uniform") {
            xs[i] = u(rng), ys[i] = u(rng);
        } else if (name == "clustered") {
            const auto& c = centres[rng() % centres.size()];
            xs[i] = c.first + spread(rng), ys[i] = c.second + spread(rng);
        } else if (name == "duplicates") {
            // Few distinct positions on an integer lattice, so ties and exact edges abound.
            xs[i] = static_cast<double>(rng() % 7), ys[i] = static_cast<double>(rng() % 5);
        } else {  // "nan": uniform with about one point in ten missing a coordinate
            xs[i] = u(rng), ys[i] = u(rng);
            const auto r = rng() % 20;
            if (r == 0) xs[i] = kNaN;
            if (r == 1) ys[i] = kNaN;
            if (r == 2) xs[i] = ys[i] = kNaN;
        }
    }
    return {name, vardelin::make_shared_array(std::move(xs)), vardelin::make_shared_array(std::move(ys))};
}

inline std::vector<Points> all_sets(std::size_t n, unsigned seed) {
    std::vector<Points> out;
    for (const char* name : {"uniform", "clustered", "duplicates", "nan"}) out.push_back(make_points(name, n, seed++));
    return out;
}

inline std::vector<u64> range(const Points& p, const Box& q) {
    std::vector<u64> out;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double x = (*p.xs)[i], y = (*p.ys)[i];
        if (x >= q.min_x && x <= q.max_x && y >= q.min_y && y <= q.max_y) out.push_back(i);
    }
    return out;
}

inline double dist2(const Points& p, std::size_t i, double x, double y) {
    const double px = (*p.xs)[i], py = (*p.ys)[i];
    if (std::isnan(px) || std::isnan(py)) return kInf;
    return (px - x) * (px - x) + (py - y) * (py - y);
}

// Squared distances of every point, a point with a NaN coordinate at +inf, fully sorted.
inline std::vector<double> sorted_dist2(const Points& p, double x, double y) {
    std::vector<double> d;
    for (std::size_t i = 0; i < p.size(); ++i) d.push_back(dist2(p, i, x, y));
    std::sort(d.begin(), d.end());
    return d;
}

inline std::vector<Box> query_boxes(unsigned seed, int count) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-10.0, 110.0), w(0.0, 30.0);
    std::vector<Box> boxes{{0, 0, 6, 4}, {2, 1, 2, 1}, {3, 3, 3, 3}, {-1e9, -1e9, 1e9, 1e9}, {-kInf, -kInf, kInf, kInf},
                           {200, 200, 300, 300}, {5, 5, 4, 6}, {1, 1, 5, 1}};
    for (int i = 0; i < count; ++i) {
        const double x = u(rng), y = u(rng);
        boxes.push_back({x, y, x + w(rng), y + w(rng)});
    }
    return boxes;
}

inline std::vector<std::pair<double, double>> query_points(const Points& p, unsigned seed, int count) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-20.0, 120.0);
    std::vector<std::pair<double, double>> out{{1e6, -1e6}, {3, 2}, {50, 50}};
    for (int i = 0; i < count; ++i) out.emplace_back(u(rng), u(rng));
    for (std::size_t i = 0; i < p.size() && out.size() < static_cast<std::size_t>(count) + 13; ++i) {
        if (std::isfinite(dist2(p, i, 0, 0))) out.emplace_back((*p.xs)[i], (*p.ys)[i]);
    }
    return out;
}

}  // namespace oracle
