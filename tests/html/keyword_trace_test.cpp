#include <gtest/gtest.h>

#include <string>

#include "html/keyword_scanner.h"

namespace rowkeep::testing {
namespace {

// The trace's bytes and the words of one line scanned alone.
struct Traced {
    std::size_t bytes = 0;
    std::size_t words = 0;
};

Traced scan(const std::string& line) {
    KeywordScanner scanner;
    scanner.start_page();
    Traced t;
    TraceSink sink = [&t](std::string_view text, Ending) { t.bytes += text.size() + 2; };
    t.words = scanner.scan_line(line, sink).size();
    return t;
}

TEST(KeywordTrace, ShiftedLinesOnlyWhileTheTraceStaysSmall) {
    // Words of 9 letters and a blank: every position of a short line gets its shifted copy.
    auto words = [](std::size_t n) {
        std::string line;
        for (std::size_t i = 0; i < n; ++i) line += "abcdefghi ";
        return line;
    };
    Traced small = scan(words(400));  // 4000 characters
    EXPECT_EQ(small.words, 400u);
    EXPECT_GT(small.bytes, 4000u * 4000u / 2);

    // A line of a long cell keeps every word, but its trace grows with the line only.
    Traced big = scan(words(100000));  // 10^6 characters
    EXPECT_EQ(big.words, 100000u);
    EXPECT_LT(big.bytes, 100u * 1000000u);
}

}  // namespace
}  // namespace rowkeep::testing
