#pragma once
#include <stdexcept>
#include <string>

namespace vardelin {

// A failure caused by the caller's input. The binding layer raises it as ValueError with
// exactly this message, so the message is part of the interface.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message), message_(message) {}
    explicit Error(const char* message) : Error(std::string(message)) {}
    // The whole text: what() ends at the first NUL, and a quoted argument may hold one.
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// A broken internal invariant. It must surface as a Python exception, never abort.
class InternalError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

}  // namespace vardelin
