#include <gtest/gtest.h>

#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

// From the start screen: open the table, sort it in the viewer, and the program ends;
// then the sorted table opens as a table of its own.
TEST(SortSession, SortedTableEndsTheProgramAndOpensAsATable) {
    TempDir dir;
    dir.write("prices.csv", "Item;Price\r\nnail;12\r\nScrew;abc\r\nbolt;\r\n");
    // Main menu "1", the list "3", table 1; in the viewer "s", column 2 chosen, positions
    // 1 to 5, sort.
    RunResult r = run_program(dir.path(), std::string(kStartKeys) + "131\r" + "s2x381\r5\rx8");
    EXPECT_FALSE(r.input_ended);
    const auto lines = screen_lines(r.screen);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "output sort table = prices_sort.csv");
    EXPECT_EQ(lines.back(), "End");
    EXPECT_EQ(dir.read("prices_sort.csv"),
              "s_Price;Item;Price\r\n     ;bolt;\r\n   12;nail;12\r\nabc  ;screw;abc\r\n");
    EXPECT_EQ(dir.read("prices.csv"), "Item;Price\r\nnail;12\r\nScrew;abc\r\nbolt;\r\n");

    // The list is sorted, so the sorted table is entry 2; the viewer shows its rows (the key
    // with its blanks is text, so it stays to the left).
    RunResult again = run_program(dir.path(), std::string(kStartKeys) + "132\r");
    EXPECT_TRUE(again.input_ended);
    EXPECT_NE(again.screen.find("prices_sort.csv"), std::string::npos);
    EXPECT_NE(again.screen.find("rows =  4  columns =  3"), std::string::npos);
    EXPECT_NE(again.screen.find("      3|   12       |nail        |          12|"),
              std::string::npos);
}

}  // namespace
}  // namespace rowkeep::testing
