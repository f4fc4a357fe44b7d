#include "html/index_pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "html/keyword_extraction.h"

namespace rowkeep::testing {
namespace {

IndexSettings settings_1250() {
    IndexSettings settings;
    settings.charset = "1250";
    return settings;
}

// The pages put into htm_in, numbered, scanned and sorted into the word files.
void extract(TestSession& t) {
    t.run(number_and_scan_pages);
    ASSERT_FALSE(t.run(sort_and_number_words));
}

std::vector<std::string> lines_of(const std::string& text) {
    return screen_lines(text);
}

std::vector<std::string> navigation(const std::string& id, int occurrence) {
    const std::string n = std::to_string(occurrence);
    return {"<span hidden id=\"" + id + "\">",
            "(<a href=\"#" + id + "_" + std::to_string(occurrence + 1) + "\">&gt;</a>,",
            "<a href=\"index.htm#" + id + "\">i</a>,",
            "<a href=\"search.htm#" + id + "_" + n + "\">s</a>)</span>",
            "<span id=\"" + id + "_" + n + "\"></span>"};
}

TEST(AnchoredPages, OneLinePageIsAnchoredExactly) {
    TempDir dir;
    dir.write("htm_in/a.htm", "<html><body>Hi there</body></html>\r\n");
    TestSession t(dir.path(), "");
    extract(t);
    const IndexSettings settings = settings_1250();
    ASSERT_FALSE(t.run([&](Session& s) { write_anchored_pages(s, settings); }));

    std::vector<std::string> expected = highlighting_script(settings);
    expected.push_back("<html><body>");
    expected.push_back("<span id=\"id000000\">hi</span>");
    for (auto& l : navigation("id000000", 1)) expected.push_back(l);
    expected.push_back(" ");
    expected.push_back("<span id=\"id000001\">there</span>");
    for (auto& l : navigation("id000001", 1)) expected.push_back(l);
    expected.push_back("</body></html>");
    EXPECT_EQ(lines_of(dir.read("page_1.htm")), expected);
    EXPECT_EQ(dir.read("page_1_02.htm"), dir.read("page_1.htm"));
    EXPECT_EQ(t.shell_owner->history().back(), "copy page_1_02.htm  page_1.htm");

    EXPECT_EQ(expected[4], "document.writeln(self.location.hash + \" { color: red } \");");
    EXPECT_EQ(expected.size(), 11u + 1 + 1 + 5 + 1 + 1 + 5 + 1);
}

TEST(AnchoredPages, LinesAroundTheWordsAndTheNextOccurrenceLinks) {
    TempDir dir;
    dir.write("htm_in/a.htm",
              "<title>Some Title</title>\r\n"
              "<BODY>\r\n"
              "<p>Apple pie, apple</p>\r\n"
              "<br>\r\n"
              "tail words\r\n"
              "</html>\r\n");
    TestSession t(dir.path(), "");
    extract(t);
    ASSERT_FALSE(t.run([](Session& s) { write_anchored_pages(s, settings_1250()); }));
    const std::string page = dir.read("page_1.htm");
    std::vector<std::string> lines = lines_of(page);

    // The title's words come before the body, so before the script.
    auto script = std::find(lines.begin(), lines.end(), "<script language=\"javascript\">");
    auto title_word = std::find(lines.begin(), lines.end(), "<span id=\"id000005\">title</span>");
    auto body = std::find(lines.begin(), lines.end(), "<BODY>");
    ASSERT_NE(script, lines.end());
    EXPECT_LT(title_word, script);
    EXPECT_EQ(script + 11, body);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "<script language=\"javascript\">"), 1);

