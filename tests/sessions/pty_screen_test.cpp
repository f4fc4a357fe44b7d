// The real binary on terminals of the sizes people use: every viewer page fits, a resize
// redraws, the arrow and page keys move, and keys typed ahead go in under the code page
// chosen after them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "harness.h"
#include "pty_driver.h"
#include "pty_steps.h"

namespace rowkeep::testing {
namespace {

std::string numbered_table(int rows) {
    std::string t = "name;city;n;note\r\n";
    for (int i = 2; i <= rows; ++i)
        t += "p" + std::to_string(i) + ";c;" + std::to_string(i) + ";x\r\n";
    return t;
}

std::string label(int row) {
    std::string n = std::to_string(row);
    return std::string(7 - n.size(), ' ') + n + "|";
}

// Start screens, Windows-1250, then the first table of the list in the viewer.
void open_viewer(PtyProgram& p) {
    reach_main_menu(p);
    p.type("1");
    ASSERT_TRUE(shows(p, "<3> select  table"));
    p.type("3");
    ASSERT_TRUE(shows(p, "select table (row) = ? "));
    p.type("1\r");
}

// Waits until the screen shows a whole viewer page whose heading starts with heading and
// whose first row is top: the closing rule just above the cursor, nothing scrolled off.
::testing::AssertionResult page_shown(PtyProgram& p, int cols, int top,
                                      std::string_view heading = "       |C1(A) name  |") {
    // The closing rule: 60 wide, or cut to the line where the block is cut.
    auto closing_rule = [cols](const std::string& line) {
        return line.size() >= static_cast<std::size_t>(std::min(60, cols - 1)) &&
               line.find_first_not_of('-') == std::string::npos;
    };
    auto whole = [&] {
        const ScreenModel& m = p.model();
        const int r = m.cursor_row();
        return r > 2 && closing_rule(m.row(r - 1)) && m.row(r - 2).starts_with("<A/a>move_up(") &&
               m.row(0).starts_with(heading) && m.row(1).starts_with(label(top));
    };
    if (p.wait_until(whole)) return ::testing::AssertionSuccess();
    std::string screen;
    for (int r = 0; r <= p.model().cursor_row(); ++r) screen += p.model().row(r) + "\n";
    return ::testing::AssertionFailure() << "no page at row " << top << "; the screen shows:\n"
                                         << screen << "\nlast output: "
                                         << ::testing::PrintToString(p.raw().substr(
                                                p.raw().size() > 300 ? p.raw().size() - 300 : 0));
}

TEST(PtyScreen, EveryViewerPageKeepsItsHeadingAtCommonSizes) {
    struct Size {
        int cols, rows, page_rows;
    } sizes[] = {{80, 24, 15}, {80, 25, 16}, {60, 15, 4}, {40, 12, 3}};
    const int table_rows = 40;
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.cols) + "x" + std::to_string(size.rows));
        TempDir dir;
        dir.write("people.csv", numbered_table(table_rows));
        PtyProgram p(ROWKEEP_BINARY, dir.path(), {size.cols, size.rows, {"LANG=C"}});
        ASSERT_TRUE(p.started());
        ASSERT_NO_FATAL_FAILURE(open_viewer(p));
        int top = 1;
        ASSERT_TRUE(page_shown(p, size.cols, top));
        // Row 1 and the page's last row, and not the row after it.
        EXPECT_TRUE(p.model().row(size.page_rows).starts_with(label(size.page_rows)));
        EXPECT_FALSE(p.model().row(size.page_rows + 1).starts_with(label(size.page_rows + 1)));
        EXPECT_EQ(p.model().cursor_row(), size.rows - 1) << "the page fills the screen";
        while (top < table_rows) {
            p.type("+");
            top = std::min(top + size.page_rows - 1, table_rows);
            ASSERT_TRUE(page_shown(p, size.cols, top));
        }
        p.type("-");
        ASSERT_TRUE(page_shown(p, size.cols, table_rows - size.page_rows + 1));
        p.type("7");
        ASSERT_TRUE(shows(p, "go to row = ? "));
        p.type("\r");  // an empty go-to steps one page as shown
        ASSERT_TRUE(page_shown(p, size.cols, table_rows));
    }
}

