#include "viewer/print_listing.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace rowkeep::testing {
namespace {

void put_table(TempDir& dir, Session& s, const std::vector<std::vector<std::string>>& rows) {
    dir.write("f_15_1.txt", working_file(rows));
    s.column_count = static_cast<int>(rows.front().size());
    s.row_count = static_cast<int>(rows.size());
    s.row_label_width = 7;
    s.size_arrays();
    for (int k = 1; k <= s.column_count; ++k)
        s.column_names[k] = s.column_list[k] = rows.front()[static_cast<std::size_t>(k - 1)];
}

TEST(PrintListing, StockExampleWithItsSumFile) {
    TempDir dir;
    // "2": column 1 skipped, column 2 chosen; "8" lists; any key returns.
    TestSession t(dir.path(), "2x38k");
    put_table(dir, t.session, {{"item", "qty"}, {"nail", "5"}, {"screw", "  "}, {"bolt", ""}});
    t.session.table_name = "stock.csv";
    t.session.first_col = 2;
    int saved = 0;
    EXPECT_FALSE(t.run([&](Session& s) { print_listing(s, saved); }));
    EXPECT_EQ(saved, 2);
    EXPECT_EQ(t.session.first_col, 2);
    EXPECT_EQ(dir.read("stock.txt"),
              "table name (file name)= stock.csv\r\n"
              "rows = 4\r\n"
              "print date (mm-dd-yy) = 05-22-2017\r\n"
              "print time (h:m:s)    = 14:03:59\r\n"
              " \r\n"
              "       |C2(B) qty   |\r\n"
              "      1|qty         |\r\n"
              "      2|           5|\r\n"
              "      3|            |\r\n"
              "      4|            |\r\n");
    EXPECT_EQ(dir.read("stock_sum.txt"),
              "table name = stock.csv\r\n"
              "rows = 4\r\n"
              "empty rows are excluded\r\n"
              "print date (mm-dd-yy) = 05-22-2017\r\n"
              "print time (h:m:s)    = 14:03:59\r\n"
              "Listing is adapted to calculate the sum using MS CALC program by using the "
              "Copy/Paste\r\n"
              " - mark all numerical values in the column\r\n"
              " - use the Copy function\r\n"
              " - activate MS program CALC\r\n"
              " - use the Paste function and click button <=>\r\n"
              " \r\n"
              "|C2(B) qty   |\r\n"
              "qty\r\n"
              "+5\r\n"
              "+0\r\n");
    EXPECT_NE(t.screen().find("selected column (2).\r\n    qty\r\n"), std::string::npos);
    EXPECT_NE(t.screen().find(
                  "ouput (print) file = stock.txt    rows =  4\r\n<> any key to continue\r\n"),
              std::string::npos);
}

TEST(PrintListing, ColumnChosenTwiceAndTwoColumnsGiveNoSum) {
    TempDir dir;
    // First listing: column 1 chosen twice -> one column, sum file written.
    // Second listing: both columns -> no new sum file; the old one is left as it was.
    TestSession t(dir.path(),
                  "23x23x8k"
                  "2338k");
    put_table(dir, t.session, {{"a", "b"}, {"1", "2"}});
    t.session.table_name = "t.csv";
    int saved = 0;
    t.run([&](Session& s) { print_listing(s, saved); });
    EXPECT_NE(t.screen().find("column was been selected\r\n"), std::string::npos);
    ASSERT_TRUE(dir.exists("t_sum.txt"));
    EXPECT_NE(dir.read("t.txt").find("      2|           1|\r\n"), std::string::npos);
    dir.write("t_sum.txt", "old");
    t.run([&](Session& s) { print_listing(s, saved); });
    EXPECT_EQ(dir.read("t_sum.txt"), "old");
    EXPECT_NE(dir.read("t.txt").find("      2|           1|           2|\r\n"), std::string::npos);
}

TEST(PrintListing, TenColumnsAndTheRemovalInTheReview) {
    TempDir dir;
    // First listing: all 10 columns. Second: the review removes column 1, leaving 9.
    std::string keys = "2" + std::string(10, '3') + "8k";
    keys += "2" + std::string(10, '3');
    keys += "3 x";  // review: column 1 removed with the Space Bar, column 2 kept
    keys += std::string(8, 'x');
    keys += "8k";
    TestSession t(dir.path(), keys);
    std::vector<std::string> names, cells;
    for (int k = 1; k <= 10; ++k) names.push_back("n" + std::to_string(k)), cells.push_back("v");
    put_table(dir, t.session, {names, cells});
    t.session.table_name = "wide";  // no ".csv": the listing is wide.txt
    int saved = 0;
    t.run([&](Session& s) { print_listing(s, saved); });
    // The heading and both rows: margin 7 and "|", then 10 cells of 12 and "|".
    auto wide = screen_lines(dir.read("wide.txt"));
    ASSERT_EQ(wide.size(), 8u);
    for (std::size_t i = 5; i < wide.size(); ++i) EXPECT_EQ(wide[i].size(), 8u + 10 * 13) << i;
    EXPECT_FALSE(dir.exists("wide_sum.txt"));
    t.run([&](Session& s) { print_listing(s, saved); });
    EXPECT_NE(t.screen().find("the column was removed from the list"), std::string::npos);
    auto listing = dir.read("wide.txt");
    auto last = listing.substr(listing.rfind("      2|"));
    EXPECT_EQ(last.size(), 8u + 9 * 13 + 2);
}

}  // namespace
}  // namespace rowkeep::testing
