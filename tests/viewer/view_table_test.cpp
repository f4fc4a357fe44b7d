#include "viewer/view_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "viewer/view_page.h"

namespace rowkeep::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

struct Viewer {
    Viewer(const Rows& rows, int columns, std::string_view keys, Options options = {})
        : t(dir.path(), keys, options) {
        dir.write("f_15_1.txt", working_file(rows));
        t.session.column_count = columns;
        t.session.table_name = "prices.csv";
        t.session.row_label_width = 7;
        t.session.top_row = 1;
        t.session.first_col = 1;
        t.session.size_arrays();
    }
    bool run() {
        return t.run([](Session& s) { view_table(s, s.top_row); });
    }
    // The screen of page n (1 = the first page shown).
    std::vector<std::string> page(std::size_t n) const {
        auto screens = split_screens(t.screen());
        return n + 1 < screens.size() ? screen_lines(screens[n + 1]) : std::vector<std::string>{};
    }
    std::size_t pages() const { return split_screens(t.screen()).size() - 2; }
    TempDir dir;
    TestSession t;
};

TEST(ViewTable, HeadingsCarryTheColumnLetters) {
    Viewer v(numbered_rows(2, 53), 53, "9", Options{800, 25});
    ASSERT_FALSE(v.run());
    const std::string heading = v.page(1)[0];
    EXPECT_EQ(heading.rfind("       |C1(A) h1    |C2(B) h2    |", 0), 0u) << heading;
    EXPECT_NE(heading.find("|C26(Z) h26  |C27(AA) h27 |"), std::string::npos);
    EXPECT_NE(heading.find("|C52(AZ) h52 |C53(BA) h53 |"), std::string::npos);
    EXPECT_EQ(heading.size(), 8u + 53u * 13u);
}

TEST(ViewTable, CellsAreFittedAndNumbersRightAligned) {
    Rows rows = {{"a", "b", "c", "d", "e"}, {"abcdefghijklm", "12,5", "12/5", "abc", ""}};
    Viewer v(rows, 5, "\r");
    ASSERT_FALSE(v.run());
    auto page = v.page(1);
    EXPECT_EQ(page[0], "       |C1(A) a     |C2(B) b     |C3(C) c     |C4(D) d     |C5(E) e     |");
    EXPECT_EQ(page[1], "      1|a           |b           |c           |d           |e           |");
    EXPECT_EQ(page[2], "      2|abcdefghijk-|        12,5|12/5        |abc         |            |");
    EXPECT_EQ(page[3], std::string(79, '-'));
    EXPECT_EQ(page[4], "table = prices.csv          f_15_1.txt  rows =  2  columns =  5");
    EXPECT_EQ(page[5],
              "<1>right <2>left   <5>column_expand <6>end_expand   <->page_up <+>page_down");
    EXPECT_EQ(page[6],
              "<3>down  <4>up     <7>go_to         <8>print        <F/f>find  <S/s>sort    "
              "<Enter>/<9>exit");
    EXPECT_EQ(page[7], "<A/a>move_up(1 -> 0)   <Y/y>move_down(1 -> 2)");
    EXPECT_EQ(page[8], std::string(60, '-'));
    EXPECT_EQ(v.t.session.row_count, 2);
    EXPECT_EQ(v.t.session.column_names[2], "b");
    EXPECT_EQ(v.t.session.column_list[5], "e");
}

TEST(ViewTable, ColumnKeysScrollAndWiden) {
    Rows rows = {{"a", "b", "c"}, {"1", "x", "y"}};
    Viewer v(rows, 3, "1111252669");
    v.t.session.first_col = 2;  // restored at exit
    ASSERT_FALSE(v.run());
    EXPECT_EQ(v.page(2)[1], "      1|b           |c           |");
    EXPECT_EQ(v.page(4)[1], "      1|c           |");  // at most column_count
    EXPECT_EQ(v.page(5)[1], "      1|c           |");
    EXPECT_EQ(v.page(6)[1], "      1|b           |c           |");
    EXPECT_EQ(v.page(7)[1], "      1|b             |c             |");
    EXPECT_EQ(v.page(8)[1], "      1|a             |b             |c             |");
    EXPECT_EQ(v.page(9)[1], "      1|a           |b           |c           |");
    EXPECT_EQ(v.t.session.first_col, 2);
    EXPECT_EQ(v.t.session.col_width, 12);
}

