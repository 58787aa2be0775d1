#pragma once
#include <string>

namespace vardelin {

// Shortest text that reads back as the same double, always with a fraction part ("1.0",
// "-2.5"); magnitudes of 1e16 and more or below 1e-4 (zero excepted) as mantissa and exponent
// without plus sign or leading zeros ("1e16", "1.5e-5"); "NaN", "inf", "-inf".
std::string format_shortest(double v);

// Scientific notation with three fraction digits, correctly rounded ("1.500e0", "1.200e-4");
// "NaN", "inf", "-inf".
std::string format_sci3(double v);

}  // namespace vardelin
