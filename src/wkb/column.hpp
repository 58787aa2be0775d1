#pragma once
#include <cstdint>
#include <span>

#include "core/numeric.hpp"
#include "core/parsed_polygons.hpp"
#include "wkb/fault.hpp"

namespace vardelin {

// A WKB column held in one byte array: geometry i is data[offsets[i] .. offsets[i+1]].
class Contiguous {
public:
    Contiguous(std::span<const std::uint8_t> data, std::span<const i64> offsets) noexcept
        : data_(data), offsets_(offsets) {}
    std::size_t blob_count() const noexcept { return offsets_.size() < 2 ? 0 : offsets_.size() - 1; }
    // Offsets are read as unsigned, so a negative one is beyond every length.
    WkbFault blob(std::size_t i, std::span<const std::uint8_t>& out) const noexcept;

private:
    std::span<const std::uint8_t> data_;
    std::span<const i64> offsets_;
};

// A column of Arrow BinaryView descriptors (16 bytes each, little-endian u32 fields: length,
// then the data inline when it is 12 bytes or less, else prefix, buffer index and offset)
// over the buffers they name. Descriptors may name the same bytes any number of times.
class Views {
public:
    Views(std::span<const std::uint8_t> views, std::span<const std::span<const std::uint8_t>> buffers) noexcept
        : views_(views), buffers_(buffers) {}
    std::size_t blob_count() const noexcept { return views_.size() / 16; }
    WkbFault blob(std::size_t i, std::span<const std::uint8_t>& out) const noexcept;

private:
    std::span<const std::uint8_t> views_;
    std::span<const std::span<const std::uint8_t>> buffers_;
};

// Decodes a whole column in parallel: a counting pass, one allocation of the coordinate
// arrays, a filling pass into per-chunk windows, then the chunks' offsets joined in order.
// All or nothing: a fault in any chunk throws Error with its message; sizes that cannot be
// allocated throw std::bad_alloc. Every geometry is one logical polygon, also one without
// parts.
ParsedPolygons parse_polygons_chunked(const Contiguous& blobs);
ParsedPolygons parse_polygons_chunked(const Views& blobs);

ParsedPolygons parse_polygons(std::span<const std::uint8_t> data, std::span<const i64> offsets);

}  // namespace vardelin
