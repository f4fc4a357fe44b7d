// The keyword scanner as it was first written, one byte and one trace piece at a time:
// the reference the faster scanner is compared with, byte for byte.
#pragma once

#include "html/keyword_scanner.h"

namespace rowkeep::testing {

class ReferenceScanner {
  public:
    void start_page();
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
    unsigned long long scanned_bytes_ = 0, shifted_bytes_ = 0;
};

}  // namespace rowkeep::testing
