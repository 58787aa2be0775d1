#pragma once
#include <stdexcept>
#include <string>

namespace vardelin {

// A failure caused by the caller's input. The binding layer raises it as ValueError with
// exactly this message, so the message is part of the interface.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A broken internal invariant. It must surface as a Python exception, never abort.
class InternalError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

}  // namespace vardelin
