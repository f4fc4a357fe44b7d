// The real binary: a line being typed is drawn again when the terminal changes size, and
// the editing keys go on working at the new width.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "pty_driver.h"
#include "pty_steps.h"

namespace rowkeep::testing {
namespace {

const std::string kPrompt = "new table name (without .csv extension) = ? ";

::testing::AssertionResult cursor_row_is(PtyProgram& p, const std::string& row) {
    if (p.wait_until([&] { return p.last_line() == row; })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the cursor's row shows " << ::testing::PrintToString(p.last_line()) << ", not "
           << ::testing::PrintToString(row);
}

TEST(LineEntryResize, TheTypedLineIsDrawnAgainAtTheNewWidth) {
    TempDir dir;
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C.UTF-8"}});
    ASSERT_TRUE(p.started());
    reach_main_menu(p);
    p.type("21");
    ASSERT_TRUE(shows(p, kPrompt));
    p.type("abcdefghij");
    ASSERT_TRUE(cursor_row_is(p, kPrompt + "abcdefghij"));

    // Still one row at the new width: written again where it is.
    p.resize(70, 20);
    ASSERT_TRUE(cursor_row_is(p, kPrompt + "abcdefghij"));
    EXPECT_EQ(p.model().cursor_col(), 54);

    // Wrapped at 70, then narrowed to 50: drawn afresh, wrapped at 50.
    const std::string typed = "abcdefghijklmnopqrstuvwxyz0123456789";
    p.type(typed.substr(10));
    const std::string whole = kPrompt + typed;
    ASSERT_TRUE(cursor_row_is(p, whole.substr(70)));
    p.resize(50, 20);
    ASSERT_TRUE(cursor_row_is(p, whole.substr(50)));
    const int row = p.model().cursor_row();
    ASSERT_GE(row, 1);
    EXPECT_EQ(p.model().row(row - 1), whole.substr(0, 50));
    EXPECT_EQ(p.model().cursor_col(), 30);

    // The editing keys count with the new width.
    p.type(std::string(kLeft) + kLeft + kLeft + kLeft + kLeft + "X");
    ASSERT_TRUE(cursor_row_is(p, "ghijklmnopqrstuvwxyz01234X56789"));
    EXPECT_EQ(p.model().cursor_col(), 26);
    EXPECT_EQ(p.model().row(row - 1), whole.substr(0, 50));

    // Widened so that the whole line fits one row again.
    p.resize(100, 20);
    ASSERT_TRUE(cursor_row_is(p, kPrompt + "abcdefghijklmnopqrstuvwxyz01234X56789"));
    EXPECT_EQ(p.model().cursor_col(), 44 + 32);

    p.type("\r");
    ASSERT_TRUE(shows(p, "number of columns = "));
    p.type("1\rk\r88");
    ASSERT_TRUE(p.wait_exit());
    EXPECT_EQ(dir.read("abcdefghijklmnopqrstuvwxyz01234x56789.csv"), "k\r\n \r\n");
}

}  // namespace
}  // namespace rowkeep::testing