TEST(ViewTable, PagesHoldConsoleRowsLessEightAndStepLessNine) {
    Viewer v(numbered_rows(40, 2), 2, "+++-3449");
    ASSERT_FALSE(v.run());
    auto first = v.page(1);
    EXPECT_EQ(first[1].rfind("      1|", 0), 0u);
    EXPECT_EQ(first[17].rfind("     17|", 0), 0u);
    EXPECT_EQ(first[18], std::string(79, '-'));
    auto second = v.page(2);
    EXPECT_EQ(second[1].rfind("     17|", 0), 0u);
    EXPECT_EQ(second[17].rfind("     33|", 0), 0u);
    EXPECT_EQ(v.page(3)[1].rfind("     33|", 0), 0u);
    auto third = v.page(4);  // 33 + 16 is past the last row: the last row at the top
    EXPECT_EQ(third[1].rfind("     40|", 0), 0u);
    EXPECT_EQ(third[2], std::string(79, '-'));
    EXPECT_EQ(v.page(5)[1].rfind("     24|", 0), 0u);
    EXPECT_EQ(v.page(6)[1].rfind("     25|", 0), 0u);
    EXPECT_EQ(v.t.session.top_row, 23);
    EXPECT_EQ(v.t.session.row_count, 40);
}

TEST(ViewTable, MovesSwapTheTopRowWithItsNeighbour) {
    Rows rows = numbered_rows(6, 2);
    Viewer v(rows, 2, "AY9");
    v.t.session.top_row = 5;
    ASSERT_FALSE(v.run());
    auto moved_up = v.page(2);
    EXPECT_EQ(moved_up[1], "     *4|r5c1        |r5c2        |");
    EXPECT_EQ(moved_up[2], "      5|r4c1        |r4c2        |");
    EXPECT_EQ(moved_up.at(8), "<A/a>move_up(4 -> 3)   <Y/y>move_down(4 -> 5)");
    auto moved_down = v.page(3);
    EXPECT_EQ(moved_down[1], "     *5|r5c1        |r5c2        |");
    EXPECT_EQ(moved_down[2], "      6|r6c1        |r6c2        |");
    EXPECT_EQ(v.dir.read("f_15_1.txt"), working_file(rows));  // swapped back
    EXPECT_EQ(v.t.session.top_row, 5);
    EXPECT_EQ(v.t.session.edit_row, 4);
    int copies = 0;
    for (const auto& c : v.t.shell_owner->history())
        if (c == "copy /y f_16_1.txt f_15_1.txt > out_null.txt") ++copies;
    EXPECT_EQ(copies, 2);
}

TEST(ViewTable, MoveUpChangesTheFile) {
    Viewer v(numbered_rows(4, 1), 1, "a9");
    v.t.session.top_row = 3;
    ASSERT_FALSE(v.run());
    EXPECT_EQ(v.dir.read("f_15_1.txt"), "\"h1\"\r\n\"r3c1\"\r\n\"r2c1\"\r\n\"r4c1\"\r\n");
}

TEST(ViewTable, MovesAtTheEdgesChangeNothing) {
    struct Case {
        int top_row;
        std::string key;
        int top_after;
        std::string margin;
    };
    for (const Case& c :
         {Case{2, "A", 2, "     *2|"}, Case{1, "y", 1, "     *1|"}, Case{4, "Y", 4, "     *4|"}}) {
        Rows rows = numbered_rows(4, 2);
        Viewer v(rows, 2, c.key + "9");
        v.t.session.top_row = c.top_row;
        ASSERT_FALSE(v.run());
        EXPECT_EQ(v.page(2)[1].substr(0, 8), c.margin) << c.key << c.top_row;
        EXPECT_EQ(v.t.session.top_row, c.top_after);
        EXPECT_EQ(v.dir.read("f_15_1.txt"), working_file(rows));
        for (const auto& command : v.t.shell_owner->history()) EXPECT_EQ(command, "cls");
    }
}

TEST(ViewTable, EditModeHidesTheMoveLineAndFind) {
    Rows rows = numbered_rows(4, 2);
    Viewer v(rows, 2, "AYFf9");
    v.t.session.edit_mode = EditMode::editing;
    v.t.session.top_row = 3;
    ASSERT_FALSE(v.run());
    ASSERT_EQ(v.pages(), 5u);
    for (std::size_t n = 1; n <= 5; ++n) {
        auto page = v.page(n);
        EXPECT_EQ(page[1], "      3|r3c1        |r3c2        |");
        EXPECT_EQ(page.size(), 8u);  // the closing rule follows the key lines at once
        EXPECT_EQ(page.at(7), std::string(60, '-'));
    }
    EXPECT_EQ(v.dir.read("f_15_1.txt"), working_file(rows));
}

