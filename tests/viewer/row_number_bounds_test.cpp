// Typed row numbers and counts at the ends of the 32-bit range: the viewer, go-to, the
// edit loop and row insertion keep them in range and never wrap (the sanitizer build
// stops on any signed overflow).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/tokens.h"
#include "harness.h"
#include "viewer/find_goto.h"
#include "viewer/view_table.h"

namespace rowkeep::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows one_column(int rows) {
    Rows t{{"h1"}};
    for (int r = 2; r <= rows; ++r) t.push_back({"r" + std::to_string(r)});
    return t;
}

TEST(RowNumberBounds, ClampRows) {
    EXPECT_EQ(clamp_rows(0), 0);
    EXPECT_EQ(clamp_rows(2147483647LL), 2147483647);
    EXPECT_EQ(clamp_rows(2147483648LL), 2147483647);
    EXPECT_EQ(clamp_rows(-2147483648LL), -2147483647);
    EXPECT_EQ(clamp_rows(-99999999999LL), -2147483647);
}

TEST(RowNumberBounds, GoToTakesTheRangeAndStepsWithoutWrapping) {
    TempDir dir;
    {
        TestSession t(dir.path(), "-99999999999\r");
        t.run(go_to_row);
        EXPECT_EQ(t.session.top_row, -2147483647);
    }
    {
        // An empty answer steps one page on from the last row there can be.
        TestSession t(dir.path(), "\r", {.rows = 25});
        t.session.top_row = 2147483647;
        t.run(go_to_row);
        EXPECT_EQ(t.session.top_row, 2147483647);
    }
}

// Every row key from the two ends of the range: the page and the move line show the
// numbers as they are, and the file is untouched by moves that have no row to swap.
TEST(RowNumberBounds, ViewerKeysAtTheEndsOfTheRange) {
    TempDir dir;
    const std::string file = working_file(one_column(20));
    dir.write("f_15_1.txt", file);
    TestSession t(dir.path(),
                  "799999999999\r"   // page 2: the largest row
                  "4"                // 3: one up
                  "7\r"              // 4: one page on, held at the largest row
                  "3"                // 5: down stops at the last row
                  "799999999999\r"   // 6
                  "Y"                // 7: down from the largest row: the last row
                  "7-99999999999\r"  // 8: the smallest row
                  "-"                // 9: a page up stops at 1
                  "7-99999999999\r"  // 10
                  "A"                // 11: up from the smallest row: row 2
                  "7-99999999999\r"  // 12
                  "Y"                // 13: one down, nothing to swap
                  "7-99999999999\r"  // 14
                  "+"                // 15: a page on, still above the first row
                  "9");
    Session& s = t.session;
    s.column_count = 1;
    s.table_name = "t.csv";
    s.row_label_width = 7;
    s.top_row = 1;
    s.first_col = 1;
    s.size_arrays();
    ASSERT_FALSE(t.run([](Session& s) { view_table(s, s.top_row); }));
    auto screens = split_screens(t.screen());
    auto page = [&](std::size_t n) { return screen_lines(screens.at(n + 1)); };
    ASSERT_EQ(screens.size(), 17u);
    auto shows = [&](std::size_t n, std::string_view text) {
        return screen_has(screens.at(n + 1), text);
    };
    auto top = page(2);
    EXPECT_EQ(top[1], std::string(79, '-'));  // no rows that far down
    EXPECT_EQ(top.at(5),
              "<A/a>move_up(2147483647 -> 2147483646)   "
              "<Y/y>move_down(2147483647 -> 2147483648)");
    EXPECT_TRUE(shows(3, "move_up(2147483646 -> 2147483645)"));
    EXPECT_TRUE(shows(4, "move_up(2147483647 -> 2147483646)"));
    EXPECT_TRUE(shows(5, "move_up(20 -> 19)"));
    EXPECT_TRUE(shows(7, "move_up(20 -> 19)"));
    auto bottom = page(8);
    EXPECT_EQ(bottom[1], std::string(79, '-'));
    EXPECT_EQ(bottom.at(5),
              "<A/a>move_up(-2147483647 -> -2147483648)   "
              "<Y/y>move_down(-2147483647 -> -2147483646)");
    EXPECT_TRUE(shows(9, "move_up(1 -> 0)"));
    EXPECT_TRUE(shows(11, "move_up(2 -> 1)"));
    EXPECT_TRUE(shows(13, "move_up(-2147483646 -> -2147483647)"));
    EXPECT_TRUE(shows(15, "move_up(-2147483631 -> -2147483632)"));
    EXPECT_EQ(dir.read("f_15_1.txt"), file);
}

// The edit loop's next-row key, the row editor and row insertion from the largest typed
// numbers; a count that would pass the most rows a table holds is refused on the screen.
TEST(RowNumberBounds, EditLoopAndInsertRefuseOrClamp) {
    TempDir dir;
    const std::string table = "a;b\r\n1;2\r\n3;4\r\n5;6\r\n7;8\r\n";
    dir.write("t.csv", table);
    RunResult r = run_program(dir.path(), from_main_menu("131\r9"
                                                         "3799999999999\r9"  // top row the largest
                                                         "59"  // one on: held, then reset
                                                         "21999999999999\r99999999999\rk"
                                                         "2193\r2147483643\rk"));
    EXPECT_TRUE(r.input_ended);
    EXPECT_TRUE(screen_has(r.screen, "<1> or <Enter> edit top row ( 2147483647)"));
    const std::string refused =
        "number inserted rows is too large: a table holds at most 2147483647 rows\r\n"
        "<> any key to continue\r\n";
    EXPECT_TRUE(screen_has(
        r.screen, "number inserted rows                      = ? 99999999999\r\n" + refused));
    EXPECT_TRUE(screen_has(r.screen, "= ? 2147483643\r\n" + refused));
    EXPECT_EQ(dir.read("t.csv"), table);
}

}  // namespace
}  // namespace rowkeep::testing