    // The word as extracted replaces the page's own text; the line's text between the
    // words is kept, and unworded lines are copied whole.
    EXPECT_NE(page.find("<p>\r\n<span id=\"id000000\">apple</span>\r\n"), std::string::npos);
    EXPECT_NE(
        page.find("<span id=\"id000000_1\"></span>\r\n \r\n<span id=\"id000002\">pie,</span>"),
        std::string::npos);
    EXPECT_NE(
        page.find(
            "<span id=\"id000000_2\"></span>\r\n</p>\r\n<br>\r\n\r\n<span id=\"id000004\">tail"),
        std::string::npos);
    EXPECT_EQ(lines.back(), "</html>");
    // The text after a line's last word stays, also on lines before the page's last word.
    EXPECT_NE(page.find("<span id=\"id000005_1\"></span>\r\n</title>\r\n<script"),
              std::string::npos);
    // The first apple leads on to the second; the second to a third that does not exist.
    EXPECT_NE(page.find("(<a href=\"#id000000_2\">&gt;</a>,"), std::string::npos);
    EXPECT_NE(page.find("(<a href=\"#id000000_3\">&gt;</a>,"), std::string::npos);
    EXPECT_EQ(page.find("id=\"id000000_3\""), std::string::npos);
}

// A line with words whose end lies at every place around the end of the page reader's
// buffer: the text after its last word is written after the next block is read. Words
// named past the page's end take the rest of the page's last line, as they always did.
TEST(AnchoredPages, LineRestsAcrossTheReadersBufferAndWordsPastTheEnd) {
    IndexSettings settings = settings_1250();
    settings.show_navigation = 0;
    std::string script;
    for (const auto& line : highlighting_script(settings)) script += line + "\r\n";
    for (std::size_t n = 65510; n < 65540; ++n) {
        TempDir dir;
        const std::string long_line = std::string(n, 'a') + " w tail";
        const std::string next_block(70000, 'b');
        dir.write("page_1.htm", "<body>\r\n" + long_line + "\r\n" + next_block + "\r\nc x\r\n");
        dir.write("wrd_06.txt", "\"page_1.htm\",\"2\",\"" + std::to_string(n + 2) +
                                    "\",\"w\",\"id000001\",\"1\"\r\n"
                                    "\"page_1.htm\",\"4\",\"3\",\"x\",\"id000002\",\"1\"\r\n"
                                    "\"page_1.htm\",\"9\",\"1\",\"z\",\"id000003\",\"1\"\r\n");
        TestSession t(dir.path(), "");
        ASSERT_FALSE(t.run([&](Session& s) { write_anchored_pages(s, settings); }));
        ASSERT_EQ(dir.read("page_1.htm"), script + "<body>\r\n" + std::string(n, 'a') +
                                              " \r\n<span id=\"id000001\">w</span>\r\n tail\r\n" +
                                              next_block +
                                              "\r\nc \r\n<span id=\"id000002\">x</span>\r\n"
                                              "\r\n<span id=\"id000003\">z</span>\r\n\r\n")
            << n;
    }
}

TEST(AnchoredPages, PageWithoutWordsKeepsItsText) {
    TempDir dir;
    dir.write("htm_in/a.htm", "<p>x</p>\r\n");
    dir.write("htm_in/b.htm", "<p>word</p>\r\n");
    TestSession t(dir.path(), "");
    extract(t);
    ASSERT_FALSE(t.run([](Session& s) { write_anchored_pages(s, settings_1250()); }));
    EXPECT_EQ(dir.read("page_1.htm"), "<p>x</p>\r\n");
    EXPECT_FALSE(dir.exists("page_1_02.htm"));
    EXPECT_TRUE(dir.exists("page_2_02.htm"));
}

