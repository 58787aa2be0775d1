#include "wkb/reader.hpp"

#include <bit>
#include <cstring>

namespace vardelin {

namespace {

using Code = WkbFault::Code;

constexpr u32 kPolygon = 3;
constexpr u32 kMultiPolygon = 6;
constexpr bool kNativeLittle = std::endian::native == std::endian::little;
static_assert(kNativeLittle || std::endian::native == std::endian::big, "mixed-endian hosts are not supported");

constexpr WkbFault fault(Code code, u32 type = 0) noexcept { return WkbFault{code, type}; }

bool read_u32(WkbReader& r, bool little, u32& out) noexcept {
    if (!r.has(4)) return false;
    std::memcpy(&out, r.bytes + r.pos, 4);
    if (little != kNativeLittle) out = __builtin_bswap32(out);
    r.pos += 4;
    return true;
}

// Byte order 1 is little-endian; every other value, not only 0, means big-endian.
bool read_header(WkbReader& r, bool& little, u32& type) noexcept {
    if (!r.has(1)) return false;
    little = r.bytes[r.pos] == 1;
    r.pos += 1;
    return read_u32(r, little, type);
}

// The per-point loop runs with its byte order fixed at compile time.
template <bool Swap>
void copy_points(const std::uint8_t* src, u64 n, double* xs, double* ys) noexcept {
    for (u64 k = 0; k < n; ++k) {
        u64 a = 0;
        u64 b = 0;
        std::memcpy(&a, src + 16 * k, 8);
        std::memcpy(&b, src + 16 * k + 8, 8);
        if constexpr (Swap) {
            a = __builtin_bswap64(a);
            b = __builtin_bswap64(b);
        }
        xs[k] = std::bit_cast<double>(a);
        ys[k] = std::bit_cast<double>(b);
    }
}

}  // namespace

WkbFault count_polygon_body(WkbReader& r, bool little, WkbCounts& counts) {
    u32 rings = 0;
    if (!read_u32(r, little, rings)) return fault(Code::Truncated);
    for (u32 k = 0; k < rings; ++k) {
        u32 points = 0;
        if (!read_u32(r, little, points)) return fault(Code::Truncated);
        // 16 * (2^32 - 1) fits easily in 64 bits; the check is against what is left.
        const u64 bytes = u64{16} * points;
        if (!r.has(bytes)) return fault(Code::Truncated);
        r.pos += bytes;
        counts.coords += points;
    }
    counts.rings += rings;  // every ring read its 4-byte count, so this is bounded too
    counts.parts += 1;
    return {};
}

WkbFault count_geometry(WkbReader& r, WkbCounts& counts) {
    bool little = false;
    u32 type = 0;
    if (!read_header(r, little, type)) return fault(Code::Truncated);
    if (type == kPolygon) return count_polygon_body(r, little, counts);
    if (type != kMultiPolygon) return fault(Code::UnsupportedType, type);
    u32 members = 0;
    if (!read_u32(r, little, members)) return fault(Code::Truncated);
    for (u32 m = 0; m < members; ++m) {
        bool member_little = false;
        u32 member_type = 0;
        if (!read_header(r, member_little, member_type)) return fault(Code::Truncated);
        if (member_type != kPolygon) return fault(Code::MemberNotPolygon);
        if (WkbFault f = count_polygon_body(r, member_little, counts)) return f;
    }
    return {};
}

WkbFault fill_polygon_body(WkbReader& r, bool little, FillWindow& window, std::vector<u64>& ring_offsets) {
    u32 rings = 0;
    if (!read_u32(r, little, rings)) return fault(Code::Truncated);
    for (u32 k = 0; k < rings; ++k) {
        u32 points = 0;
        if (!read_u32(r, little, points)) return fault(Code::Truncated);
        const u64 bytes = u64{16} * points;
        if (!r.has(bytes)) return fault(Code::Truncated);
        // Windows are sized from the counting pass over the same bytes; a store past the end
        // could only mean the bytes changed in between, and is refused, never written.
        if (points > window.xs.size() - window.cursor || window.xs.size() != window.ys.size()) {
            return fault(Code::CountMismatch);
        }
        double* xs = window.xs.data() + window.cursor;
        double* ys = window.ys.data() + window.cursor;
        if (little == kNativeLittle) {
            copy_points<false>(r.bytes + r.pos, points, xs, ys);
        } else {
            copy_points<true>(r.bytes + r.pos, points, xs, ys);
        }
        r.pos += bytes;
        window.cursor += points;
        ring_offsets.push_back(window.cursor);
    }
    return {};
}

WkbFault fill_geometry(WkbReader& r, u32 geometry, FillWindow& window, ChunkSmall& out, u64& parts) {
    bool little = false;
    u32 type = 0;
    if (!read_header(r, little, type)) return fault(Code::Truncated);
    if (type == kPolygon) {
        if (WkbFault f = fill_polygon_body(r, little, window, out.ring_offsets)) return f;
        out.poly_offsets.push_back(out.ring_offsets.size() - 1);
        out.part_poly.push_back(geometry);
        parts = 1;
        return {};
    }
    if (type != kMultiPolygon) return fault(Code::UnsupportedType, type);
    u32 members = 0;
    if (!read_u32(r, little, members)) return fault(Code::Truncated);
    for (u32 m = 0; m < members; ++m) {
        bool member_little = false;
        u32 member_type = 0;
        if (!read_header(r, member_little, member_type)) return fault(Code::Truncated);
        if (member_type != kPolygon) return fault(Code::MemberNotPolygon);
        if (WkbFault f = fill_polygon_body(r, member_little, window, out.ring_offsets)) return f;
        out.poly_offsets.push_back(out.ring_offsets.size() - 1);
        out.part_poly.push_back(geometry);
    }
    parts = members;
    return {};
}

}  // namespace vardelin
