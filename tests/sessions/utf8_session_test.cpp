// Tables in UTF-8 (code page 65001) and in GB18030 (54936) through whole runs: a table
// with a byte-order mark saved unchanged, Chinese cells cut whole, listing lines as wide
// on the screen as their ASCII twins, sort keys of whole characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/code_page.h"
#include "console/text_measure.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// Start screens, then the code page stepped to the entry after the ten: Windows-65001.
const std::string kUtf8Start = "112" + std::string(10, 'x') + "3";
// Windows-54936, the tenth entry.
const std::string kGbStart = "112" + std::string(9, 'x') + "3";

// True when no character of the text is broken: it goes to Unicode and back unchanged
// (UTF-8 through GB18030, which holds every character).
bool whole(int code_page, const std::string& text) {
    if (code_page == 65001) {
        const std::string gb = utf8_to_code_page(54936, text);
        return !screen_has(gb, "?") && code_page_to_utf8(54936, gb) == text;
    }
    const std::string utf8 = code_page_to_utf8(code_page, text);
    return !screen_has(utf8, "?") && utf8_to_code_page(code_page, utf8) == text;
}

std::string encode(int code_page, const std::string& utf8) {
    return code_page == 65001 ? utf8 : utf8_to_code_page(code_page, utf8);
}

// Chinese cells of growing length, a number column, and an ASCII twin of the same table
// in which every wide character is "ww": the same screen widths everywhere.
const std::vector<std::string> kChineseRows = {"名称;数量", "北京;12", "中华人民共和国;7",
                                               "上海市浦东新区陆家嘴;340", "天津;5"};

std::string table_of(int code_page, bool ascii_twin) {
    std::string t;
    for (const std::string& row : kChineseRows) {
        std::string line = row;
        if (ascii_twin) {
            std::string twin;
            TextMeasure m(65001);
            for (std::size_t at = 0; at < line.size(); at += m.char_length(line, at))
                twin += m.char_width(line, at) == 2 ? "ww" : line.substr(at, 1);
            line = twin;
        }
        t += encode(code_page, line) + "\r\n";
    }
    return t;
}

TEST(Utf8Session, CodePageListedAfterTheTenAndChosen) {
    TempDir dir;
    RunResult r = run_program(dir.path(), "111" + kUtf8Start.substr(2) + "8");
    EXPECT_TRUE(
        screen_has(r.screen, " 11           Windows-65001\r\nUnicode (UTF-8): all languages\r\n"))
        << r.screen;
    EXPECT_TRUE(screen_has(r.screen, "Windows code page = Windows-65001"));
    EXPECT_EQ(r.commands.back(), "chcp 65001");
}

TEST(Utf8Session, TableWithByteOrderMarkSavedByteForByte) {
    TempDir dir;
    const std::string table =
        "\xEF\xBB\xBFKomune;Regione;Abitanti\r\n"
        "Agli\xC3\xA8;Piemonte;2.644\r\n"
        "Aldino/Aldein;Trentino-Alto Adige/S\xC3\xBC"
        "dtirol;1.651\r\n"
        "Doberd\xC3\xB2 del Lago;Friuli-Venezia Giulia;1.441\r\n"
        "Gro\xC3\x9F;\xE4\xB8\xAD\xE6\x96\x87 e\xCC\x81;\r\n";
    dir.write("komuni.csv", table);
    RunResult r = run_program(dir.path(), kUtf8Start +
                                              "131\r"
                                              "9"
                                              "9"
                                              "1"
                                              "x"
                                              "x");
    EXPECT_TRUE(screen_has(r.screen, "      2|Agli\xC3\xA8       |Piemonte    |       2.644|"))
        << r.screen;
    // The byte-order mark takes no column in front of the first name.
    EXPECT_TRUE(screen_has(r.screen, "|C1(A) \xEF\xBB\xBFKomune|"));
    EXPECT_TRUE(screen_has(
        r.screen, "      5|Gro\xC3\x9F        |\xE4\xB8\xAD\xE6\x96\x87 e\xCC\x81      |"));
    EXPECT_TRUE(screen_has(r.screen, "copy/save ========== komuni.csv")) << r.screen;
    EXPECT_EQ(dir.read("komuni.csv"), table);
}

