#include "viewer/view_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "console/index.h"
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
        ASSERT_FALSE(v.t.run([](Session& s) { view_table(s, s.top_row); }));
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
    ASSERT_FALSE(v.t.run([](Session& s) { view_table(s, s.top_row); }));
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
    ASSERT_FALSE(v.t.run([](Session& s) { view_table(s, s.top_row); }));
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
    ASSERT_FALSE(v.t.run([](Session& s) { view_table(s, s.top_row); }));
    EXPECT_EQ(v.t.session.top_row, 24);  // 15 rows a page, one of overlap
}

// The working file of numbered rows with some rows' values run together on one line or
// unquoted, as a hand edit leaves them: the index reads such rows by the token rules.
std::string spoilt_working_file(int rows, int cols) {
    std::string bytes;
    const auto table = numbered_rows(rows, cols);
    for (std::size_t r = 0; r < table.size(); ++r)
        for (std::size_t c = 0; c < table[r].size(); ++c) {
            const bool last = c + 1 == table[r].size();
            if (r % 5 == 3 && !last)
                bytes += "\"" + table[r][c] + "\",";
            else if (r % 7 == 2)
                bytes += table[r][c] + "\r\n";
            else
                bytes += "\"" + table[r][c] + "\"\r\n";
        }
    return bytes;
}

// Every page, from every top row go-to can leave (before the first row, each row, past
// the last), is the page an index of every row shows: around the sixteen-row steps of the
// sparse index, on tables whose size is a multiple of them or one off, with plain and
// hand-spoilt working files. The cells left by the entry (the last row) agree too.
TEST(ViewPage, SparseIndexShowsThePagesEveryRowsIndexShows) {
    for (int rows : {1, 2, 15, 16, 17, 32, 33, 47, 48, 49, 80})
        for (int cols : {1, 3})
            for (bool spoilt : {false, true}) {
                TempDir dir;
                dir.write("f_15_1.txt", spoilt ? spoilt_working_file(rows, cols)
                                               : working_file(numbered_rows(rows, cols)));
                std::string screens[2], last_cells[2];
                for (int way = 0; way < 2; ++way) {
                    TestSession t(dir.path(), "");
                    Session& s = t.session;
                    s.column_count = cols;
                    s.row_label_width = 7;
                    s.first_col = 1;
                    s.size_arrays();
                    TextReader in;
                    RowIndex sparse, every{RowStarts(1)};
                    RowIndex& index = way == 0 ? sparse : every;
                    open_working_file(s, in, index);
                    ASSERT_EQ(s.row_count, rows);
                    for (int k = 1; k <= cols; ++k) last_cells[way] += s.cells[idx(k)] + ";";
                    for (int top = -3; top <= rows + 2; ++top) {
                        s.top_row = top;
                        show_page(s, in, index, top % 3 == 0);
                    }
                    screens[way] = t.screen();
                }
                const std::string what = std::to_string(rows) + " rows, " + std::to_string(cols) +
                                         " columns" + (spoilt ? ", spoilt" : "");
                EXPECT_EQ(last_cells[0], last_cells[1]) << what;
                const auto sparse = split_screens(screens[0]), every = split_screens(screens[1]);
                ASSERT_EQ(sparse.size(), every.size()) << what;
                for (std::size_t n = 0; n < sparse.size(); ++n)
                    ASSERT_EQ(sparse[n], every[n])
                        << what << ", top row " << static_cast<int>(n) - 4;
            }
}

// Row moves around the index's sixteen-row steps (each move builds the index again): every
// page after a move shows the rows as swapping them in a list does.
TEST(ViewPage, RowMovesAtTheIndexStepsShowTheSwappedRows) {
    const int rows = 48;
    for (int start : {2, 15, 16, 17, 18, 31, 32, 33, 34, 47, 48})
        for (const std::string keys : {"A", "Y", "AAYYYA", "YY3A4Y"}) {
            TempDir dir;
            dir.write("f_15_1.txt", working_file(numbered_rows(rows, 1)));
            TestSession t(dir.path(), keys + "9");
            Session& s = t.session;
            s.column_count = 1;
            s.table_name = "prices.csv";
            s.row_label_width = 7;
            s.top_row = start;
            s.first_col = 1;
            s.size_arrays();
            ASSERT_FALSE(t.run([](Session& session) { view_table(session, session.top_row); }));
            // The model: row r's text is model[r], the top row as the viewer keeps it.
            std::vector<std::string> model{""};
            for (const auto& row : numbered_rows(rows, 1)) model.push_back(row[0]);
            int top = start;
            const auto screens = split_screens(t.screen());
            ASSERT_EQ(screens.size(), keys.size() + 3);
            for (std::size_t n = 0; n < keys.size(); ++n) {
                const char key = keys[n];
                if (key == 'A') {
                    const int edit = top - 1;
                    top = std::max(edit, 2);
                    if (edit >= 2) std::swap(model[idx(edit)], model[idx(edit + 1)]);
                } else if (key == 'Y') {
                    if (top + 1 > rows) {
                        top = rows;
                    } else if (top != 1) {
                        std::swap(model[idx(top)], model[idx(top + 1)]);
                        ++top;
                    }
                } else if (key == '3') {
                    top = std::min(top + 1, rows);
                } else if (key == '4') {
                    top = std::max(top - 1, 1);
                }
                const auto lines = screen_lines(screens[n + 3]);
                const std::string what =
                    "from " + std::to_string(start) + " keys " + keys.substr(0, n + 1);
                for (int r = top; r <= std::min(top + 16, rows); ++r) {
                    std::string number = std::to_string(r);
                    if (r == top && (key == 'A' || key == 'Y')) number = "*" + number;
                    const std::string cell = model[idx(r)];
                    ASSERT_EQ(lines.at(idx(r - top + 1)),
                              std::string(7 - number.size(), ' ') + number + "|" + cell +
                                  std::string(12 - cell.size(), ' ') + "|")
                        << what;
                }
            }
            std::vector<std::vector<std::string>> after;
            for (std::size_t r = 1; r < model.size(); ++r) after.push_back({model[r]});
            EXPECT_EQ(dir.read("f_15_1.txt"), working_file(after)) << start << " " << keys;
        }
}

}  // namespace
}  // namespace rowkeep::testing
