#include <cstdint>
#include <vector>

#include "engine/wkb_constructors.hpp"
#include "lib/convert.hpp"
#include "lib/py_engine.hpp"

namespace vardelin::lib {

void bind_engine_wkb(EngineClass& cls) {
    cls.def_static(
        "from_wkb_polygons",
        [](const InArray<std::uint8_t>& data, const InArray<i64>& offsets) {
            const auto d = contiguous(data, "data must be a contiguous uint8 array");
            const auto o = contiguous(offsets, "offsets must be a contiguous int64 array");
            return wrap_engine(engine_from_wkb_polygons(d, o));
        },
        nb::arg("data").noconvert(), nb::arg("offsets").noconvert(),
        "Construct a polygon Engine directly from a WKB column, with no shapely roundtrip.\n"
        "\n"
        "Geometry i is data[offsets[i]..offsets[i+1]]. Decodes Polygon / MultiPolygon in one\n"
        "pass. Raises for any other WKB variant so the caller can fall back to shapely.");

    cls.def_static(
        "from_wkb_polygon_views",
        [](const InArray<std::uint8_t>& views, nb::handle buffers) {
            const std::vector<InArray<std::uint8_t>> arrays = to_byte_arrays(buffers, "buffers");
            const auto v = contiguous(views, "views must be a contiguous uint8 array");
            std::vector<std::span<const std::uint8_t>> bufs;
            bufs.reserve(arrays.size());
            for (const auto& a : arrays) bufs.push_back(contiguous(a, "each buffer must be a contiguous uint8 array"));
            return wrap_engine(engine_from_wkb_polygon_views(v, bufs));
        },
        nb::arg("views").noconvert(), nb::arg("buffers").none(),
        "Construct from Arrow BinaryView descriptors and the buffers they name without copying");
}

}  // namespace vardelin::lib
