#include "viewer/view_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "pty_driver.h"
#include "viewer/view_table.h"

namespace rowkeep::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// The viewer on a console whose long lines wrap, as a terminal's screen does.
struct WrappingViewer {
    WrappingViewer(int rows, int cols, std::string_view keys, Options options,
                   std::string table_name = "prices.csv")
        : t(dir.path(), keys, options) {
        dir.write("f_15_1.txt", working_file(numbered_rows(rows, cols)));
        t.terminal.set_wrapping(true);
        t.session.column_count = cols;
        t.session.table_name = std::move(table_name);
        t.session.row_label_width = 7;
        t.session.top_row = 1;
        t.session.first_col = 1;
        t.session.size_arrays();
    }
    // Page n (1 = the first) as a terminal of the page's size shows it.
    ScreenModel shown(std::size_t n, int cols, int rows) const {
        ScreenModel model(cols, rows);
        model.feed(split_screens(t.screen()).at(n + 1));
        return model;
    }
    std::size_t pages() const { return split_screens(t.screen()).size() - 2; }
    TempDir dir;
    TestSession t;
};

std::string label(int row) {
    std::string n = std::to_string(row);
    return std::string(7 - n.size(), ' ') + n + "|";
}

TEST(PageLayout, ScreenLinesCountWrapsAndZoneBreaks) {
    const TextMeasure m(1250);
    EXPECT_EQ(lines_taken(m, "", 80), 1);
    EXPECT_EQ(lines_taken(m, std::string(80, 'x'), 80), 1);  // the edge itself: no wrap yet
    EXPECT_EQ(lines_taken(m, std::string(81, 'x'), 80), 2);
    EXPECT_EQ(lines_taken(m, std::string(91, 'x'), 40), 3);
    EXPECT_EQ(lines_taken(m, "table = t.csv\r\nf_15_1.txt", 40), 2);
    EXPECT_EQ(lines_taken(m, std::string(50, 'x') + "\r\n", 40), 3);
    // Screen columns, not bytes: 45 two-byte letters fit a line of 45.
    std::string letters;
    for (int i = 0; i < 45; ++i) letters += "\xc5\x99";
    EXPECT_EQ(lines_taken(TextMeasure(65001), letters, 45), 1);
    EXPECT_EQ(lines_taken(m, letters, 45), 2);
}

// Every page from the first to the last, paged with "+", shows the column heading on the
// top line and the page's first row under it, at the sizes people use.
TEST(PageLayout, HeadingAndTopRowStayOnScreenAtCommonSizes) {
    struct Case {
        int cols, rows, page_rows;
    } cases[] = {{80, 24, 15}, {80, 25, 16}, {60, 15, 4}, {40, 12, 3}, {92, 25, 17}};
    for (const auto& c : cases) {
        const int table_rows = 40;
        std::string keys(static_cast<std::size_t>(table_rows / (c.page_rows - 1) + 1), '+');
        WrappingViewer v(table_rows, 5, keys + "9", {.cols = c.cols, .rows = c.rows});
        ASSERT_FALSE(v.t.run(view_table));
        int top = 1;
        for (std::size_t n = 1; n <= v.pages(); ++n) {
            ScreenModel screen = v.shown(n, c.cols, c.rows);
            SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows) + " page " +
                         std::to_string(n));
            EXPECT_TRUE(screen.row(0).starts_with("       |C1(A) h1    |")) << screen.row(0);
            EXPECT_TRUE(screen.row(1).starts_with(label(top))) << screen.row(1);
            const int last = std::min(top + c.page_rows - 1, table_rows);
            EXPECT_TRUE(screen.row(last - top + 1).starts_with(label(last)));
            EXPECT_FALSE(screen.row(last - top + 2).starts_with(label(last + 1)));
            // A full page uses the screen to its last line, where the cursor waits.
            if (last - top + 1 == c.page_rows) {
                EXPECT_EQ(screen.cursor_row(), c.rows - 1);
            }
            top = std::min(top + c.page_rows - 1, table_rows);
        }
    }
}

TEST(PageLayout, NarrowConsoleCutsTheBlockInsteadOfWrapping) {
    WrappingViewer v(10, 3, "9", {.cols = 40, .rows = 12});
    ASSERT_FALSE(v.t.run(view_table));
    auto lines = screen_lines(split_screens(v.t.screen()).at(2));
    ASSERT_EQ(lines.size(), 11u);  // heading, 3 rows, 7 block lines; the cursor's line
    EXPECT_EQ(lines[4], std::string(39, '-'));
    EXPECT_EQ(lines[5], "table = prices.csv");  // the print zone lies past the edge
    EXPECT_EQ(lines[6], "f_15_1.txt  rows =  10  columns =  3");
    EXPECT_EQ(lines[7], "<1>right <2>left   <5>column_expand <6>");
    EXPECT_EQ(lines[10], std::string(39, '-'));
    for (const auto& line : lines) EXPECT_LT(line.size(), 40u);
}

TEST(PageLayout, LongTableNameShortensThePage) {
    const std::string name(75, 'n');
    WrappingViewer v(40, 2, "+9", {.cols = 80, .rows = 24}, name + ".csv");
    ASSERT_FALSE(v.t.run(view_table));
    // "table = " and the name take two lines, the second key line two: 14 rows.
    ScreenModel first = v.shown(1, 80, 24);
    EXPECT_TRUE(first.row(0).starts_with("       |C1(A) h1"));
    EXPECT_TRUE(first.row(14).starts_with(label(14)));
    EXPECT_FALSE(first.row(15).starts_with(label(15)));
    EXPECT_TRUE(v.shown(2, 80, 24).row(1).starts_with(label(14)));  // "+" steps 13
}

TEST(PageLayout, WithoutWrappingThePageIsAsAlways) {
    // A stream of lines (a pipe, the tests' screens): 17 rows on 25 lines at any width.
    for (int cols : {40, 80}) {
        TempDir dir;
        TestSession t(dir.path(), "", {.cols = cols, .rows = 25});
        t.session.table_name = "prices.csv";
        EXPECT_EQ(page_layout(t.session).rows, 17);
        EXPECT_EQ(page_step(t.session), 16);
        EXPECT_EQ(page_layout(t.session).block[2],
                  "<1>right <2>left   <5>column_expand <6>end_expand   <->page_up <+>page_down");
    }
}

TEST(PageLayout, GoToStepFollowsThePageShown) {
    WrappingViewer v(60, 2, "7\r9", {.cols = 80, .rows = 24});
    v.t.session.top_row = 10;
    ASSERT_FALSE(v.t.run(view_table));
    EXPECT_EQ(v.t.session.top_row, 24);  // 15 rows a page, one of overlap
}

}  // namespace
}  // namespace rowkeep::testing
