#pragma once
#include <span>

#include "core/error.hpp"

namespace vardelin {

// An array argument whose contiguity is judged only when the checks reach it: an optional
// array may be checked after the contents of the others, and its refusal must not come first.
template <class T>
struct DeferredArray {
    std::span<const T> values;
    const char* not_contiguous = nullptr;  // the refusal to raise instead of handing out values

    std::span<const T> get() const {
        if (not_contiguous) throw Error(not_contiguous);
        return values;
    }
};

}  // namespace vardelin