TEST(ViewTable, ExtendedAndUnknownKeysOnlyRedraw) {
    Viewer v(numbered_rows(30, 1), 1, "\x1b[Hx\r");
    v.t.session.top_row = 12;
    ASSERT_FALSE(v.run());
    EXPECT_EQ(v.pages(), 3u);
    EXPECT_EQ(v.page(3), v.page(1));
    EXPECT_EQ(v.t.session.top_row, 12);
}

TEST(ViewTable, ArrowsAndPageKeysActAsTheDigitKeys) {
    const std::string down = "\x1b[B", up = "\x1b[A", right = "\x1b[C", left = "\x1b[D";
    const std::string pg_down = "\x1b[6~", pg_up = "\x1b[5~";
    Viewer v(numbered_rows(40, 3), 3,
             down + down + up + right + right + right + left + pg_down + pg_down + pg_up + "9");
    ASSERT_FALSE(v.run());
    EXPECT_EQ(v.page(2)[1].rfind("      2|", 0), 0u);
    EXPECT_EQ(v.page(3)[1].rfind("      3|", 0), 0u);
    EXPECT_EQ(v.page(4)[1].rfind("      2|", 0), 0u);
    EXPECT_EQ(v.page(5)[1], "      2|r2c2        |r2c3        |");
    EXPECT_EQ(v.page(7)[1], "      2|r2c3        |");  // at most column_count
    EXPECT_EQ(v.page(8)[1], "      2|r2c2        |r2c3        |");
    EXPECT_EQ(v.page(9)[1].rfind("     18|", 0), 0u);
    EXPECT_EQ(v.page(10)[1].rfind("     34|", 0), 0u);
    EXPECT_EQ(v.page(11)[1].rfind("     18|", 0), 0u);
    // The key lines stay as they were.
    EXPECT_EQ(v.page(11)[21],
              "<3>down  <4>up     <7>go_to         <8>print        <F/f>find  <S/s>sort    "
              "<Enter>/<9>exit");
    EXPECT_EQ(v.t.session.top_row, 18);
}

TEST(ViewTable, ResizeWhileWaitingRedrawsAtTheNewSize) {
    Viewer v(numbered_rows(40, 8), 8, "", {.cols = 100, .rows = 30});
    v.t.terminal.set_wrapping(true);
    v.t.terminal.add_resize(70, 20);
    v.t.terminal.add_keys("+");
    v.t.terminal.add_resize(120, 40);
    v.t.terminal.add_keys("9");
    ASSERT_FALSE(v.run());
    ASSERT_EQ(v.pages(), 4u);
    // 100 x 30: the block fits, 22 rows.
    EXPECT_EQ(v.page(1)[22].rfind("     22|", 0), 0u);
    EXPECT_EQ(v.page(1)[23], std::string(99, '-'));
    // 70 x 20, drawn with no key pressed: the two key lines wrap, so 20 - 8 - 2 rows.
    auto narrow = v.page(2);
    EXPECT_EQ(narrow[0].size(), 69u);
    EXPECT_EQ(narrow[10].rfind("     10|", 0), 0u);
    EXPECT_EQ(narrow[11], std::string(69, '-'));
    EXPECT_EQ(v.page(3)[1].rfind("     10|", 0), 0u);  // "+" steps the page shown
    EXPECT_EQ(v.page(4)[0].size(), 8u + 8u * 13u);
    EXPECT_EQ(v.t.session.console_cols, 120);
    EXPECT_EQ(v.t.session.console_rows, 40);
}

TEST(ViewTable, EntryResetsATopRowOutOfRange) {
    for (int top : {0, -3, 5}) {
        Viewer v(numbered_rows(4, 1), 1, "9");
        v.t.session.top_row = top;
        ASSERT_FALSE(v.run());
        EXPECT_EQ(v.t.session.top_row, 1);
        EXPECT_EQ(v.page(1)[1], "      1|h1          |");
    }
}

