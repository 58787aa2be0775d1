#pragma once
#include <span>

#include "core/shared_array.hpp"

namespace vardelin {

// Element-wise distances over flat coordinate arrays of equal length (the caller checks the
// lengths with its own messages; unequal spans are an internal error here, never a read out
// of bounds). Planar results are in coordinate units, haversine results in metres.
Buffer<double> euclidean_distance(std::span<const double> xs1, std::span<const double> ys1,
                                  std::span<const double> xs2, std::span<const double> ys2);
Buffer<double> haversine_distance(std::span<const double> lons1, std::span<const double> lats1,
                                  std::span<const double> lons2, std::span<const double> lats2);
Buffer<double> euclidean_distance_to(std::span<const double> xs, std::span<const double> ys, double cx, double cy);
// The centre is point 1 of the haversine formula.
Buffer<double> haversine_distance_to(std::span<const double> lons, std::span<const double> lats, double cx,
                                     double cy);

}  // namespace vardelin
