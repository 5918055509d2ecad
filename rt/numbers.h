// Numbers to text and text to numbers. "." is always the decimal point: the program never changes
// LC_NUMERIC from "C".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Formats v by a mask of "0", "#" and "." (for example "0.##"). Empty when the mask is unusable.
[[nodiscard]] std::string rt_format_number(double v, std::string_view mask);
// Reads a number from the start of text: blanks skipped, &H/&B/&O/& radix forms, D exponents.
// 0 when there is no number; trailing text is ignored.
[[nodiscard]] double rt_parse_number(std::string_view text);
// Decimal text of a 32-bit value, signed ("%d") and unsigned ("%u") forms.
[[nodiscard]] std::string rt_int_to_string(int32_t v);
[[nodiscard]] std::string rt_uint_to_string(uint32_t v);
