#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/table_file.h"
#include "harness.h"
#include "table/insert_delete_rows.h"
#include "table/save_copy.h"
#include "table/table_selection.h"
#include "table/table_structure.h"

namespace rowkeep::testing {
namespace {

// A working file of rows x cols cells named r<row>c<col>; row 1 holds n1..nk.
std::string numbered_working_file(int rows, int cols) {
    std::string text;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c)
            text += "\"" +
                    (r == 1 ? "n" + std::to_string(c)
                            : "r" + std::to_string(r) + "c" + std::to_string(c)) +
                    "\"\r\n";
    return text;
}

std::vector<std::string> file_lines(const TempDir& dir) {
    return screen_lines(dir.read("f_15_1.txt"));
}

struct Table {
    Table(int rows, int cols, std::string_view keys) : t(dir.path(), keys) {
        dir.write("f_15_1.txt", numbered_working_file(rows, cols));
        t.session.table_name = "t.csv";
        t.session.column_count = cols;
        t.session.row_count = rows;
        t.session.row_label_width = 7;
        t.session.edit_row = 2;
        t.session.size_arrays();
    }
    TempDir dir;
    TestSession t;
};

TEST(InsertRows, BlankRowsAfterTheChosenRow) {
    // Each viewer call is left with "9".
    Table after_names(6, 4, "91\r2\r9");
    after_names.t.run(insert_rows);
    auto lines = file_lines(after_names.dir);
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[3], "\"n4\"");
    for (int i = 4; i < 12; ++i) EXPECT_EQ(lines[i], "\"\"") << i;
    EXPECT_EQ(lines[12], "\"r2c1\"");
    EXPECT_EQ(after_names.t.session.row_count, 8);
    EXPECT_EQ(after_names.t.session.edit_row, 1);

    for (const char* keys : {"96\r1\r9", "950\r1\r9"}) {
        Table at_end(6, 2, keys);
        at_end.t.run(insert_rows);
        auto end_lines = file_lines(at_end.dir);
        ASSERT_EQ(end_lines.size(), 14u) << keys;
        EXPECT_EQ(end_lines[11], "\"r6c2\"");
        EXPECT_EQ(end_lines[12], "\"\"");
        EXPECT_EQ(at_end.t.session.edit_row, 6) << keys;
        EXPECT_EQ(at_end.t.session.row_count, 7);
    }
}

TEST(InsertRows, RefusedNumbersChangeNothing) {
    for (const char* keys : {"90\r", "9-3\r", "93\r0\r"}) {
        Table table(6, 2, keys);
        table.t.run(insert_rows);
        EXPECT_EQ(table.dir.read("f_15_1.txt"), numbered_working_file(6, 2)) << keys;
    }
}

TEST(DeleteRows, RangesAreClampedAndTheNameRowKept) {
    struct Case {
        const char* keys;
        int row_count;
        std::vector<std::string> gone;
    };
    for (const Case& c : std::vector<Case>{{"93\r3\r9", 9, {"r3c1"}},
                                           {"91\r4\r", 10, {}},
                                           {"98\r20\r9", 7, {"r8c1", "r9c1", "r10c1"}},
                                           {"920\r30\r9", 9, {"r10c1"}}}) {
        Table table(10, 1, c.keys);
        table.t.run(delete_rows);
        std::string text = table.dir.read("f_15_1.txt");
        EXPECT_EQ(table.t.session.row_count, c.row_count) << c.keys;
        EXPECT_EQ(file_lines(table.dir).size(), static_cast<std::size_t>(c.row_count));
        for (const auto& cell : c.gone) {
            EXPECT_EQ(text.find("\"" + cell + "\""), std::string::npos) << cell;
            // The removed rows are shown under the names, labelled by their numbers.
            std::string row = std::to_string(std::stoi(cell.substr(1)));
            std::string shown = std::string(7 - row.size(), ' ') + row + "|" + cell;
            EXPECT_NE(table.t.screen().find(shown), std::string::npos) << shown;
        }
        if (!c.gone.empty()) {
            EXPECT_NE(table.t.screen().find("       |n1          |"), std::string::npos);
        }
    }
}

TEST(DeleteRows, DisplayLineFitsCells) {
    TempDir dir;
    TestSession t(dir.path(), "");
    t.session.column_count = 3;
    t.session.row_label_width = 7;
    t.session.col_widths = {0, 4, 4, 4};
    EXPECT_EQ(display_line(t.session, "12", {"", "abcdef", "1,5", ""}), "     12|abc-| 1,5|    |");
    t.session.console_cols = 12;
    EXPECT_EQ(display_line(t.session, "", {"", "a", "b", "c"}), "       |a  ");
}

TEST(TableStructure, RenameCycleWrapsAndCleansNames) {
    // Column 1 passed, column 2 renamed with ";", the cycle wraps, column 1 renamed with a
    // comma (only the part before it stays), then "8" ends names and the menu.
    Table table(3, 2, "2x3a;b\r3left,right\r88");
    table.t.session.column_names = {"", "n1", "n2"};
    table.t.run(table_structure);
    auto lines = file_lines(table.dir);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "\"left\"");
    EXPECT_EQ(lines[1], "\"a,b\"");
    EXPECT_EQ(lines[2], "\"r2c1\"");
    EXPECT_NE(
        table.t.screen().find(std::string(30, '-') + "\r\n" + std::string(30, '-') + "\r\n 1"),
        std::string::npos);
    EXPECT_EQ(clean_column_name("a\"b;c"), "a'b,c");
}

TEST(TableStructure, InsertAndDeleteColumns) {
    Table first(3, 2, "39-5\rnew\r98");
    first.t.run(table_structure);
    auto lines = file_lines(first.dir);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "\"new\"");
    EXPECT_EQ(lines[3], "\" \"");
    EXPECT_EQ(lines[4], "\"r2c1\"");
    EXPECT_EQ(first.t.session.column_count, 3);

    Table last(2, 2, "399\r\r98");
    last.t.run(table_structure);
    lines = file_lines(last.dir);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "\" \"");  // an empty name becomes one blank
    EXPECT_EQ(lines[5], "\" \"");

    Table only(3, 1, "4950\r98");
    only.t.run(table_structure);
    EXPECT_EQ(only.t.session.column_count, 0);
    EXPECT_EQ(only.dir.read("f_15_1.txt"), "");
}

TEST(SaveCopy, CopyNamesThatLeaveTheFolderAreRefused) {
    for (const char* name : {".", "..", "a/b", "..\\x", "a\x01"})
        EXPECT_FALSE(safe_copy_name(name));
    for (const char* name : {"plain", "with blank", "x.y"}) EXPECT_TRUE(safe_copy_name(name));
    Table table(2, 1, "2../up\r\r8x");
    table.t.run(save_menu);
    EXPECT_NE(table.t.screen().find("table (file) name is incorrect"), std::string::npos);
    EXPECT_FALSE(table.dir.exists("../up.csv"));
}

TEST(TableSelection, NumberedLineMargin) {
    EXPECT_EQ(numbered_line(9, "a.csv"), "        9  a.csv");
    EXPECT_EQ(numbered_line(10, "a.csv"), "       10  a.csv");
    EXPECT_EQ(numbered_line(1000, "a.csv"), "     1000  a.csv");
}

}  // namespace
}  // namespace rowkeep::testing
