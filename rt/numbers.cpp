// Number formatting by "0"/"#"/"." masks, number parsing, integer text.
//
// Digits are produced with to_chars/from_chars rather than printf/strtod so that neither direction depends
// on LC_NUMERIC: "." stays the decimal point even if a library switches the numeric locale.
#include "rt/numbers.h"

#include "rt/result.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

struct MaskShape {
    int int_places = 0;  // placeholders before the point
    int frac_places = 0; // placeholders after the point
    bool usable = false;
};

MaskShape read_mask(std::string_view mask) {
    MaskShape s;
    bool seen_point = false;
    for (char c : mask) {
        if (c == '0' || c == '#') {
            (seen_point ? s.frac_places : s.int_places)++;
        } else if (c == '.' && !seen_point) {
            seen_point = true;
        } else {
            return s; // thousands separators, literals and the like are not supported
        }
    }
    s.usable = !mask.empty();
    return s;
}

// Moves v away from zero by one unit of the d-th decimal only when the remainder is more than half a unit;
// an exact half, and the representation error just below it, are dropped.
double round_to_decimals(double v, int d) {
    double i = std::trunc(v);
    double f = v - i;
    if (d == 0) {
        double t = std::trunc(f * 1e15);
        if (t > 5e14) return std::ceil(v);
        if (t < -5e14) return std::floor(v);
        return v;
    }
    if (f == 0) return v;
    double p = std::pow(10.0, d);
    double fp = f * p;
    double ri = std::trunc(fp);
    double r = fp - ri;
    double big_f = std::trunc(r * std::trunc(1e15 / p));
    double e = std::trunc(5e14 / p);
    if (big_f > e)
        ri += 1;
    else if (big_f < -e)
        ri -= 1;
    return ri / p + i;
}

struct Digits {
    std::string whole;    // W: integer digits without leading zeros
    std::string fraction; // D: decimals without trailing zeros
    bool negative = false;
};

Digits make_digits(double v, int d) {
    int k = v == 0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
    int zeros = 0;
    if (k < 0 && -k >= d) {
        v = 0;
    } else if (k > 19) {
        zeros = k - 19;
        v *= std::pow(10.0, -zeros);
    }
    v = round_to_decimals(v, d);

    Digits out;
    out.negative = v < 0;
    double mag = std::fabs(v);
    double ip = std::trunc(mag);
    char buf[400];
    if (ip != 0) {
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<unsigned long long>(ip));
        out.whole.assign(buf, r.ptr);
    } else if (v == 0) {
        out.whole = "0";
    }
    out.whole.append(zeros, '0');
    if (d > 0) {
        auto r = std::to_chars(buf, buf + sizeof buf, mag - ip, std::chars_format::fixed, d);
        std::string_view printed(buf, r.ptr - buf);
        if (printed[0] == '1') {
            // The fraction rounded up to a whole unit in printing; carry it into the integer digits.
            out.whole = std::to_string(static_cast<unsigned long long>(ip) + 1) + std::string(zeros, '0');
            printed = "0";
        }
        std::size_t point = printed.find('.');
        out.fraction =
            point == std::string_view::npos ? std::string() : std::string(printed.substr(point + 1));
        while (!out.fraction.empty() && out.fraction.back() == '0') out.fraction.pop_back();
    }
    return out;
}

// Walks the mask once; with out == nullptr only counts. Returns the length of the result.
std::size_t write_masked(std::string_view mask, const MaskShape& shape, const Digits& dg, char* out) {
    std::size_t len = 0;
    auto put = [&](char c) {
        if (out) out[len] = c;
        ++len;
    };
    int w = static_cast<int>(dg.whole.size());
    int fill = shape.int_places - w; // leading placeholders with no digit of their own
    std::size_t wi = 0, fi = 0;
    bool started = false, in_fraction = false;
    int int_seen = 0;
    for (char c : mask) {
        if (!started) {
            started = true;
            if (dg.negative) put('-');
            for (int s = 0; s < w - shape.int_places; ++s) put(dg.whole[wi++]);
        }
        if (c == '.') {
            in_fraction = true;
            put('.');
        } else if (!in_fraction) {
            if (int_seen++ < fill) {
                if (c == '0') put('0');
            } else {
                put(dg.whole[wi++]);
            }
        } else if (fi < dg.fraction.size()) {
            put(dg.fraction[fi++]);
        } else if (c == '0') {
            put('0');
        }
    }
    return len;
}

} // namespace

