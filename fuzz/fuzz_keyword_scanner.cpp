// The keyword scanner on arbitrary pages: no fault, and every word it hands out is a piece
// of its line, lower-cased, at least two characters, at a position inside the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/tokens.h"
#include "html/keyword_scanner.h"

using namespace rowkeep;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view page(reinterpret_cast<const char*>(data), size);
    KeywordScanner scanner;
    scanner.start_page();
    std::size_t traced = 0;
    TraceSink sink = [&traced](std::string_view text, Ending) { traced += text.size(); };
    std::size_t start = 0;
    while (start <= page.size()) {
        std::size_t end = page.find('\n', start);
        if (end == std::string_view::npos) end = page.size();
        std::string_view line = page.substr(start, end - start);
        // A byte 0xff starts a new page, so elements left open across pages are reached.
        if (!line.empty() && static_cast<unsigned char>(line[0]) == 0xff) scanner.start_page();
        std::string lower = lower_az(line);
        for (const FoundWord& w : scanner.scan_line(line, sink)) {
            if (w.text.size() < 2 || w.position < 1) std::abort();
            if (static_cast<std::size_t>(w.position) > line.size()) std::abort();
            for (char c : w.text)
                if (c >= 'A' && c <= 'Z') std::abort();
        }
        start = end + 1;
    }
    return 0;
}
