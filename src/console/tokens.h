// The token and integer rules of typed answers, and the small text rules shared by
// every subsystem. Pure functions over bytes in the active code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/text_measure.h"

namespace rowkeep {

constexpr std::size_t kMaxTextToken = 4096;
constexpr std::size_t kMaxIntegerToken = 67;

// The first text value of a typed line: quotes, commas and blanks as the prompts read them.
std::string text_token(std::string_view line);
// The same, at most kMaxTextToken characters of the code page (never part of one).
std::string text_token(const TextMeasure& m, std::string_view line);

// The integer value of a typed line: reals rounded half to even, &H/&O/&B and & + digits,
// 0 for anything without leading digits; saturated to the 32-bit range.
std::int32_t integer_token(std::string_view line);

// The most rows a table may hold, and the bound of every typed row number and count.
constexpr std::int32_t kMaxRows = 2147483647;

// n clamped into -kMaxRows..kMaxRows. Typed row numbers and counts pass through it before
// any arithmetic, and sums of row numbers are made in 64 bits and brought back through it,
// so no step or page move can wrap.
std::int32_t clamp_rows(long long n);

// " 7", "-7", " 0": the signed form numbers take on the screen and in files.
std::string number_text(long long n);
// "7", "-7": the form numbers take inside file names and labels.
std::string plain_number(long long n);

// Lower-cases the letters A to Z only; every other byte stays as it is.
std::string lower_az(std::string_view text);
inline char lower_letter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the text is not empty and made only of "+", ",", "-", ".", "0" to "9".
bool is_numeric_text(std::string_view text);

// Replaces every occurrence of a byte by another.
std::string replace_char(std::string_view text, char from, char to);

// Blanks (code 32) removed at both ends.
std::string trim_blanks(std::string_view text);

}  // namespace rowkeep
