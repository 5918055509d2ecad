// rt_format_number with masks: a usable mask gives a text of digits, at most one sign and exactly
// the mask's points, that reads back as the value to within the mask's last decimal.
// The input is eight bytes of a double, then the mask.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "rt/result.h"
#include "rt/numbers.h"

namespace {

struct Mask {
    int int_places = 0;
    int frac_places = 0;
    int points = 0;
    bool only_placeholders = true; // nothing but "0", "#" and at most one "."
};

Mask read_mask(std::string_view mask) {
    Mask m;
    for (char c : mask) {
        if (c == '0' || c == '#')
            (m.points ? m.frac_places : m.int_places)++;
        else if (c == '.' && m.points == 0)
            m.points = 1;
        else
            m.only_placeholders = false;
    }
    return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < sizeof(double)) return 0;
    double v = 0;
    std::memcpy(&v, data, sizeof v);
    const std::string_view mask(reinterpret_cast<const char*>(data) + sizeof v, size - sizeof v);
    const std::string text = rt_format_number(v, mask);

    const Mask m = read_mask(mask);
    const bool usable = !mask.empty() && m.only_placeholders && m.frac_places <= 15 && std::isfinite(v);
    if (!usable) {
        fuzz_check(text.empty() && rt_last_error() == RT_NOT_ALLOWED, "an unusable mask gave a text");
        return 0;
    }
    fuzz_check(rt_last_error() == RT_OK, "a usable mask was refused");
    // Only "#" placeholders write nothing for a value below one, as they do for missing digits.
    fuzz_check(!text.empty() || mask.find_first_not_of('#') == std::string_view::npos,
               "a mask with a \"0\" or a point gave no text");

    int points = 0, fraction_digits = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '-') {
            fuzz_check(i == 0, "a sign after the start");
        } else if (c == '.') {
            ++points;
        } else {
            fuzz_check(c >= '0' && c <= '9', "a character that is neither digit, sign nor point");
            if (points) ++fraction_digits;
        }
    }
    fuzz_check(points == m.points, "the points of the text and the mask differ");
    fuzz_check(fraction_digits <= m.frac_places, "more decimals than placeholders");
    // A mask with no integer placeholder still gets every integer digit, so the text reads back.
    const double back = rt_parse_number(text);
    const double unit = std::pow(10.0, -m.frac_places);
    fuzz_check(std::fabs(back - v) <= unit * 1.000001 + std::fabs(v) * 1e-14, "reads back as another value");
    return 0;
}
