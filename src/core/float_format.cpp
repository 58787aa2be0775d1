#include "core/float_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vardelin {

namespace {

std::string non_finite(double v) {
    if (std::isnan(v)) return "NaN";
    return v < 0 ? "-inf" : "inf";
}

// "1.5e-05" or "1.500e+00": the exponent loses its plus sign and leading zeros.
std::string tidy_exponent(const char* text, std::size_t len) {
    std::string s(text, len);
    const auto e = s.find('e');
    if (e == std::string::npos) return s;
    std::string mantissa = s.substr(0, e);
    std::size_t i = e + 1;
    const bool negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    while (i + 1 < s.size() && s[i] == '0') ++i;
    return mantissa + "e" + (negative ? "-" : "") + s.substr(i);
}

}  // namespace

std::string format_shortest(double v) {
    if (!std::isfinite(v)) return non_finite(v);
    char buf[64];
    const double a = std::fabs(v);
    if (a != 0.0 && (a >= 1e16 || a < 1e-4)) {
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
        return tidy_exponent(buf, static_cast<std::size_t>(r.ptr - buf));
    }
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    std::string s(buf, r.ptr);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

std::string format_sci3(double v) {
    if (!std::isfinite(v)) return non_finite(v);
    char buf[64];
    const int len = std::snprintf(buf, sizeof buf, "%.3e", v);
    return tidy_exponent(buf, static_cast<std::size_t>(len));
}

}  // namespace vardelin
