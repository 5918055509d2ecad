// rt_parse_number against the C library: for every decimal text (after "D" is read as "E") it gives
// what strtod gives, bit for bit; radix forms stay inside the 64-bit range; nothing gives NaN.
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "rt/numbers.h"

namespace {

bool decimal_char(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = rt_parse_number(text);
    fuzz_check(!std::isnan(value), "a text parsed as NaN");

    std::string rest(text.substr(std::min(text.find_first_not_of(' '), text.size())));
    if (rest.starts_with('&')) {
        fuzz_check(std::isfinite(value) && value == std::trunc(value), "a radix form gave a fraction");
        fuzz_check(std::fabs(value) <= 9223372036854775808.0, "a radix form left the 64-bit range");
        return 0;
    }
    if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        fuzz_check(value == 0, "a 0x text was not 0");
        return 0;
    }
    // strtod stops at a NUL; the reference then sees only the text before it.
    rest.resize(std::strlen(rest.c_str()));
    for (char& c : rest) {
        if (c == 'D') c = 'E';
        if (c == 'd') c = 'e';
    }
    char* end = nullptr;
    const double reference = std::strtod(rest.c_str(), &end);
    // strtod also knows blanks of other kinds, hexadecimal floats, "inf" and "nan"; those are not
    // numbers to this parser, so only a purely decimal prefix is compared.
    for (const char* p = rest.c_str(); p < end; ++p)
        if (!decimal_char(*p)) return 0;
    if (end == rest.c_str()) {
        fuzz_check(value == 0 && !std::signbit(value), "a text without a number was not 0");
        return 0;
    }
    fuzz_check(std::memcmp(&value, &reference, sizeof value) == 0, "differs from strtod");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C");
    return 0;
}
