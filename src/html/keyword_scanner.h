// The keyword scanner: takes the words of a page's visible text line by line, outside
// elements, scripts and style sheets. Pure: fed lines, it hands out words and, to an
// optional sink, the trace lines of its scan.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/print_zones.h"

namespace rowkeep {

struct FoundWord {
    int position = 0;  // 1-based start in the line
    std::string text;  // lower case, quotes cleaned
    bool operator==(const FoundWord&) const = default;
};

// Receives each piece of the trace with its ending, as a text file takes it.
using TraceSink = std::function<void(std::string_view text, Ending ending)>;

class KeywordScanner {
  public:
    // A new page: line number, script and style flags cleared. An element left open at
    // the end of the previous page stays open.
    void start_page();
    // Scans the next line of the page (as read, without its line end).
    std::vector<FoundWord> scan_line(std::string_view line, const TraceSink& trace = {});

    int line_number() const { return line_number_; }
    bool element_continues() const { return element_continues_; }

  private:
    bool skip_block(std::string_view lower, std::string_view open, std::string_view close,
                    bool& in_block, bool& block_closed, bool opens_here);

    int line_number_ = 0;
    bool in_script_ = false, script_closed_ = false;
    bool in_style_ = false, style_closed_ = false;
    bool element_continues_ = false;
    // The run's bytes scanned and bytes of shifted line copies traced, over all pages.
    unsigned long long scanned_bytes_ = 0, shifted_bytes_ = 0;
};

// The candidate clean-up: a leading double quote dropped (the start moves on), then a
// trailing one; the others become apostrophes. False when fewer than 2 characters remain.
bool clean_candidate(std::string& word, int& position);

}  // namespace rowkeep