TEST(IndexPage, WordOnTwoPagesHasTwoEntriesWithOneId) {
    TempDir dir;
    dir.write("htm_in/a.htm", "<p>apple apple apple</p>\r\n");
    dir.write("htm_in/b.htm", "<p>apple pie</p>\r\n");
    TestSession t(dir.path(), "", Options{.time = "09:08:07"});
    t.session.program_file_name = "rowkeep.exe";
    extract(t);
    ASSERT_FALSE(t.run([](Session& s) { write_index_page(s, settings_1250()); }));
    std::vector<std::string> lines = lines_of(dir.read("index.htm"));
    ASSERT_GE(lines.size(), 27u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 11),
              (std::vector<std::string>{
                  "<html>", "<br>", "<head>", "<br>",
                  "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=1250\">", "<br>",
                  "<title>index of key words</title>", "<br>", "</head>", "<br>", "<body>"}));
    EXPECT_EQ(lines[11], "<br> File was created with freeware program: rowkeep.exe");
    EXPECT_EQ(lines[12].rfind("<br> <a href=\"", 0), 0u);
    // No sponsor: the date line follows the maker's line.
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 13, lines.end()),
              (std::vector<std::string>{
                  "<br> <br> Date (mm-dd-yy) = 05-22-2017<br>", "Time (h:m:s)    = 09:08:07<br>",
                  "<br><br>", "---------- List *.html files ----------", "<br>",
                  "<a href=\"page_1.htm\">page_1.htm</a><br>",
                  "<a href=\"page_2.htm\">page_2.htm</a><br>", std::string(39, '-'), "<br><br>",
                  "<a href=\"page_1.htm#id000000\" id=\"id000000\">apple</a>&nbsp;&nbsp;&nbsp; "
                  "(page_1.htm, 3)&nbsp;&nbsp;<a href=\"search.htm#id000000_4\">search</a> <br>",
                  "<a href=\"page_2.htm#id000000\" id=\"id000000\">apple</a>&nbsp;&nbsp;&nbsp; "
                  "(page_2.htm, 1)&nbsp;&nbsp;<a href=\"search.htm#id000000_1\">search</a> <br>",
                  "<br>",
                  "<a href=\"page_2.htm#id000004\" id=\"id000004\">pie</a>&nbsp;&nbsp;&nbsp; "
                  "(page_2.htm, 1)<br>",
                  "</body>", "</html>"}));
}

TEST(IndexPage, AdBlockAfterEvery21GroupsAndTheSponsor) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 43; ++i) text += "w" + std::to_string(100 + i) + " ";
    dir.write("htm_in/a.htm", text + "\r\n");
    TestSession t(dir.path(), "");
    t.session.sponsor_address = "shop.example";
    extract(t);
    ASSERT_FALSE(t.run([](Session& s) { write_index_page(s, settings_1250()); }));
    const std::string index = dir.read("index.htm");
    std::vector<std::string> lines = lines_of(index);
    const std::string sponsor =
        "<br> <a href=\"http://shop.example\">Sponsored by:     shop.example</a>";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), sponsor), 3);  // head and two blocks
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "---------- Ad ---------- <br>"), 2);
    auto ad = std::find(lines.begin(), lines.end(), "---------- Ad ---------- <br>");
    ASSERT_NE(ad, lines.end());
    EXPECT_EQ(*(ad - 2),
              "<a href=\"page_1.htm#id000020\" id=\"id000020\">w120</a>&nbsp;&nbsp;&nbsp; "
              "(page_1.htm, 1)&nbsp;&nbsp;<a href=\"search.htm#id000020_1\">search</a> <br>");
    EXPECT_EQ(*(ad + 4), lines[12].substr(5));
    EXPECT_EQ(*(ad + 5), sponsor);
    EXPECT_EQ(*(ad + 6), "<br> <br>");
}

// A page with one line of n distinct words w01 w02 ...
std::string words_line(int n) {
    std::string line;
    for (int i = 1; i <= n; ++i) line += (i < 10 ? "w0" : "w") + std::to_string(i) + " ";
    return line;
}

std::string query_of(const std::string& search_page) {
    const std::string start = std::string(kWebSearchAddress);
    std::size_t at = search_page.find(start);
    if (at == std::string::npos) return "<none>";
    at += start.size();
    return search_page.substr(at, search_page.find("\"> search</a>", at) - at);
}

