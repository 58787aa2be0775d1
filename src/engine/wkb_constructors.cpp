#include "engine/wkb_constructors.hpp"

#include "core/timing.hpp"
#include "engine/polygons.hpp"
#include "wkb/column.hpp"

namespace vardelin {

Engine engine_from_wkb_polygons(std::span<const std::uint8_t> data, std::span<const i64> offsets) {
    const Stopwatch clock;
    ParsedPolygons batch = parse_polygons(data, offsets);
    const u64 decode_ns = clock.elapsed_or_zero();
    return from_parsed_polygons(std::move(batch), decode_ns);
}

Engine engine_from_wkb_polygon_views(std::span<const std::uint8_t> views,
                                     std::span<const std::span<const std::uint8_t>> buffers) {
    const Stopwatch clock;
    ParsedPolygons batch = parse_polygons_chunked(Views(views, buffers));
    const u64 decode_ns = clock.elapsed_or_zero();
    return from_parsed_polygons(std::move(batch), decode_ns);
}

}  // namespace vardelin
