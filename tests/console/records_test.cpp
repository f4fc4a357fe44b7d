#include "console/records.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace rowkeep::testing {
namespace {

TEST(Records, QuotedRecordRoundTrip) {
    TempDir d;
    {
        TextWriter w(d.path(), "r.txt");
        w.write_value("a", false);
        w.write_value("", false);
        w.write_value("b,c", true);
        w.print_number(12);
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(d.read("r.txt"), "\"a\",\"\",\"b,c\"\r\n 12\r\n");
    EXPECT_EQ(d.read("r.txt").find("\r\n"), 12u);
    TextReader r(d.path(), "r.txt");
    EXPECT_EQ(r.read_value(), "a");
    EXPECT_EQ(r.read_value(), "");
    EXPECT_EQ(r.read_value(), "b,c");
    EXPECT_EQ(r.read_line(), " 12");
    EXPECT_TRUE(r.at_end());
    EXPECT_EQ(r.read_value(), "");
    EXPECT_EQ(r.read_line(), "");
    r.rewind();
    EXPECT_EQ(r.read_line(), "\"a\",\"\",\"b,c\"");
}

TEST(Records, LineEndsLfCrLfAndLoneCr) {
    TempDir d;
    d.write("l.txt", "one\ntwo\r\nthree\rfour");
    TextReader r(d.path(), "l.txt");
    EXPECT_EQ(r.read_line(), "one");
    EXPECT_EQ(r.read_line(), "two");
    EXPECT_EQ(r.read_line(), "three");
    EXPECT_EQ(r.read_line(), "four");
    EXPECT_TRUE(r.at_end());
    d.write("v.txt", "\"x\"\n\"y\"\r");
    TextReader v(d.path(), "v.txt");
    EXPECT_EQ(v.read_value(), "x");
    EXPECT_EQ(v.read_value(), "y");
    EXPECT_TRUE(v.at_end());
}

TEST(Records, LongLinesAndValuesStayWhole) {
    TempDir d;
    d.write("long.txt",
            std::string(5000, 'z') + "\r\n\"" + std::string(9000, 'q') + "\",\"next\"\r\n");
    TextReader r(d.path(), "long.txt");
    EXPECT_EQ(r.read_line().size(), 5000u);
    r.rewind();
    EXPECT_EQ(r.read_value(), std::string(5000, 'z'));
    EXPECT_EQ(r.read_value(), std::string(9000, 'q'));
    EXPECT_EQ(r.read_value(), "next");
    EXPECT_TRUE(r.at_end());
}

TEST(Records, QuotedValueFollowedByOtherCharacters) {
    TempDir d;
    d.write("q.txt", "  \"ab\" cd,\"e\"\r\n");
    TextReader r(d.path(), "q.txt");
    EXPECT_EQ(r.read_value(), "ab");
    EXPECT_EQ(r.read_value(), "cd");
    EXPECT_EQ(r.read_value(), "e");
    EXPECT_TRUE(r.at_end());
}

TEST(Records, MissingFileReadsAsEmpty) {
    TempDir d;
    TextReader r(d.path(), "absent.txt");
    EXPECT_FALSE(r.is_open());
    EXPECT_TRUE(r.at_end());
    EXPECT_EQ(r.read_value(), "");
    EXPECT_EQ(r.read_line(), "");
}

TEST(Records, ZonesInFilesNeverBreakTheLine) {
    TempDir d;
    {
        TextWriter w(d.path(), "z.txt");
        for (int i = 0; i < 8; ++i) w.print_number(i, Ending::zone);
        w.print_newline();
    }
    std::string line = d.read("z.txt");
    EXPECT_EQ(line.size(), 8u * 14 + 2);
    EXPECT_EQ(line.substr(14, 3), " 1 ");
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(Records, ReplacingWriterKeepsTheOldFileUntilClose) {
    TempDir d;
    d.write("T.csv", "old");
    TextWriter w;
    ASSERT_TRUE(w.open_replacing(d.path(), "t.csv"));
    w.write_raw("new");
    EXPECT_EQ(d.read("T.csv"), "old");
    EXPECT_TRUE(w.close());
    EXPECT_EQ(d.read("T.csv"), "new");
    EXPECT_FALSE(d.exists("t.csv") && !fs::equivalent(d.path() / "t.csv", d.path() / "T.csv"));
}

TEST(Names, LookupIgnoresCaseAndStaysInTheFolder) {
    TempDir d;
    d.write("MyTab.csv", "x");
    d.write("Htm_In/Page.HTM", "p");
    EXPECT_EQ(resolve_name(d.path(), "mytab.csv"), d.path() / "MyTab.csv");
    EXPECT_EQ(resolve_name(d.path(), "htm_in\\page.htm"), d.path() / "Htm_In" / "Page.HTM");
    EXPECT_EQ(resolve_name(d.path(), "new.csv"), d.path() / "new.csv");
    EXPECT_EQ(resolve_name(d.path(), "..\\..\\etc\\passwd"), d.path() / "etc" / "passwd");
    EXPECT_TRUE(matches_pattern("*.csv", "A.CSV"));
    EXPECT_TRUE(matches_pattern("f_??.txt", "F_03.txt"));
    EXPECT_FALSE(matches_pattern("f_??.txt", "f_3.txt"));
    EXPECT_TRUE(matches_pattern("*.*", "noext"));
    EXPECT_TRUE(matches_pattern("page_*.htm", "page_12.htm"));
    EXPECT_FALSE(matches_pattern("*.csv", "a.csv.bak"));
}

}  // namespace
}  // namespace rowkeep::testing