TEST(ViewTable, NoColumnsShowsAnEmptyGridAndKeysWork) {
    Viewer v({}, 0, "1233+-5AY9");
    ASSERT_FALSE(v.run());
    EXPECT_EQ(v.pages(), 10u);
    auto page = v.page(10);
    EXPECT_EQ(page[0], "       |");
    EXPECT_EQ(page[1], std::string(79, '-'));
    EXPECT_EQ(page[2], "table = prices.csv          f_15_1.txt  rows =  0  columns =  0");
    EXPECT_EQ(v.t.session.row_count, 0);
}

TEST(ViewTable, InputEndEndsTheProgram) {
    Viewer v(numbered_rows(3, 1), 1, "3");
    EXPECT_TRUE(v.run());
}

// Go-to from the key loop: an empty answer steps one page on without the limit at
// row_count; a row past the end shows no rows, one below 1 a shortened page from row 1,
// until the paging keys bring the page back.
TEST(ViewTable, GoToLeavesTheRowAsTypedAndThePageFollows) {
    Rows rows = numbered_rows(40, 1);
    Viewer v(rows, 1,
             "7\r"
             "750\r"
             "-"
             "741\r"
             "A"
             "7-5\r"
             "3"
             "70\r"
             "9");
    v.t.session.top_row = 10;
    ASSERT_FALSE(v.run());
    ASSERT_EQ(v.pages(), 9u);
    EXPECT_EQ(v.page(2)[1].rfind("     26|", 0), 0u);
    EXPECT_EQ(v.page(2)[15].rfind("     40|", 0), 0u);
    auto beyond = v.page(3);
    EXPECT_EQ(beyond[1], std::string(79, '-'));
    EXPECT_EQ(beyond.at(5), "<A/a>move_up(50 -> 49)   <Y/y>move_down(50 -> 51)");
    EXPECT_EQ(v.page(4)[1].rfind("     34|", 0), 0u);
    // A move up from just past the last row shows the last row but has no row to swap it
    // with.
    EXPECT_EQ(v.page(6)[1], "    *40|r40c1       |");
    EXPECT_EQ(v.page(6)[2], std::string(79, '-'));
    EXPECT_EQ(v.dir.read("f_15_1.txt"), working_file(rows));
    auto below = v.page(7);
    EXPECT_EQ(below[1], "      1|h1          |");
    EXPECT_EQ(below[11], "     11|r11c1       |");
    EXPECT_EQ(below[12], std::string(79, '-'));
    EXPECT_EQ(v.page(8)[12], "     12|r12c1       |");
    EXPECT_EQ(v.page(8)[13], std::string(79, '-'));
    // A typed 0 is the empty answer: from -4 one step on is row 12.
    EXPECT_EQ(v.page(9)[1], "     12|r12c1       |");
    EXPECT_EQ(v.t.session.top_row, 12);
}

// Pages for a top_row that go-to left outside the table: none above row_count, a shortened
// page from row 1 below 1.
TEST(ViewPage, TopRowOutsideTheTable) {
    TempDir dir;
    dir.write("f_15_1.txt", working_file(numbered_rows(30, 1)));
    TestSession t(dir.path(), "");
    Session& s = t.session;
    s.column_count = 1;
    s.row_label_width = 7;
    s.first_col = 1;
    s.size_arrays();
    TextReader in;
    RowIndex index;
    open_working_file(s, in, index);
    ASSERT_EQ(s.row_count, 30);

    s.top_row = 31;
    show_page(s, in, index, false);
    s.top_row = -5;
    show_page(s, in, index, false);
    s.top_row = 20;
    show_page(s, in, index, true);
    auto screens = split_screens(t.screen());
    ASSERT_EQ(screens.size(), 4u);
    auto above = screen_lines(screens[1]);
    EXPECT_EQ(above[1], std::string(79, '-'));
    EXPECT_EQ(above.at(5), "<A/a>move_up(31 -> 30)   <Y/y>move_down(31 -> 32)");
    auto below = screen_lines(screens[2]);
    EXPECT_EQ(below[1], "      1|h1          |");
    EXPECT_EQ(below[11], "     11|r11c1       |");
    EXPECT_EQ(below[12], std::string(79, '-'));
    auto end = screen_lines(screens[3]);
    EXPECT_EQ(end[1], "    *20|r20c1       |");
    EXPECT_EQ(end[11], "     30|r30c1       |");
    EXPECT_EQ(end[12], std::string(79, '-'));
}

}  // namespace
}  // namespace rowkeep::testing
