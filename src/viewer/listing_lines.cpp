#include "viewer/listing_lines.h"

namespace rowkeep {

namespace {

// Lines are handed over in blocks of this size: few calls, and little memory.
constexpr std::size_t kBlock = std::size_t{1} << 16;

}  // namespace

ListingLines::ListingLines(Console& con, std::string_view lead, std::string_view name)
    : con_(con), lead_(lead), name_(name), at_start_(con.column() == 0), bytes_(kBlock, '\0') {}

ListingLines::~ListingLines() {
    try {
        flush();
    } catch (...) {
        // Already leaving by an error: that one is the one to report.
    }
}

void ListingLines::lay_out(std::string_view number) {
    number_.assign(number);
    width_ = con_.console_size().first;
    head_ =
        con_.line_start({{lead_, Ending::stay}, {number_, Ending::zone}, {name_, Ending::zone}});
}

void ListingLines::line_slow(std::string_view a, std::string_view b) {
    if (!at_start_) {
        // The current number's digits are head_'s: number_ may be a row's before.
        number_.assign(head_, lead_.size(), number_.size());
        con_.print_pieces({{lead_, Ending::stay},
                           {number_, Ending::zone},
                           {name_, Ending::zone},
                           {a, Ending::stay},
                           {b, Ending::newline}});
        at_start_ = true;
        return;
    }
    flush();
    const std::size_t n = head_.size() + a.size() + b.size() + 2;
    if (n > bytes_.size()) bytes_.resize(n);
    line(a, b);
}

void ListingLines::flush() {
    if (used_ == 0) return;
    const std::string_view lines(bytes_.data(), used_);
    used_ = 0;
    con_.print_text(lines, Ending::stay);
}

}  // namespace rowkeep
