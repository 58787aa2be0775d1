#include "wkb/column.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include "core/error.hpp"
#include "core/memory.hpp"
#include "core/parallel.hpp"
#include "core/row_limit.hpp"
#include "wkb/reader.hpp"

namespace vardelin {

namespace {

using Code = WkbFault::Code;

constexpr std::size_t kMinChunk = 256;

u32 load_le32(const std::uint8_t* p) noexcept {
    u32 v = 0;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

[[noreturn]] void raise(const WkbFault& f) { throw Error(f.message()); }

// The fault of the column's first faulty geometry, whatever order the workers take the chunks
// in: a failing chunk records its fault when it lies before every chunk recorded so far, and
// only chunks after the recorded one are skipped, so the earliest failing chunk always runs to
// its first faulty geometry. The same column then always gets the same message.
class FirstFault {
public:
    bool after_recorded(std::size_t chunk) const noexcept {
        return chunk > first_chunk_.load(std::memory_order_relaxed);
    }
    void record(std::size_t chunk, const WkbFault& f) {
        const std::lock_guard lock(mutex_);
        if (chunk < first_chunk_.load(std::memory_order_relaxed)) {
            fault_ = f;
            first_chunk_.store(chunk, std::memory_order_relaxed);
        }
    }
    void raise_recorded() const {
        if (fault_) raise(fault_);
    }

private:
    std::atomic<std::size_t> first_chunk_{std::numeric_limits<std::size_t>::max()};
    std::mutex mutex_;
    WkbFault fault_;
};

WkbCounts add_counts(const WkbCounts& a, const WkbCounts& b) {
    return {checked_add(a.coords, b.coords), checked_add(a.rings, b.rings), checked_add(a.parts, b.parts)};
}

// Descriptors may name the same bytes any number of times, so the counts can promise far more
// than the input holds: everything the decode keeps at its peak (both coordinate arrays, the
// chunks' offsets and the joined ones) is checked at once, before the first allocation.
void ensure_decode_fits(const WkbCounts& t) {
    u64 bytes = checked_mul(t.coords, 2 * sizeof(double));
    bytes = checked_add(bytes, checked_mul(t.rings, 2 * sizeof(u64)));
    bytes = checked_add(bytes, checked_mul(t.parts, 2 * (sizeof(u64) + sizeof(u32))));
    ensure_allocatable(bytes);
}

template <class Blobs>
ParsedPolygons decode_column(const Blobs& blobs) {
    ParsedPolygons out;
    const std::size_t n = blobs.blob_count();
    if (n == 0) return out;
    // The entries of the part map are 32-bit geometry numbers, and every geometry is a logical polygon.
    ensure_u32_indexable(n, "logical polygon dataset");

    const std::size_t threads = worker_threads();
    const std::size_t chunk = std::max((n + threads - 1) / threads, kMinChunk);

    FirstFault counting;
    const std::vector<WkbCounts> counts = map_chunks(n, chunk, [&](std::size_t c, std::size_t b, std::size_t e) {
        WkbCounts total;
        if (counting.after_recorded(c)) return total;
        std::span<const std::uint8_t> blob;
        for (std::size_t i = b; i < e; ++i) {
            WkbFault f = blobs.blob(i, blob);
            WkbReader reader(blob);
            WkbCounts one;
            if (!f) f = count_geometry(reader, one);
            if (f) {
                counting.record(c, f);
                break;
            }
            total = add_counts(total, one);
        }
        return total;
    });
    counting.raise_recorded();

    std::vector<u64> bases(counts.size());
    WkbCounts total;
    for (std::size_t c = 0; c < counts.size(); ++c) {
        bases[c] = total.coords;
        total = add_counts(total, counts[c]);
    }
    ensure_decode_fits(total);
    out.xs.resize(total.coords);
    out.ys.resize(total.coords);

    std::vector<ChunkSmall> smalls = map_chunks(n, chunk, [&](std::size_t c, std::size_t b, std::size_t e) {
        ChunkSmall small;
        small.ring_offsets.reserve(counts[c].rings + 1);
        small.poly_offsets.reserve(counts[c].parts + 1);
        small.part_poly.reserve(counts[c].parts);
        FillWindow window{std::span<double>(out.xs).subspan(bases[c], counts[c].coords),
                          std::span<double>(out.ys).subspan(bases[c], counts[c].coords)};
        std::span<const std::uint8_t> blob;
        for (std::size_t i = b; i < e; ++i) {
            if (WkbFault f = blobs.blob(i, blob)) raise(f);
            WkbReader reader(blob);
            u64 parts = 0;
            if (WkbFault f = fill_geometry(reader, static_cast<u32>(i), window, small, parts)) raise(f);
            if (parts != 1) small.multi = true;
        }
        if (window.cursor != counts[c].coords) raise(WkbFault{Code::CountMismatch});
        return small;
    });

    std::size_t rings = 0;
    std::size_t parts = 0;
    bool multi = false;
    for (const ChunkSmall& s : smalls) {
        rings += s.ring_offsets.size() - 1;
        parts += s.poly_offsets.size() - 1;
        multi = multi || s.multi;
    }
    out.ring_offsets.resize(rings + 1);
    out.poly_offsets.resize(parts + 1);
    std::vector<u32> part_poly;
    if (multi) part_poly.reserve(parts);
    std::size_t ring_at = 1;
    std::size_t part_at = 1;
    u64 ring_base = 0;
    for (std::size_t c = 0; c < smalls.size(); ++c) {
        ChunkSmall& s = smalls[c];
        for (std::size_t k = 1; k < s.ring_offsets.size(); ++k) out.ring_offsets[ring_at++] = s.ring_offsets[k] + bases[c];
        for (std::size_t k = 1; k < s.poly_offsets.size(); ++k) out.poly_offsets[part_at++] = s.poly_offsets[k] + ring_base;
        ring_base += s.ring_offsets.size() - 1;
        if (multi) part_poly.insert(part_poly.end(), s.part_poly.begin(), s.part_poly.end());
        s = ChunkSmall{};
    }
    if (multi) out.part_poly = std::move(part_poly);
    out.logical_count = n;
    return out;
}

}  // namespace

WkbFault Contiguous::blob(std::size_t i, std::span<const std::uint8_t>& out) const noexcept {
    if (i + 1 >= offsets_.size()) return WkbFault{Code::OffsetOutOfBounds};
    const u64 start = static_cast<u64>(offsets_[i]);
    const u64 end = static_cast<u64>(offsets_[i + 1]);
    if (end < start || end > data_.size()) return WkbFault{Code::OffsetOutOfBounds};
    out = data_.subspan(start, end - start);
    return {};
}

WkbFault Views::blob(std::size_t i, std::span<const std::uint8_t>& out) const noexcept {
    if (i >= blob_count()) return WkbFault{Code::ViewOutOfBounds};
    const std::uint8_t* d = views_.data() + 16 * i;
    const u32 len = load_le32(d);
    if (len <= 12) {
        out = std::span<const std::uint8_t>(d + 4, len);
        return {};
    }
    const u32 buffer = load_le32(d + 8);
    const u32 offset = load_le32(d + 12);
    if (buffer >= buffers_.size()) return WkbFault{Code::ViewMissingBuffer};
    const std::span<const std::uint8_t> b = buffers_[buffer];
    if (u64{offset} + len > b.size()) return WkbFault{Code::ViewOffsetOutOfBounds};
    out = b.subspan(offset, len);
    return {};
}

ParsedPolygons parse_polygons_chunked(const Contiguous& blobs) { return decode_column(blobs); }
ParsedPolygons parse_polygons_chunked(const Views& blobs) { return decode_column(blobs); }

ParsedPolygons parse_polygons(std::span<const std::uint8_t> data, std::span<const i64> offsets) {
    return parse_polygons_chunked(Contiguous(data, offsets));
}

}  // namespace vardelin
