#pragma once
#include <string>
#include <string_view>

namespace vardelin {

// The quoted form of a text inside an error message: enclosed in double quotes, with a
// backslash before each double quote and backslash, \0 \t \r \n for those controls, and
// \u{hex} for other characters that would not show (controls, format characters, separators
// other than the space, combining marks, private-use and non-characters). Bytes that are not
// UTF-8 show as \u{fffd}.
std::string debug_quoted(std::string_view utf8);

}  // namespace vardelin
