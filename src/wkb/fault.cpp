#include "wkb/fault.hpp"

namespace vardelin {

std::string WkbFault::message() const {
    switch (code) {
        case Code::None: return "";
        case Code::Truncated: return "truncated WKB";
        case Code::UnsupportedType: return "unsupported WKB geometry type " + std::to_string(type);
        case Code::MemberNotPolygon: return "MultiPolygon member is not a Polygon";
        case Code::OffsetOutOfBounds: return "WKB offset out of bounds";
        case Code::ViewOutOfBounds: return "WKB view out of bounds";
        case Code::ViewMissingBuffer: return "WKB view names a missing buffer";
        case Code::ViewOffsetOutOfBounds: return "WKB view offset out of bounds";
        case Code::CountMismatch: return "decode coordinate count mismatch";
    }
    return "";
}

}  // namespace vardelin