std::string rt_format_number(double v, std::string_view mask) {
    MaskShape shape = read_mask(mask);
    if (!shape.usable || !std::isfinite(v) || shape.frac_places > 15) {
        rt_set_error(RT_NOT_ALLOWED);
        return {};
    }
    Digits dg = make_digits(v, shape.frac_places);
    std::string result(write_masked(mask, shape, dg, nullptr), '\0');
    write_masked(mask, shape, dg, result.data());
    rt_set_error(RT_OK);
    return result;
}

namespace {

int radix_digit(char c, int radix) {
    int d = -1;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d >= 0 && d < radix ? d : -1;
}

double parse_radix(std::string_view digits, int radix) {
    uint64_t value = 0; // wraps like the 64-bit register it stands for, never undefined
    for (char c : digits) {
        int d = radix_digit(c, radix);
        if (d < 0) break;
        value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
    }
    return static_cast<double>(static_cast<int64_t>(value));
}

std::size_t count_digits(std::string_view s, std::size_t at) {
    std::size_t n = 0;
    while (at + n < s.size() && s[at + n] >= '0' && s[at + n] <= '9') ++n;
    return n;
}

// The power of ten of the first significant digit of a number as assembled above ("-" digits "." digits
// "e" sign digits), the exponent counted in. Only its sign is asked for, so the exponent saturates.
long long decimal_order(std::string_view num) {
    constexpr long long EXPONENT_CAP = 1'000'000'000;
    const std::size_t e = num.find('e');
    std::string_view mantissa = num.substr(0, e);
    if (!mantissa.empty() && mantissa[0] == '-') mantissa.remove_prefix(1);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    long long order = 0;
    for (std::size_t i = 0; i < mantissa.size(); ++i) {
        if (mantissa[i] == '.' || mantissa[i] == '0') continue;
        order = i < point ? static_cast<long long>(point - i) - 1 : -static_cast<long long>(i - point);
        break;
    }
    if (e == std::string_view::npos) return order;
    std::string_view exponent = num.substr(e + 1);
    const bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) exponent.remove_prefix(1);
    long long value = 0;
    for (char c : exponent) value = std::min(value * 10 + (c - '0'), EXPONENT_CAP);
    return order + (negative ? -value : value);
}

} // namespace

double rt_parse_number(std::string_view text) {
    std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return 0;
    std::string_view s = text.substr(start);
    if (s.size() >= 2) {
        if (s[0] == '&') {
            switch (s[1]) {
            case 'H':
            case 'h': return parse_radix(s.substr(2), 16);
            case 'B':
            case 'b': return parse_radix(s.substr(2), 2);
            case 'O':
            case 'o': return parse_radix(s.substr(2), 8);
            default: return parse_radix(s.substr(1), 8);
            }
        }
        if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return 0;
    }
    // Only a decimal number is taken: sign, digits, point, digits, exponent ("D" counts as "E").
    // Hexadecimal floats, "inf" and "nan" are not numbers here.
    std::string num;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') num += '-';
        ++i;
    }
    std::size_t int_digits = count_digits(s, i);
    num.append(s.substr(i, int_digits));
    i += int_digits;
    std::size_t frac_digits = 0;
    if (i < s.size() && s[i] == '.') {
        frac_digits = count_digits(s, i + 1);
        if (frac_digits > 0) {
            num += '.';
            num.append(s.substr(i + 1, frac_digits));
        }
        i += 1 + frac_digits;
    }
    if (int_digits + frac_digits == 0) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exp = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp += s[j++];
        std::size_t exp_digits = count_digits(s, j);
        if (exp_digits > 0) num += exp.append(s.substr(j, exp_digits));
    }
    double value = 0;
    auto r = std::from_chars(num.data(), num.data() + num.size(), value);
    if (r.ec == std::errc::result_out_of_range) {
        // Like strtod: overflow gives an infinity of the right sign, underflow a zero. Which of the two it
        // was follows from the size of the number, not from the sign of its exponent ("0.000...1" has none).
        bool negative = num[0] == '-';
        bool tiny = decimal_order(num) < 0;
        return tiny ? (negative ? -0.0 : 0.0) : (negative ? -HUGE_VAL : HUGE_VAL);
    }
    return value;
}

std::string rt_int_to_string(int32_t v) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string rt_uint_to_string(uint32_t v) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}
