#include "html/word_records.h"

#include <climits>
#include <cstring>

namespace rowkeep {

bool WordFileReader::read(std::size_t values) {
    if (in_.at_end()) return false;
    const std::uint64_t start = in_.tell();
    in_.read_line(line_);
    if (split_plain(values)) return true;
    in_.seek(start);
    for (std::size_t k = 0; k < values; ++k) {
        in_.read_value(read_apart_[k]);
        values_[k] = read_apart_[k];
    }
    return true;
}

// The token rules read such a line as exactly these values and then take its line end,
// just as the line reader did: the record ends where the line does.
bool WordFileReader::split_plain(std::size_t values) {
    const std::string_view line = line_;
    std::size_t at = 0;
    for (std::size_t k = 0; k < values; ++k) {
        if (k > 0) {
            if (at >= line.size() || line[at] != ',') return false;
            ++at;
        }
        if (at >= line.size() || line[at] != '"') return false;
        const void* close = std::memchr(line.data() + at + 1, '"', line.size() - at - 1);
        if (!close) return false;
        const auto end = static_cast<std::size_t>(static_cast<const char*>(close) - line.data());
        values_[k] = line.substr(at + 1, end - at - 1);
        at = end + 1;
    }
    return at == line.size();
}

long long leading_number(std::string_view text) {
    std::size_t at = 0;
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (at < text.size() && space(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    unsigned long long value = 0;
    bool over = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const unsigned digit = static_cast<unsigned>(text[at] - '0');
        if (value > (ULLONG_MAX - digit) / 10) over = true;
        if (!over) value = value * 10 + digit;
    }
    // Out of range the library's reading saturates.
    const unsigned long long limit = negative ? 1ULL + LLONG_MAX : LLONG_MAX;
    if (over || value > limit) return negative ? LLONG_MIN : LLONG_MAX;
    if (negative) return value == limit ? LLONG_MIN : -static_cast<long long>(value);
    return static_cast<long long>(value);
}

void set_word_id(std::string& id, long long number) {
    const Digits digits(number);
    const std::string_view text = digits;
    id.assign("id");
    if (text.size() < 6) id.append(6 - text.size(), '0');
    id.append(text);
}

bool contains_id_any_case(std::string_view text) {
    for (std::size_t k = 0; k + 1 < text.size(); ++k)
        if ((text[k] == 'i' || text[k] == 'I') && (text[k + 1] == 'd' || text[k + 1] == 'D'))
            return true;
    return false;
}

}  // namespace rowkeep
