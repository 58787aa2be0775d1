#pragma once
#include <cstdint>
#include <string>

#include "core/numeric.hpp"

namespace vardelin {

// Why a geometry or a column could not be decoded. Kept as a code (and the offending type
// value) so that the decoding loops allocate nothing; the text is made only on failure.
struct WkbFault {
    enum class Code : std::uint8_t {
        None,
        Truncated,
        UnsupportedType,
        MemberNotPolygon,
        OffsetOutOfBounds,
        ViewOutOfBounds,
        ViewMissingBuffer,
        ViewOffsetOutOfBounds,
        CountMismatch,
    };

    Code code = Code::None;
    u32 type = 0;  // the geometry type read, for UnsupportedType

    explicit operator bool() const noexcept { return code != Code::None; }
    std::string message() const;
};

}  // namespace vardelin
