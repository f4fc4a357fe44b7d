// The lines of a long listing that each begin alike: a lead text, the row's number and a
// name, each padded to its print zone ("row = 12    prices    ..."), printed as the
// console's print_pieces prints them. The console lays that beginning out once for each
// length of the number (a digit is one column in every code page) and each width of the
// console; a row then only writes its digits over the last row's. The lines are gathered
// and handed to the console a block at a time: each ends with CR LF, so between them the
// console stands at a line's start, where the beginning was laid out.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "console/console.h"

namespace rowkeep {

class ListingLines {
  public:
    // Each line: lead (ending stay), the number and the name (each ending zone), its text.
    ListingLines(Console& con, std::string_view lead, std::string_view name);
    // Hands over the lines gathered: an error that ends the listing early leaves the screen
    // as printing line by line would have left it.
    ~ListingLines();
    ListingLines(const ListingLines&) = delete;
    ListingLines& operator=(const ListingLines&) = delete;

    // The lines from here on belong to the row of this number (as number_text gives it).
    void begin_row(std::string_view number) {
        if (number.size() != number_.size() || con_.console_size().first != width_ || head_.empty())
            return lay_out(number);
        // The digits stand right after the lead: a piece ending "stay" adds nothing.
        char* digits = head_.data() + lead_.size();
        for (std::size_t i = 0; i < number.size(); ++i) digits[i] = number[i];
    }
    // One line: the beginning, a, b, CR LF.
    void line(std::string_view a, std::string_view b = {}) {
        const std::size_t n = head_.size() + a.size() + b.size() + 2;
        if (!at_start_ || used_ + n > bytes_.size()) return line_slow(a, b);
        char* p = bytes_.data() + used_;
        std::memcpy(p, head_.data(), head_.size());
        p += head_.size();
        if (!a.empty()) std::memcpy(p, a.data(), a.size());
        p += a.size();
        if (!b.empty()) std::memcpy(p, b.data(), b.size());
        p += b.size();
        p[0] = '\r';
        p[1] = '\n';
        used_ += n;
    }
    // Hands the lines gathered to the console.
    void flush();

  private:
    void lay_out(std::string_view number);
    void line_slow(std::string_view a, std::string_view b);

    Console& con_;
    const std::string lead_, name_;
    std::string number_;  // the number head_ was laid out for: only its length stays true
    std::string head_;    // the beginning for the current row
    int width_ = 0;       // the console's, when head_ was laid out
    // The console stands at a line's start once the lines gathered are out; before the
    // first line it may not, and that line is printed by the console itself.
    bool at_start_;
    std::string bytes_;  // lines gathered: the first used_ bytes
    std::size_t used_ = 0;
};

}  // namespace rowkeep
