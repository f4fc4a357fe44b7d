#include "html/reference_scanner.h"

#include "console/index.h"
#include "console/tokens.h"
#include "html/html_names.h"

namespace rowkeep::testing {

namespace {

constexpr std::string_view kLineMark = "==================== line.03$ ====================";

// The shifted copies of a line cost about the square of its length. A line gets them
// only when it is at most kLongestShiftedLine long and the copies of the whole run stay
// within kShiftedFloor plus kShiftedPerByte times the bytes scanned: the trace grows with
// the pages, never with the square of a long cell or of many long ones.
constexpr int kLongestShiftedLine = 4096;
constexpr unsigned long long kShiftedFloor = 16ULL << 20;
constexpr unsigned long long kShiftedPerByte = 4;

void put(const TraceSink& trace, std::string_view text, Ending ending = Ending::newline) {
    if (trace) trace(text, ending);
}

void put_value(const TraceSink& trace, std::string_view label, long long n) {
    if (!trace) return;
    trace(label, Ending::stay);
    trace(number_text(n), Ending::newline);
}

// Marks of a position of the line (index 1 to length).
enum Mark : unsigned char { kNone = 0, kStart = 1, kEnd = 2, kInside = 4 };

}  // namespace

bool reference_clean(std::string& word, int& position) {
    if (!word.empty() && word.front() == '"') {
        word.erase(0, 1);
        ++position;
        if (!word.empty() && word.back() == '"') word.pop_back();
    }
    word = replace_char(word, '"', '\'');
    return word.size() >= 2;
}

void ReferenceScanner::start_page() {
    line_number_ = 0;
    in_script_ = script_closed_ = false;
    in_style_ = style_closed_ = false;
}

bool ReferenceScanner::skip_block(std::string_view lower, std::string_view open,
                                  std::string_view close, bool& in_block, bool& block_closed,
                                  bool opens_here) {
    if (!in_block && !block_closed && opens_here && opens_with_bracket(lower, open))
        in_block = true;
    if (in_block && !block_closed && opens_with_bracket(lower, close)) block_closed = true;
    if (in_block && !block_closed) return true;
    if (in_block && block_closed) {
        in_block = block_closed = false;
        return true;
    }
    return false;
}

std::vector<FoundWord> ReferenceScanner::scan_line(std::string_view line, const TraceSink& trace) {
    std::vector<FoundWord> words;
    scanned_bytes_ += line.size() + 2;
    const std::string lower = lower_az(line);
    put(trace, kLineMark);
    put(trace, lower);
    ++line_number_;

    if (skip_block(lower, "script", "/script", in_script_, script_closed_, true)) return words;
    if (skip_block(lower, "style", "/style", in_style_, style_closed_, !contains(lower, "style=")))
        return words;

    put(trace, "---------- line.03$, HTML elementi ----------");
    const int length = static_cast<int>(lower.size());
    const bool has_close = contains(lower, ">");
    if (element_continues_ && !has_close) return words;

    // Elements, 1-based and inclusive.
    std::vector<std::pair<int, int>> elements;
    std::size_t from = 0;  // 0-based index where the search for the next "<" starts
    if (element_continues_) {
        std::size_t close = lower.find('>');
        elements.emplace_back(1, static_cast<int>(close) + 1);
        element_continues_ = false;
        from = close + 1;
    }
    for (;;) {
        std::size_t open = lower.find('<', from);
        if (open == std::string::npos) break;
        std::size_t close = lower.find('>', open + 1);
        if (close == std::string::npos) {
            elements.emplace_back(static_cast<int>(open) + 1, length);
            element_continues_ = true;
            break;
        }
        elements.emplace_back(static_cast<int>(open) + 1, static_cast<int>(close) + 1);
        from = close + 1;
    }
    if (element_continues_ && elements.size() == 1 && elements[0] == std::pair(1, length))
        return words;

    std::vector<unsigned char> mark(idx(length) + 2, kNone);
    for (auto [start, end] : elements) {
        mark[idx(start)] |= kStart;
        mark[idx(end)] |= kEnd;
        for (int i = start + 1; i < end; ++i) mark[idx(i)] |= kInside;
    }
    auto in_element = [&](int i) { return mark[idx(i)] != kNone; };

    put(trace, "---------- imamo HTML elemente ----------");
    std::vector<bool> gap(idx(length) + 2, false);
    int gaps = 0;
    for (int i = 1; i <= length; ++i) {
        if (lower[idx(i - 1)] != ' ') continue;
        if (in_element(i)) {
            put(trace, "space.pos je v HTML elementu, continue do");
            continue;
        }
        gap[idx(i)] = true;
        put_value(trace, "space count = ", ++gaps);
    }

    bool shifted_copies = false;
    if (trace && length <= kLongestShiftedLine) {
        const auto cost = static_cast<unsigned long long>(length) * (idx(length) + 2ULL);
        shifted_copies = shifted_bytes_ + cost <= kShiftedFloor + kShiftedPerByte * scanned_bytes_;
        if (shifted_copies) shifted_bytes_ += cost;
    }

    put(trace, "========== iscemo besede ==========");
    put(trace, line);
    int last_open = 0, last_close = 0, previous_space = 0, current_space = 0;
    auto piece = [&](int first, int last) {  // 1-based, inclusive; empty when last < first
        if (last < first) return std::string();
        return lower.substr(idx(first - 1), idx(last - first + 1));
    };
    int at = 0;  // the walk's position, which the trace gives beside each word
    auto take = [&](int first, int last) {
        std::string word = piece(first, last);
        int position = first;
        if (!reference_clean(word, position)) return;
        if (trace) {
            trace(number_text(at), Ending::zone);
            trace(word, Ending::newline);
        }
        words.push_back({position, std::move(word)});
    };
    for (int i = 1; i <= length; ++i) {
        at = i;
        if (shifted_copies) {
            std::string shifted(idx(i - 1), ' ');
            shifted.append(line.substr(idx(i - 1)));
            trace(shifted, Ending::newline);
        }
        const unsigned char here = mark[idx(i)];
        const bool space = gap[idx(i)];
        if (here & kInside) continue;
        if (here & kStart) last_open = i;
        if (here & kEnd) last_close = i;
        if (space) current_space = i;

        if (space) {
            if (last_open == 0 && last_close == 0) {
                put(trace, "=====space2-----");
                take(previous_space + 1, i - 1);
            }
            if (last_open < last_close && previous_space < last_open) {
                put(trace, "<   >=====space2-----");
                take(last_close + 1, i - 1);
            }
            if (last_open < last_close && last_close < previous_space) {
                put(trace, "<   >-----space1=====space2-----");
                take(previous_space + 1, i - 1);
            }
        }
        if (here & kStart) {
            if (previous_space < last_close && current_space < last_close && last_close < i) {
                put(trace, "-----space2-----<   >=====<   >");
                put_value(trace, "elemen.pos.01 = ", 0);
                put_value(trace, "elemen.pos.02 = ", 0);
                put_value(trace, "space.pos.01 = ", previous_space);
                put_value(trace, "space.pos.02 = ", current_space);
                if (trace) {
                    trace("sword$ = ", Ending::stay);
                    trace(piece(last_close + 1, i - 1), Ending::newline);
                }
                take(last_close + 1, i - 1);
            }
            if (last_close < current_space && current_space < i) {
                put(trace, "-----<   >-----space2=====<   >");
                take(current_space + 1, i - 1);
            }
        }
        if (i == length) {
            if (current_space < last_open && last_open < last_close) {
                put(trace, "-----space2-----<   >=====");
                take(last_close + 1, length);
            }
            if (last_close < current_space && current_space < i) {
                put(trace, "-----<   >-----space2=====");
                take(current_space + 1, length);
            }
            if (last_open == 0 && last_close == 0 && previous_space == 0 && current_space == 0)
                take(1, length);
        }
        if (space) previous_space = current_space;
    }
    return words;
}

}  // namespace rowkeep::testing
