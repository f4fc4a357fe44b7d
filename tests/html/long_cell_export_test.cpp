// The export of long lines: positions of a million characters and more keep their order
// in the word files, the anchored-page writer never writes a line's text twice whatever
// the order of its records, and a long cell with blanks gives a whole, bounded page.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "console/table_file.h"
#include "harness.h"
#include "html/html_export.h"
#include "html/index_pages.h"
#include "html/keyword_extraction.h"
#include "html/keyword_scanner.h"

namespace rowkeep::testing {
namespace {

TEST(LongLines, PositionFieldsSortAsNumbers) {
    // Up to 999999 the six-character form stays.
    EXPECT_EQ(position_field(1), "     1");
    EXPECT_EQ(position_field(999999), "999999");
    EXPECT_EQ(position_field(1000000), "~   1000000");

    std::vector<long long> positions = {1,        9,        10,        999999,
                                        1000000,  1000001,  9999999,   10000000,
                                        10485760, 99999999, 100000000, 2147483647};
    std::vector<std::string> records;
    for (long long p : positions) {
        EXPECT_EQ(position_value(position_field(p)), p);
        // Whole records, as the sort compares them.
        records.push_back("\"page_1.htm\",\"         3\",\"" + position_field(p) + "\",\"w\"");
    }
    std::mt19937 random(5);
    std::shuffle(records.begin(), records.end(), random);
    std::sort(records.begin(), records.end());
    for (std::size_t i = 0; i < positions.size(); ++i)
        EXPECT_NE(records[i].find(position_field(positions[i])), std::string::npos) << i;
}

TEST(LongLines, ShiftedTraceCopiesStayWithinABudgetOfThePages) {
    // Lines of 4000 characters: each alone would get 16 MB of shifted copies.
    std::string line;
    for (int i = 0; i < 400; ++i) line += "abcdefghi ";
    KeywordScanner scanner;
    scanner.start_page();
    std::size_t bytes = 0, words = 0;
    TraceSink sink = [&bytes](std::string_view text, Ending) { bytes += text.size() + 2; };
    for (int i = 0; i < 40; ++i) words += scanner.scan_line(line, sink).size();
    EXPECT_EQ(words, 40u * 400u);
    EXPECT_GT(bytes, 4000u * 4000u);  // the first line has its copies
    EXPECT_LT(bytes, 16u * 1024 * 1024 + 40u * (16u * 4002u + 8000u));
}

// The page's text with the navigation blocks, every element and the line ends taken out.
std::string visible_text(const std::string& page) {
    std::string text;
    text.reserve(page.size());
    for (std::size_t i = 0; i < page.size();) {
        if (page.compare(i, 12, "<span hidden") == 0) {
            std::size_t end = page.find(")</span>", i);
            i = end == std::string::npos ? page.size() : end + 8;
        } else if (page[i] == '<') {
            std::size_t end = page.find('>', i);
            i = end == std::string::npos ? page.size() : end + 1;
        } else if (page[i] == '\r' || page[i] == '\n') {
            ++i;
        } else {
            text += page[i++];
        }
    }
    return text;
}

TEST(LongLines, AnchoredWriterNeverWritesTextBeforeTheLastWordsEnd) {
    TempDir dir;
    dir.write("page_1.htm", "one two three four\r\n");
    // Out of order on the line: a jump forward, then back twice.
    std::string records;
    for (auto [position, word, id] : {std::tuple{1, "one", "id000000"},
                                      {15, "four", "id000001"},
                                      {5, "two", "id000002"},
                                      {9, "three", "id000003"}})
        records += "\"page_1.htm\",\"         1\",\"" + position_field(position) + "\",\"" + word +
                   "\",\"" + id + "\",\"1\"\r\n";
    dir.write("wrd_06.txt", records);
    TestSession t(dir.path(), "");
    IndexSettings settings;
    settings.charset = "1250";
    ASSERT_FALSE(t.run([&](Session& s) { write_anchored_pages(s, settings); }));
    // The line's own text once, then the two late words as anchors only.
    EXPECT_EQ(visible_text(dir.read("page_1.htm")), "one two three fourtwothree");
}

// A cell of more than a million characters in words of 40 letters, each word its own.
std::string long_cell(std::size_t words) {
    std::string cell;
    for (std::size_t i = 0; i < words; ++i) {
        if (i > 0) cell += ' ';
        std::string number = std::to_string(i);
        cell += "W" + std::string(8 - number.size(), '0') + number + std::string(31, 'q');
    }
    return cell;
}

// The export of a one-cell table in `dir`; the largest file the folder held at the end of
// each step before the anchored pages, when asked for.
std::string export_cell(TempDir& dir, const std::string& cell,
                        std::uintmax_t* largest_before_pages = nullptr) {
    dir.write("t.csv", "cell\r\n" + cell + "\r\n");
    TestSession t(dir.path(), "xx");
    Session& s = t.session;
    s.table_name = s.selected_table = "t.csv";
    s.code_page = "Windows-1250";
    s.program_file_name = "rowkeep.exe";
    load_table(s);
    bool pages = false;
    s.step_done = [&](std::string_view step) {
        pages = pages || step == "anchored pages";
        if (pages || !largest_before_pages) return;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            if (entry.is_regular_file())
                *largest_before_pages = std::max(*largest_before_pages, entry.file_size());
    };
    t.run(html_export);
    return t.screen();
}

TEST(LongLines, LongCellWithBlanksGivesAWholeBoundedPage) {
    TempDir dir;
    const std::string cell = long_cell(26000);  // 1,065,999 characters
    ASSERT_GT(cell.size(), 1000000u);
    export_cell(dir, cell);

    const std::string page = dir.read("htm_out/page_1.htm");
    EXPECT_LT(page.size(), 20 * cell.size());
    std::string lower = cell;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c == 'W' ? 'w' : c; });
    EXPECT_NE(visible_text(page).find(lower), std::string::npos);
    // Every word is anchored once, in the order of the cell, past position 999999 too.
    const std::string index = dir.read("htm_out/index.htm");
    std::size_t at = 0;
    for (std::size_t i : {std::size_t{0}, std::size_t{24391}, std::size_t{25999}}) {
        std::string number = std::to_string(i);
        const std::string word = "w" + std::string(8 - number.size(), '0') + number;
        const std::size_t found = page.find("\">" + word, at);
        ASSERT_NE(found, std::string::npos) << word;
        at = found;
        EXPECT_NE(index.find(">" + word), std::string::npos) << word;
    }
    std::size_t anchored = 0;
    for (std::size_t p = page.find("q</span>\r\n<span hidden"); p != std::string::npos;
         p = page.find("q</span>\r\n<span hidden", p + 1))
        ++anchored;
    EXPECT_EQ(anchored, 26000u);
}