TEST(PtyScreen, ResizeWhileTheViewerWaitsRedrawsAPageThatFits) {
    TempDir dir;
    dir.write("people.csv", numbered_table(40));
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {100, 30, {"LANG=C"}});
    ASSERT_TRUE(p.started());
    ASSERT_NO_FATAL_FAILURE(open_viewer(p));
    ASSERT_TRUE(page_shown(p, 100, 1));
    EXPECT_TRUE(p.model().row(22).starts_with(label(22)));
    EXPECT_EQ(p.model().cursor_row(), 29);

    // No key: the resize alone draws the page again, 10 rows under the wrapped key lines.
    p.resize(70, 20);
    ASSERT_TRUE(page_shown(p, 70, 1));
    EXPECT_TRUE(p.model().row(10).starts_with(label(10)));
    EXPECT_FALSE(p.model().row(11).starts_with(label(11)));
    EXPECT_EQ(p.model().cursor_row(), 19);
    EXPECT_EQ(p.model().row(0).size(), 60u);  // the heading of 4 columns, not cut
    p.type("+");
    ASSERT_TRUE(page_shown(p, 70, 10));

    // Back wider while the edit menu waits: it is drawn again too.
    p.type("\r");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    p.resize(90, 20);
    ASSERT_TRUE(p.wait_until([&] {
        return p.model().row(0).starts_with("people.csv") &&
               p.model().row(5) == "<9> save/copy, exit, end";
    }));
}

TEST(PtyScreen, ArrowAndPageKeysMoveTheViewer) {
    TempDir dir;
    dir.write("people.csv", numbered_table(40));
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 24, {"LANG=C"}});
    ASSERT_TRUE(p.started());
    ASSERT_NO_FATAL_FAILURE(open_viewer(p));
    ASSERT_TRUE(page_shown(p, 80, 1));
    p.type("\x1b[B");
    ASSERT_TRUE(page_shown(p, 80, 2));
    p.type("\x1b[6~");
    ASSERT_TRUE(page_shown(p, 80, 16));
    p.type("\x1b[A");
    ASSERT_TRUE(page_shown(p, 80, 15));
    p.type("\x1b[5~");
    ASSERT_TRUE(page_shown(p, 80, 1));
    p.type("\x1b[C");
    ASSERT_TRUE(page_shown(p, 80, 1, "       |C2(B) city  |"));
    p.type("\x1b[D");
    ASSERT_TRUE(page_shown(p, 80, 1));
    // The other keys without a character still only redraw.
    p.type("\x1b[H\x1b[F\x1b[3~\x1bOQ3");
    ASSERT_TRUE(page_shown(p, 80, 2));
    p.type("9");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
}

TEST(PtyScreen, LettersTypedAheadGoInUnderTheCodePageChosenAfterThem) {
    TempDir dir;
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C.UTF-8"}});
    ASSERT_TRUE(p.started());
    // All typed at the first screen: accept, notice, step to Windows-1257 and choose it,
    // create table "t" with one column named "šžř" (ř is not in 1257), end.
    ASSERT_TRUE(shows(p, "<2> no,  end"));
    p.type(
        "112       3"
        "21t\r1\r\xC5\xA1\xC5\xBE\xC5\x99\r88");
    ASSERT_TRUE(shows(p, "Windows code page = Windows-1257"));
    auto status = p.wait_exit();
    ASSERT_TRUE(status) << p.plain();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(dir.read("t.csv"), "\xF0\xFE?\r\n \r\n");
}

}  // namespace
}  // namespace rowkeep::testing
