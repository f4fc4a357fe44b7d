#include "html/keyword_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rowkeep {
namespace {

using Words = std::vector<FoundWord>;

Words scan_one(std::string_view line) {
    KeywordScanner scanner;
    scanner.start_page();
    return scanner.scan_line(line);
}

TEST(KeywordScanner, WordsBetweenBlanksAndElements) {
    struct Case {
        std::string line;
        Words words;
    };
    const std::vector<Case> cases = {
        {"<p>Hello world</p>", {{4, "hello"}, {10, "world"}}},
        {"one two three", {{1, "one"}, {5, "two"}, {9, "three"}}},
        {"<html><body>Hi there</body></html>", {{13, "hi"}, {16, "there"}}},
        // A blank inside an element is no word gap.
        {"<a href=\"x y\">link text</a> after", {{15, "link"}, {20, "text"}, {29, "after"}}},
        {"xx <b>bold</b> yy", {{1, "xx"}, {7, "bold"}, {16, "yy"}}},
        {"<b>zz</b> aa bb cc", {{4, "zz"}, {11, "aa"}, {14, "bb"}, {17, "cc"}}},
        // Punctuation stays part of the word; a ">" with no "<" before it is text.
        {"(see end.", {{1, "(see"}, {6, "end."}}},
        {"a>b cc", {{1, "a>b"}, {5, "cc"}}},
        // Only the blank (code 32) separates words.
        {"Single", {{1, "single"}}},
        {"", {}},
        {"<br>", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(scan_one(c.line), c.words) << c.line;
}

TEST(KeywordScanner, OneCharacterWordsAndQuotes) {
    EXPECT_EQ(scan_one("a b"), Words{});
    EXPECT_EQ(scan_one("ab c"), (Words{{1, "ab"}}));
    EXPECT_EQ(scan_one("\"quoted\" text"), (Words{{2, "quoted"}, {10, "text"}}));
    // Quotes inside a word become apostrophes; a lone pair or a quoted letter is too short.
    EXPECT_EQ(scan_one("it\"s \"\" \"x\" \"open"), (Words{{1, "it's"}, {14, "open"}}));

    std::string word = "\"ab\"";
    int position = 7;
    EXPECT_TRUE(clean_candidate(word, position));
    EXPECT_EQ(word, "ab");
    EXPECT_EQ(position, 8);
    word = "ab\"";  // a trailing quote goes only together with a leading one
    EXPECT_TRUE(clean_candidate(word, position));
    EXPECT_EQ(word, "ab'");
}

TEST(KeywordScanner, StyleAndScriptBlocksHideWholeLines) {
    KeywordScanner scanner;
    scanner.start_page();
    // An attribute named style opens no block.
    EXPECT_EQ(scanner.scan_line("<td style=\"x\">"), Words{});
    EXPECT_EQ(scanner.scan_line("cell text"), (Words{{1, "cell"}, {6, "text"}}));

    EXPECT_EQ(scanner.scan_line("<style>"), Words{});
    EXPECT_EQ(scanner.scan_line("p { color: red }"), Words{});
    EXPECT_EQ(scanner.scan_line("hidden </style> too"), Words{});
    EXPECT_EQ(scanner.scan_line("seen again"), (Words{{1, "seen"}, {6, "again"}}));

    EXPECT_EQ(scanner.scan_line("<SCRIPT type=\"text/javascript\">"), Words{});
    EXPECT_EQ(scanner.scan_line("var words = here;"), Words{});
    EXPECT_EQ(scanner.scan_line("</script>"), Words{});
    // Opened and closed on one line: that line alone is hidden.
    EXPECT_EQ(scanner.scan_line("<script>x = 1;</script> lost"), Words{});
    EXPECT_EQ(scanner.scan_line("kept line"), (Words{{1, "kept"}, {6, "line"}}));
    EXPECT_EQ(scanner.line_number(), 11);

    // A block left open at the end of a page ends with the page.
    scanner.scan_line("<style>");
    scanner.start_page();
    EXPECT_EQ(scanner.line_number(), 0);
    EXPECT_EQ(scanner.scan_line("next page"), (Words{{1, "next"}, {6, "page"}}));
}

TEST(KeywordScanner, ElementAcrossLinesAndPages) {
    KeywordScanner scanner;
    scanner.start_page();
    EXPECT_EQ(scanner.scan_line("one <a"), (Words{{1, "one"}}));
    EXPECT_TRUE(scanner.element_continues());
    EXPECT_EQ(scanner.scan_line("still inside the element"), Words{});
    EXPECT_TRUE(scanner.element_continues());
    EXPECT_EQ(scanner.scan_line("href=\"x\">two three"), (Words{{10, "two"}, {14, "three"}}));
    EXPECT_FALSE(scanner.element_continues());

    // An element open at the end of a page hides the next page's text up to its ">".
    EXPECT_EQ(scanner.scan_line("end <img"), (Words{{1, "end"}}));
    scanner.start_page();
    EXPECT_TRUE(scanner.element_continues());
    EXPECT_EQ(scanner.scan_line("alt=\"a b\"> shown <i"), (Words{{12, "shown"}}));
    EXPECT_EQ(scanner.line_number(), 1);
}

TEST(KeywordScanner, TraceNamesTheLineAndTheWords) {
    KeywordScanner scanner;
    scanner.start_page();
    std::string trace;
    scanner.scan_line("<p>Hello world</p>", [&](std::string_view text, Ending ending) {
        trace += text;
        trace += ending == Ending::newline ? "\n" : ending == Ending::zone ? "|" : "";
    });
    EXPECT_EQ(trace.rfind("==================== line.03$ ====================\n"
                          "<p>hello world</p>\n"
                          "---------- line.03$, HTML elementi ----------\n"
                          "---------- imamo HTML elemente ----------\n"
                          "space count =  1\n"
                          "========== iscemo besede ==========\n"
                          "<p>Hello world</p>\n",
                          0),
              0u)
        << trace;
    EXPECT_NE(trace.find("<   >=====space2-----\n 9|hello\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("-----<   >-----space2=====<   >\n 15|world\n"), std::string::npos)
        << trace;
}

}  // namespace
}  // namespace rowkeep
