#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "core/numeric.hpp"

namespace vardelin {

// The kNN joins to polygons walk their query points along a Z-order curve and cut them into a
// fixed 16 x 16 grid of tiles over the query extent: neighbouring queries share index nodes and
// polygons in cache.
inline constexpr std::size_t kQueryTileSide = 16;
inline constexpr std::size_t kQueryTileCount = kQueryTileSide * kQueryTileSide;

// Below this many points the curve order gains nothing over input order.
inline constexpr std::size_t kMortonMinPoints = 1024;

// Bounds of the query points, NaN skipped on each axis on its own; an axis without a number
// keeps min +inf and max -inf.
struct QueryExtent {
    double min_x, min_y, max_x, max_y;
};
QueryExtent query_extent(std::span<const double> xs, std::span<const double> ys) noexcept;

// Query positions 0 .. n - 1 (n = xs.size() = ys.size() <= 4294967295): input order below 1024
// points, else ascending by the 32-bit Morton code of the point's 16-bit cell on each axis,
// equal codes by position, so the order is the same for every pool size. A NaN coordinate
// gives cell 0 on its axis.
std::vector<u32> morton_order(std::span<const double> xs, std::span<const double> ys);

// Tile t = ty * 16 + tx holds the positions whose cell on the 16 x 16 grid over the query
// extent is (tx, ty), in the order they have in `order`. All 256 tiles are returned, empty ones
// included; a flat axis, NaN and values beyond the extent land in cell 0 or 15.
using QueryTiles = std::vector<std::vector<u32>>;
QueryTiles build_query_tiles(std::span<const double> xs, std::span<const double> ys, std::span<const u32> order);

// Clustered or outlying queries fill one tile and would serialise a join that ran one task per
// tile. A slice is a run of consecutive positions of one tile; slices list the non-empty tiles
// in tile order, each cut in order into runs of at most `max_positions`. Per-query results do
// not depend on the cut, and the sorted join's runs, each sorted stably, merge into the same
// order as whole tiles would.
struct TileSlice {
    std::size_t tile;
    std::span<const u32> positions;
};
std::vector<TileSlice> slice_query_tiles(const QueryTiles& tiles, std::size_t max_positions);

// A slice length that leaves well-spread queries one slice per tile and cuts a tile holding
// most of them into about as many slices as there are tiles.
std::size_t tile_slice_limit(u64 query_count) noexcept;

}  // namespace vardelin