TEST(Utf8Session, ChineseCellsCutWholeAndListingsAsWideAsTheirAsciiTwins) {
    for (int page : {65001, 54936}) {
        SCOPED_TRACE(page);
        const std::string start = page == 65001 ? kUtf8Start : kGbStart;
        const TextMeasure m(page);
        std::vector<std::string> listings;
        for (bool twin : {false, true}) {
            TempDir dir;
            dir.write("t.csv", table_of(page, twin));
            // The viewer, then a listing of both columns.
            RunResult r = run_program(dir.path(), start +
                                                      "131\r"
                                                      "8"
                                                      "233"
                                                      "8"
                                                      "x");
            for (const std::string& line : screen_lines(r.screen)) {
                if (line.size() < 8 || line[7] != '|') continue;
                EXPECT_TRUE(whole(page, line)) << line;
                EXPECT_LE(m.width(line), 79) << line;
            }
            listings.push_back(dir.read("t.txt"));
        }
        // Line by line, the listing of the Chinese table fills the same columns as the
        // listing of its twin.
        auto chinese = screen_lines(listings[0]), ascii = screen_lines(listings[1]);
        ASSERT_EQ(chinese.size(), ascii.size());
        ASSERT_GT(chinese.size(), 6u);
        for (std::size_t i = 5; i < chinese.size(); ++i) {
            EXPECT_EQ(m.width(chinese[i]), static_cast<int>(ascii[i].size())) << chinese[i];
            EXPECT_TRUE(whole(page, chinese[i])) << chinese[i];
        }
        EXPECT_TRUE(screen_has(listings[0], encode(page, "      4|上海市浦东 -|         340|")))
            << listings[0];
    }
}

TEST(Utf8Session, SortKeyOverPositionsTwoToThreeHoldsWholeCharacters) {
    for (int page : {65001, 54936}) {
        SCOPED_TRACE(page);
        const std::string start = page == 65001 ? kUtf8Start : kGbStart;
        TempDir dir;
        dir.write("t.csv", table_of(page, false));
        // Sort on column 1, characters 2 to 3.
        run_program(dir.path(), start +
                                    "131\r"
                                    "s"
                                    "23x"
                                    "8"
                                    "2\r3\r"
                                    "x"
                                    "8");
        const std::string sorted = dir.read("t_sort.csv");
        auto lines = screen_lines(sorted);
        ASSERT_EQ(lines.size(), 5u) << sorted;
        EXPECT_EQ(lines[0], encode(page, "s_名称;名称;数量"));
        // Keys: 京 padded to two characters, 华人, 海市, 津 padded.
        std::vector<std::string> keys;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            if (lines[i].empty()) continue;
            keys.push_back(lines[i].substr(0, lines[i].find(';')));
            EXPECT_TRUE(whole(page, keys.back())) << keys.back();
            EXPECT_EQ(TextMeasure(page).count(keys.back()), 2u) << keys.back();
        }
        std::vector<std::string> expected;
        for (const char* k : {"京 ", "华人", "海市", "津 "}) expected.push_back(encode(page, k));
        std::sort(expected.begin(), expected.end());
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, expected);
    }
}

TEST(Utf8Session, SortLowerCasesLettersButNotTheSecondByteOfAGb18030Character) {
    TempDir dir;
    // 癆 is B0 41 and 腃 is C4 43: their second bytes read as "A" and "C".
    dir.write("t.csv", encode(54936, "名称;数量\r\n癆A;1\r\n腃B;2\r\n"));
    run_program(dir.path(), kGbStart +
                                "131\r"
                                "s"
                                "23x"
                                "8"
                                "1\r1\r"
                                "x"
                                "8");
    EXPECT_EQ(dir.read("t_sort.csv"),
              encode(54936, "s_名称;名称;数量\r\n癆;癆a;1\r\n腃;腃b;2\r\n"));
}

}  // namespace
}  // namespace rowkeep::testing
