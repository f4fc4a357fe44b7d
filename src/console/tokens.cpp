#include "console/tokens.h"

#include <locale.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace rowkeep {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::int32_t saturate(long double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<long double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (v <= static_cast<long double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Digits in the given base from the start of text; stops at the first other character.
std::int32_t read_based(std::string_view text, int base) {
    long double value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    // &H and friends give the 32-bit pattern, so &HFFFFFFFF is -1.
    if (value > 4294967295.0L) return saturate(value);
    auto bits = static_cast<std::uint32_t>(value);
    return static_cast<std::int32_t>(bits);
}

constexpr double kLargest = std::numeric_limits<double>::max();

// The nearest whole number, halves to the even neighbour, as the default rounding mode
// gives it: adding 2^52 leaves no bits for a fraction, so the sum is rounded there.
double round_half_even(double v) {
    constexpr double kNoFraction = 4503599627370496.0;     // 2^52
    if (!(v > -kNoFraction && v < kNoFraction)) return v;  // whole already, or NaN
    return v < 0 ? -((-v + kNoFraction) - kNoFraction) : (v + kNoFraction) - kNoFraction;
}

// A real in the decimal form only: sign, digits, ".", digits, an exponent. Read without
// the locale, so a decimal comma locale cannot change what "3.7" means.
std::int32_t read_real(std::string_view text) {
    std::string s;
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    auto digits = [&] {
        std::size_t n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            s += text[i++];
            ++n;
        }
        return n;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') s += '-';
        ++i;
    }
    std::size_t whole = digits();
    std::size_t fraction = 0;
    if (i < text.size() && text[i] == '.') {
        s += text[i++];
        fraction = digits();
    }
    if (whole + fraction == 0) return 0;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
        std::string mantissa = s;
        std::size_t at = i++;
        s += 'e';
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) s += text[i++];
        if (digits() == 0) {
            s = mantissa;  // "12e" or "3d" without exponent digits: the number before it
            i = at;
        }
    }
    // The C library's reader in the C locale, and the rounding below, rather than
    // from_chars and nearbyint: those would load the maths library at every start.
    const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    errno = 0;
    const double v = c_locale ? strtod_l(s.c_str(), nullptr, c_locale) : 0;
    const bool out_of_range = errno == ERANGE && (v == 0 || v > kLargest || v < -kLargest);
    if (!c_locale) return 0;
    freelocale(c_locale);
    if (out_of_range)
        return s.find("e-") != std::string::npos
                   ? 0
                   : (s[0] == '-' ? std::numeric_limits<std::int32_t>::min()
                                  : std::numeric_limits<std::int32_t>::max());
    return saturate(round_half_even(v));
}

}  // namespace

namespace {

std::string whole_text_token(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && is_blank(line[i])) ++i;
    std::string value;
    if (i < line.size() && line[i] == '"') {
        ++i;
        while (i < line.size() && line[i] != '"') value += line[i++];
    } else {
        while (i < line.size() && line[i] != ',') value += line[i++];
    }
    return value;
}

}  // namespace

std::string text_token(std::string_view line) {
    std::string value = whole_text_token(line);
    if (value.size() > kMaxTextToken) value.resize(kMaxTextToken);
    return value;
}

std::string text_token(const TextMeasure& m, std::string_view line) {
    std::string value = whole_text_token(line);
    if (value.size() > kMaxTextToken) value.resize(m.offset_of(value, kMaxTextToken));
    return value;
}

std::int32_t integer_token(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && is_blank(line[i])) ++i;
    std::string token;
    bool quoted = false;
    for (; i < line.size() && token.size() < kMaxIntegerToken; ++i) {
        char c = line[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && (c == ',' || is_blank(c))) break;
        token += c;
    }
    if (token.find_first_of(".EeDd") != std::string::npos && token.rfind('&', 0) != 0)
        return read_real(token);
    if (!token.empty() && token[0] == '&') {
        std::string_view rest = std::string_view(token).substr(1);
        if (!rest.empty()) {
            char kind = rest[0];
            if (kind == 'H' || kind == 'h') return read_based(rest.substr(1), 16);
            if (kind == 'O' || kind == 'o') return read_based(rest.substr(1), 8);
            if (kind == 'B' || kind == 'b') return read_based(rest.substr(1), 2);
        }
        return read_based(rest, 8);
    }
    std::size_t j = 0;
    while (j < token.size() && is_blank(token[j])) ++j;
    bool negative = false;
    if (j < token.size() && (token[j] == '+' || token[j] == '-')) negative = token[j++] == '-';
    long double value = 0;
    for (; j < token.size() && token[j] >= '0' && token[j] <= '9'; ++j)
        value = value * 10 + (token[j] - '0');
    return saturate(negative ? -value : value);
}

std::int32_t clamp_rows(long long n) {
    if (n > kMaxRows) return kMaxRows;
    if (n < -static_cast<long long>(kMaxRows)) return -kMaxRows;
    return static_cast<std::int32_t>(n);
}

std::string number_text(long long n) {
    return n < 0 ? std::to_string(n) : " " + std::to_string(n);
}

std::string plain_number(long long n) {
    return std::to_string(n);
}

std::string lower_az(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower_letter(c);
    return out;
}

bool is_numeric_text(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        auto code = static_cast<unsigned char>(c);
        if (code < 43 || code > 57 || code == 47) return false;
    }
    return true;
}

std::string replace_char(std::string_view text, char from, char to) {
    std::string out(text);
    for (char& c : out)
        if (c == from) c = to;
    return out;
}

std::string trim_blanks(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return std::string(text.substr(b, e - b));
}

}  // namespace rowkeep
