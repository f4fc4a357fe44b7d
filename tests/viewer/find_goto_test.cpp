#include "viewer/find_goto.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace rowkeep::testing {
namespace {

// Writes rows (each a list of cells) as the working file, and the counts the viewer sets.
void put_table(TempDir& dir, Session& s, const std::vector<std::vector<std::string>>& rows) {
    dir.write("f_15_1.txt", working_file(rows));
    s.column_count = static_cast<int>(rows.front().size());
    s.row_count = static_cast<int>(rows.size());
    s.size_arrays();
}

const std::vector<std::vector<std::string>> kCities = {{"city", "note"},
                                                       {"Berlin", "x"},
                                                       {"Praha",
                                                        "\xe8"
                                                        "ed"},
                                                       {"Roma", "a,b"}};

std::string find(std::string_view typed) {
    TempDir dir;
    TestSession t(dir.path(), std::string(typed) + "\rk");
    put_table(dir, t.session, kCities);
    t.session.top_row = 3;
    t.session.first_col = 2;
    EXPECT_FALSE(t.run(find_text));
    EXPECT_EQ(t.session.top_row, 3);
    EXPECT_EQ(t.session.edit_row, 3);
    EXPECT_EQ(t.session.first_col, 1);
    return t.screen();
}

TEST(FindText, FoldsOnlyAToZAndListsEveryMatch) {
    const std::string match = "row : column =  2 : 1       Berlin\r\n";
    EXPECT_NE(find("ber").find(match), std::string::npos);
    EXPECT_NE(find("BER").find(match), std::string::npos);
    // Row 1, the column names, is searched too.
    EXPECT_NE(find("CIT").find("row : column =  1 : 1       city\r\n"), std::string::npos);
    // A byte above 127 is not folded: it matches itself only.
    EXPECT_NE(find("\xe8").find(" 3 : 2"), std::string::npos);
    EXPECT_EQ(find("\xc8").find("row : column"), std::string::npos);
}

TEST(FindText, CommaEndsTheSearchTextAndEmptyFindsNothing) {
    std::string screen = find("a,b");
    EXPECT_NE(screen.find(" 3 : 1       Praha"), std::string::npos);
    EXPECT_NE(screen.find(" 4 : 2       a,b"), std::string::npos);
    EXPECT_EQ(screen.find("b\r\n"), screen.find("a,b\r\n") + 2) << "only a is searched";
    screen = find("");
    EXPECT_EQ(screen, "find string = ? \r\n\r\n\r\n<> any key to continue\r\n");
}

TEST(GoToRow, TypedValueOrOnePageOnWhenEmpty) {
    TempDir dir;
    {
        TestSession t(dir.path(), "\r", {.rows = 25});
        t.session.top_row = 10;
        t.run(go_to_row);
        EXPECT_EQ(t.session.top_row, 26);
        EXPECT_EQ(t.screen(), "go to row = ? \r\n");
    }
    {
        // Taken unchecked: the viewer decides how a row outside the table shows.
        TestSession t(dir.path(), "500\r");
        t.session.top_row = 10;
        t.session.row_count = 20;
        t.run(go_to_row);
        EXPECT_EQ(t.session.top_row, 500);
    }
}

}  // namespace
}  // namespace rowkeep::testing
