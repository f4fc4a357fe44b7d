#include "html/keyword_extraction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace rowkeep::testing {
namespace {

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(KeywordExtraction, PagesAreRenamedNumberedAndCleaned) {
    TempDir dir;
    dir.write("htm_in/A.htm", "<p>Alpha\tbeta</p>\r\n");
    dir.write("htm_in/b.html", "<p>gamma delta</p>\n");
    dir.write("htm_in/notes.txt", "plain words here\r\n");  // renamed, but no page
    TestSession t(dir.path(), "");
    t.run(number_and_scan_pages);

    EXPECT_EQ(names_in(dir.path() / "htm_in"),
              (std::vector<std::string>{"file_a.htm", "file_b.html", "file_notes.txt"}));
    EXPECT_EQ(dir.read("dir_02.txt"), "page_1.htm\r\npage_2.htm\r\n");
    // The tab is removed, not turned into a blank: the two words become one.
    EXPECT_EQ(dir.read("file_a_01.htm"), "<p>Alphabeta</p>\r\n");
    EXPECT_EQ(dir.read("page_1.htm"), "<p>Alphabeta</p>\r\n");
    EXPECT_EQ(dir.read("page_2.htm"), "<p>gamma delta</p>\r\n");
    EXPECT_EQ(dir.read("wrd_01.txt"),
              "\"alphabeta\",\"page_1.htm\",\"         1\",\"     4\",\"alphabeta\"\r\n"
              "\"gamma\",\"page_2.htm\",\"         1\",\"     4\",\"gamma\"\r\n"
              "\"delta\",\"page_2.htm\",\"         1\",\"    10\",\"delta\"\r\n");
    EXPECT_TRUE(dir.exists("page_1.txt"));  // the scan's trace
    EXPECT_NE(dir.read("page_2.txt").find("<p>gamma delta</p>"), std::string::npos);
}

TEST(KeywordExtraction, ElementOpenAtThePageEndHidesTheNextPagesStart) {
    TempDir dir;
    dir.write("htm_in/a.htm", "first <img\r\n");
    dir.write("htm_in/b.htm", "src=\"x.png\"> shown\r\nnext line\r\n");
    TestSession t(dir.path(), "");
    t.run(number_and_scan_pages);
    EXPECT_EQ(dir.read("wrd_01.txt"),
              "\"first\",\"page_1.htm\",\"         1\",\"     1\",\"first\"\r\n"
              "\"shown\",\"page_2.htm\",\"         1\",\"    14\",\"shown\"\r\n"
              "\"next\",\"page_2.htm\",\"         2\",\"     1\",\"next\"\r\n"
              "\"line\",\"page_2.htm\",\"         2\",\"     6\",\"line\"\r\n");
}

TEST(KeywordExtraction, BlankInAPageNameStaysOneName) {
    TempDir dir;
    dir.write("htm_in/my prices.htm", "<p>cheap</p>\r\n");
    TestSession t(dir.path(), "");
    t.run(number_and_scan_pages);
    EXPECT_TRUE(dir.exists("htm_in/file_my prices.htm"));
    EXPECT_EQ(dir.read("page_1.htm"), "<p>cheap</p>\r\n");
    const auto& commands = t.shell_owner->history();
    EXPECT_NE(std::find(commands.begin(), commands.end(),
                        "rename \"htm_in\\my prices.htm\"  \"file_my prices.htm\""),
              commands.end());
    EXPECT_NE(
        std::find(commands.begin(), commands.end(), "copy \"file_my prices_01.htm\"  page_1.htm"),
        commands.end());
}

TEST(KeywordExtraction, IdsOccurrencesAndTheSplitByPage) {
    EXPECT_EQ(word_id(0), "id000000");
    EXPECT_EQ(word_id(17), "id000017");
    EXPECT_EQ(word_id(1234567), "id1234567");
    EXPECT_EQ(padded(3, 10), "         3");
    EXPECT_EQ(padded(1234567, 6), "1234567");

    TempDir dir;
    dir.write("htm_in/a.htm", "apple bee apple\r\nApple\r\n");
    dir.write("htm_in/b.htm", "bee apple\r\n");
    TestSession t(dir.path(), "");
    t.run(number_and_scan_pages);
    ASSERT_FALSE(t.run(sort_and_number_words));
    EXPECT_NE(t.screen().find("Sort 1/2"), std::string::npos);
    EXPECT_NE(t.screen().find("Sort 2/2"), std::string::npos);

    // Sorted by word; a word's id is its first record's place in that order.
    EXPECT_EQ(dir.read("wrd_04.txt"),
              "\"page_1.htm\",\"         1\",\"     1\",\"apple\",\"id000000\",\"1\"\r\n"
              "\"page_1.htm\",\"         1\",\"    11\",\"apple\",\"id000000\",\"2\"\r\n"
              "\"page_1.htm\",\"         2\",\"     1\",\"apple\",\"id000000\",\"3\"\r\n"
              "\"page_2.htm\",\"         1\",\"     5\",\"apple\",\"id000000\",\"4\"\r\n"
              "\"page_1.htm\",\"         1\",\"     7\",\"bee\",\"id000004\",\"1\"\r\n"
              "\"page_2.htm\",\"         1\",\"     1\",\"bee\",\"id000004\",\"2\"\r\n");
    // Then by page, line and position.
    const std::string by_place =
        "\"page_1.htm\",\"         1\",\"     1\",\"apple\",\"id000000\",\"1\"\r\n"
        "\"page_1.htm\",\"         1\",\"     7\",\"bee\",\"id000004\",\"1\"\r\n"
        "\"page_1.htm\",\"         1\",\"    11\",\"apple\",\"id000000\",\"2\"\r\n"
        "\"page_1.htm\",\"         2\",\"     1\",\"apple\",\"id000000\",\"3\"\r\n";
    const std::string page_2 =
        "\"page_2.htm\",\"         1\",\"     1\",\"bee\",\"id000004\",\"2\"\r\n"
        "\"page_2.htm\",\"         1\",\"     5\",\"apple\",\"id000000\",\"4\"\r\n";
    EXPECT_EQ(dir.read("wrd_06.txt"), by_place + page_2);
    EXPECT_EQ(dir.read("wrd_06_1.txt"), by_place);
    EXPECT_EQ(dir.read("wrd_06_2.txt"), page_2);
    EXPECT_FALSE(dir.exists("wrd_06_3.txt"));
}

TEST(KeywordExtraction, EmptyInputFolderGivesEmptyWordFiles) {
    TempDir dir;
    fs::create_directory(dir.path() / "htm_in");
    TestSession t(dir.path(), "");
    t.run(number_and_scan_pages);
    ASSERT_FALSE(t.run(sort_and_number_words));
    EXPECT_EQ(dir.read("wrd_01.txt"), "");
    EXPECT_EQ(dir.read("wrd_06.txt"), "");
    EXPECT_FALSE(dir.exists("wrd_06_1.txt"));
}

}  // namespace
}  // namespace rowkeep::testing
