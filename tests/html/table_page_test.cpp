#include "html/table_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "html/html_names.h"

namespace rowkeep::testing {
namespace {

// A working file of quoted cells, one a line, as the load leaves it.
std::string working_file(const std::vector<std::string>& cells) {
    std::string text;
    for (const auto& c : cells) text += "\"" + c + "\"\r\n";
    return text;
}

TEST(TablePage, WholePageWithLinksAndAlignment) {
    TempDir dir;
    dir.write("f_15_1.txt", working_file({" name ", "price", "link_location", "Ann", "12,5",
                                          "see http-doc", "<b>", "", "HTTP-DOC"}));
    TestSession t(dir.path(), "");
    Session& s = t.session;
    s.table_name = "prices.csv";
    s.code_page = "Windows-1250";
    s.program_file_name = "rowkeep.exe";
    s.column_count = 3;
    ASSERT_FALSE(t.run(write_table_page));

    const std::string right = "<td style=\"text-align: right\">";
    const std::string expected =
        "<html><head> <meta http-equiv=\"content-type\"  "
        "content=\"text/html;charset=Windows-1250\">\r\n"
        "<title>\r\nprices.htm\r\n</title>\r\n<style type =\"text/css\">\r\n"
        "\ndiv.ol {text-align: left}\n</style>\r\n</head>\r\n<body>\r\n"
        "The table was created with program: rowkeep.exe <br>\r\n"
        "The table was written with code page Windows-1250, for further use we recommend "
        "UTF-8.\r\n" +
        maker_link_line() +
        "\r\n"  // no sponsor line
        "<br>\r\n<table border=\"1\">\r\n"
        // The name row is row 1 and never a link, even in the link column.
        "<tr>\r\n" +
        right +
        "1</td>\r\n<td>\r\nname\r\n</td>\r\n<td>\r\nprice\r\n</td>\r\n"
        "<td>\r\nlink_location\r\n</td>\r\n</tr>\r\n"
        "<tr>\r\n" +
        right + "2</td>\r\n<td>\r\nAnn\r\n</td>\r\n" + right +
        "\r\n12,5\r\n</td>\r\n"
        "<td>\r\n<a href=\"see http-doc\"> link_location_2</a>\r\n</td>\r\n</tr>\r\n"
        "<tr>\r\n" +
        right + "3</td>\r\n<td>\r\n<b>\r\n</td>\r\n<td>\r\n \r\n</td>\r\n" +
        "<td>\r\n<a href=\"HTTP-DOC\"> link_location_3</a>\r\n</td>\r\n</tr>\r\n"
        "</table>\r\n</body>\r\n</html>\r\n";
    EXPECT_EQ(dir.read("prices.htm"), expected);
    EXPECT_EQ(dir.read("htm_in/prices.htm"), expected);
    EXPECT_EQ(s.column_names[1], "name");
    EXPECT_EQ(t.shell_owner->history(), (std::vector<std::string>{"md htm_in", "del /q htm_in\\*.*",
                                                                  "copy prices.htm htm_in\\"}));
}

TEST(TablePage, SponsorCaseOfTheLinkColumnAndOldInputPages) {
    TempDir dir;
    dir.write("f_15_1.txt", working_file({"Link_Location", "http://x"}));
    dir.write("htm_in/old.htm", "left by hand");
    TestSession t(dir.path(), "");
    Session& s = t.session;
    s.table_name = "my prices.csv";
    s.sponsor_address = "www.shop.example";
    s.column_count = 1;
    ASSERT_FALSE(t.run(write_table_page));
    const std::string page = dir.read("my prices.htm");
    EXPECT_NE(
        page.find(maker_link_line() + "\r\n" + sponsor_line("www.shop.example") + "\r\n<br>\r\n"),
        std::string::npos);
    EXPECT_EQ(sponsor_line("www.shop.example"),
              "<br> <a href=\"http://www.shop.example\">Sponsored by:     www.shop.example</a>");
    EXPECT_NE(page.find("<td>\r\nhttp://x\r\n</td>"),
              std::string::npos);                            // not exactly link_location
    EXPECT_NE(page.find("charset=\">"), std::string::npos);  // empty code page
    EXPECT_FALSE(dir.exists("htm_in/old.htm"));
    EXPECT_EQ(dir.read("htm_in/my prices.htm"), page);
    EXPECT_EQ(t.shell_owner->history().back(), "copy \"my prices.htm\" htm_in\\");
}

TEST(TablePage, NamesAndRightAlignedCells) {
    EXPECT_EQ(table_page_name("prices.csv"), "prices.htm");
    EXPECT_EQ(table_page_name("a.csv.csv"), "a.htm");
    EXPECT_EQ(table_page_name("my prices.csv"), "my prices.htm");
    EXPECT_EQ(table_page_name("noext"), "noext.htm");
    EXPECT_EQ(table_page_name("page.htm"), "page.htm.htm");

    for (const char* cell : {"-3.50", "1,000", "+7", "0", "..."})
        EXPECT_TRUE(right_aligned_cell(cell)) << cell;
    for (const char* cell : {"12/5", "1e3", "abc", " ", "", "1 000"})
        EXPECT_FALSE(right_aligned_cell(cell)) << cell;
}

}  // namespace
}  // namespace rowkeep::testing