// The largest files of the export are written on threads of their own: a write that fails
// there still fails the export, which says so.
TEST(LongLines, AFileTooLargeForTheDiskFailsTheExportAtTheAnchoredPage) {
    // Short words: the anchored page is by far the largest file.
    std::string cell;
    for (int i = 0; i < 25000; ++i) cell += "w" + std::to_string(100000 + i) + " ";
    TempDir whole;
    std::uintmax_t largest = 0;
    ASSERT_NE(export_cell(whole, cell, &largest).find("HTML results"), std::string::npos);
    const std::uintmax_t page = fs::file_size(whole.path() / "htm_out" / "page_1.htm");
    ASSERT_GT(page, largest + (2u << 20));

    TempDir full;
    std::string screen;
    {
        FileSizeLimit limit(largest + (page - largest) / 2);
        ASSERT_TRUE(limit.set());
        screen = export_cell(full, cell);
    }
    EXPECT_NE(screen.find("HTML export failed (index pages): File too large"), std::string::npos)
        << screen.substr(screen.size() > 2000 ? screen.size() - 2000 : 0);
    EXPECT_EQ(screen.find("HTML results"), std::string::npos);
    EXPECT_EQ(full.read("t.csv"), whole.read("t.csv"));
}

}  // namespace
}  // namespace rowkeep::testing
