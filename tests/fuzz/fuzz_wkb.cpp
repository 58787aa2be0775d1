// Hostile bytes through the WKB reader and both column sources: nothing may read out of
// bounds, and whatever decodes must satisfy the layout's invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "wkb/column.hpp"
#include "wkb/reader.hpp"

using namespace vardelin;

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

void check_layout(const ParsedPolygons& p) {
    require(p.xs.size() == p.ys.size());
    require(!p.ring_offsets.empty() && p.ring_offsets.front() == 0 && p.ring_offsets.back() == p.xs.size());
    require(!p.poly_offsets.empty() && p.poly_offsets.front() == 0 && p.poly_offsets.back() == p.ring_count());
    for (std::size_t i = 1; i < p.ring_offsets.size(); ++i) require(p.ring_offsets[i - 1] <= p.ring_offsets[i]);
    for (std::size_t i = 1; i < p.poly_offsets.size(); ++i) require(p.poly_offsets[i - 1] <= p.poly_offsets[i]);
    if (p.part_poly) {
        require(p.part_poly->size() == p.part_count());
        for (std::size_t j = 0; j < p.part_poly->size(); ++j) {
            require((*p.part_poly)[j] < p.logical_count);
            if (j > 0) require((*p.part_poly)[j - 1] <= (*p.part_poly)[j]);
        }
    } else {
        require(p.part_count() == p.logical_count);
    }
}

template <class F>
void decode(F&& f) {
    try {
        check_layout(f());
    } catch (const Error&) {
    } catch (const std::bad_alloc&) {
    }
}

// One geometry through both passes, with the window sized exactly from the count.
void one_geometry(std::span<const std::uint8_t> blob) {
    WkbReader counter(blob);
    WkbCounts counts;
    if (count_geometry(counter, counts)) return;
    std::vector<double> xs(counts.coords), ys(counts.coords);
    FillWindow window{xs, ys};
    ChunkSmall small;
    WkbReader filler(blob);
    u64 parts = 0;
    require(!fill_geometry(filler, 7, window, small, parts));
    require(window.cursor == counts.coords && filler.pos == counter.pos);
    require(small.ring_offsets.size() == counts.rings + 1 && parts == counts.parts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t mode = data[0] % 3;
    const std::span<const std::uint8_t> rest(data + 2, size - 2);
    if (mode == 0) {
        one_geometry(rest);
        return 0;
    }
    if (mode == 1) {
        // Leading bytes become the offsets, the rest the column's bytes.
        const std::size_t count = std::min<std::size_t>(data[1] % 32, rest.size() / 8);
        std::vector<i64> offsets(count);
        std::memcpy(offsets.data(), rest.data(), count * 8);
        decode([&] { return parse_polygons(rest.subspan(count * 8), offsets); });
        return 0;
    }
    // Leading descriptors, the rest cut into up to three buffers at positions the input names.
    const std::size_t count = std::min<std::size_t>(data[1] % 16, rest.size() / 16);
    const auto views = rest.subspan(0, count * 16);
    auto tail = rest.subspan(count * 16);
    std::vector<std::span<const std::uint8_t>> buffers;
    const std::size_t extra_buffers = data[1] / 64;
    for (std::size_t k = 0; k < extra_buffers && !tail.empty(); ++k) {
        const std::size_t cut = tail[0] % (tail.size());
        buffers.push_back(tail.subspan(1, cut > 0 ? cut - 1 : 0));
        tail = tail.subspan(std::max<std::size_t>(cut, 1));
    }
    buffers.push_back(tail);
    decode([&] { return parse_polygons_chunked(Views(views, buffers)); });
    return 0;
}