TEST(SearchPage, LinesLinksAndTheWholeQueryUpTo28Words) {
    TempDir dir;
    dir.write("htm_in/a.htm", "<p>Hi there</p>\r\n<br>\r\n" + words_line(28) + "\r\n");
    dir.write("htm_in/b.htm", "one more\r\n");
    TestSession t(dir.path(), "");
    extract(t);
    ASSERT_FALSE(t.run([](Session& s) { write_search_page(s, settings_1250()); }));
    const std::string page = dir.read("search.htm");
    std::vector<std::string> lines = lines_of(page);
    ASSERT_GE(lines.size(), 22u);
    EXPECT_EQ(lines[6], "<title>search.htm, content (only words) from input *.htm files</title>");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 11, lines.begin() + 22),
              highlighting_script(settings_1250()));
    // hi, there: ids by the sorted order of all words.
    const std::string hi = "id000000", there = "id000003";
    EXPECT_EQ(lines[22], "<span id=\"" + hi + "_1\">hi &nbsp </span>&nbsp <a href=\"index.htm#" +
                             hi + "\">hi</a></span> <span id=\"" + there +
                             "_1\"><a href=\"index.htm#" + there + "\">there</a></span><br>");
    EXPECT_EQ(lines[23], "<a href=\"index.htm\">index</a>");
    EXPECT_EQ(lines[24],
              "&nbsp <a href=\"" + std::string(kWebSearchAddress) + "hi there \"> search</a>");
    EXPECT_EQ(lines[25], "<br><br>");
    EXPECT_EQ(query_of(page.substr(page.find("w01 &nbsp"))), words_line(28));
    EXPECT_EQ(lines[lines.size() - 4].rfind("&nbsp <a href=", 0), 0u);
    EXPECT_NE(lines[lines.size() - 4].find("one more \"> search</a>"), std::string::npos);
    EXPECT_EQ(lines.back(), "</html>");
    // The line's own words, in order, three lines in all.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "<a href=\"index.htm\">index</a>"), 3);
}

TEST(SearchPage, MoreThan28WordsGiveARandomPickFromTheSessionGenerator) {
    TempDir dir;
    dir.write("htm_in/a.htm", words_line(29) + "\r\n");
    std::string first_query;
    for (unsigned seed : {1u, 1u, 2u}) {
        TestSession t(dir.path(), "", Options{.seed = seed});
        extract(t);
        ASSERT_FALSE(t.run([](Session& s) { write_search_page(s, settings_1250()); }));
        const std::string query = query_of(dir.read("search.htm"));

        std::mt19937 same(seed);
        const std::string list = words_line(29);
        EXPECT_EQ(query, search_query(list, 29, list.size() - 4, same));
        if (first_query.empty())
            first_query = query;
        else if (seed == 1)
            EXPECT_EQ(query, first_query);
        else
            EXPECT_NE(query, first_query);

        // Whole words, each with its leading blank, never the first, no repeats, at most 28.
        EXPECT_NE(query, list);
        ASSERT_FALSE(query.empty());
        EXPECT_EQ(query.size() % 4, 0u) << query;
        std::vector<std::string> picked;
        for (std::size_t i = 0; i + 4 <= query.size(); i += 4) picked.push_back(query.substr(i, 4));
        EXPECT_LE(picked.size(), 28u);
        for (const auto& w : picked) {
            EXPECT_EQ(w[0], ' ') << query;
            EXPECT_NE(list.find(w.substr(1) + " "), std::string::npos) << w;
            EXPECT_NE(w, " w01");
            EXPECT_EQ(std::count(picked.begin(), picked.end(), w), 1) << query;
        }
    }
}

TEST(SearchPage, QueryPickReachesTheLastWordButNotTheFirst) {
    const std::string list = words_line(40);
    const std::size_t previous = list.size() - 4;
    bool last_seen = false;
    std::mt19937 random(7);
    for (int run = 0; run < 200; ++run) {
        std::string query = search_query(list, 40, previous, random);
        EXPECT_EQ(query.find(" w01"), std::string::npos);
        EXPECT_NE(query.substr(0, 1), "w");
        if (query.find(" w40") != std::string::npos) last_seen = true;
    }
    EXPECT_TRUE(last_seen);
    // Up to 28 words the list is the query as it stands, generator untouched.
    std::mt19937 untouched(3), reference(3);
    EXPECT_EQ(search_query(words_line(28), 28, 0, untouched), words_line(28));
    EXPECT_EQ(untouched(), reference());
}

}  // namespace
}  // namespace rowkeep::testing
