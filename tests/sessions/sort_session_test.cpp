#include <gtest/gtest.h>

#include <cstdlib>
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

// The real program hands a long listing's screen to the terminal a block at a time, while
// it goes on: piped, from the sort set-up's first prompt to the end, its screen is byte
// for byte the in-process one, and so is the sorted table.
TEST(SortSession, RealProgramShowsALongSortSetUpInOrder) {
    std::string table = "Name;Code\r\n";
    for (int r = 1; r <= 20000; ++r)
        table += "n" + std::to_string(r * 7919 % 20011) + ";" + std::to_string(r % 97) + "\r\n";
    const std::string keys = std::string(kStartKeys) + "131\r" + "s2x381\r6\rx8";
    TempDir in_process, real, aside;
    in_process.write("big.csv", table);
    real.write("big.csv", table);
    aside.write("keys", keys);
    const RunResult expected = run_program(in_process.path(), keys);

    const std::string command = "cd '" + real.path().string() +
                                "' && LC_ALL=C COLUMNS=80 LINES=25 '" ROWKEEP_BINARY "' < '" +
                                (aside.path() / "keys").string() + "' > '" +
                                (aside.path() / "screen").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string screen = aside.read("screen");
    constexpr std::string_view from = "first position for key string = ";
    const auto at = screen.find(from), expected_at = expected.screen.find(from);
    ASSERT_NE(expected_at, std::string::npos);
    ASSERT_NE(at, std::string::npos);
    ASSERT_GT(screen.size() - at, 3u << 20) << "several blocks of screen output";
    EXPECT_TRUE(screen.substr(at) == expected.screen.substr(expected_at));
    EXPECT_EQ(real.read("big_sort.csv"), in_process.read("big_sort.csv"));
}

}  // namespace
}  // namespace rowkeep::testing
