#include "table/create_table.h"

#include <gtest/gtest.h>

#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

// The main menu's "2", then the create menu's keys, then "8" twice: out of the create
// menu and out of the program.
RunResult create(const TempDir& dir, std::string_view keys) {
    return run_program(dir.path(), std::string(kStartKeys) + "2" + std::string(keys) + "88");
}

std::size_t count(const std::string& text, std::string_view piece) {
    std::size_t n = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

TEST(CreateTable, NameAndColumnsMakeTheTwoLineFile) {
    TempDir dir;
    // Capitals and blanks around the name; ";" and an empty name among the columns.
    RunResult r = create(dir, "1  MyTab  \r3\ra;b\r\rc\r");
    EXPECT_FALSE(r.input_ended);
    EXPECT_EQ(dir.read("mytab.csv"), "a,b; ;c\r\n ; ; \r\n");
    EXPECT_FALSE(dir.exists("MyTab.csv"));
    EXPECT_NE(
        r.screen.find("\r\n------------------------------\r\n<1> create table\r\n<8> exit\r\n"),
        std::string::npos);
    EXPECT_NE(r.screen.find("new table = mytab.csv\r\n\r\n"), std::string::npos);
    EXPECT_NE(r.screen.find("\r\n 1      column name = "), std::string::npos);
    EXPECT_NE(r.screen.find("\r\n 3      column name = "), std::string::npos);
    EXPECT_EQ(r.screen.find("Table exist."), std::string::npos);
    EXPECT_EQ(r.commands.back(), "dir mytab.csv > dir_b_01.txt");
    // The block again after the table is written, then the main menu and the end.
    EXPECT_EQ(count(r.screen, "<1> create table"), 2u);
    EXPECT_NE(r.screen.rfind("End"), std::string::npos);

    TempDir one;
    create(one, "1id\r1\rid\r");
    EXPECT_EQ(one.read("id.csv"), "id\r\n \r\n");

    // A comma ends the typed value; 2.6 columns round to 3; a name typed with its
    // extension gets it twice.
    TempDir forms;
    create(forms,
           "1t,u\r2.6\rx\ry\rz\r"
           "1t.csv\r1\rq\r");
    EXPECT_EQ(forms.read("t.csv"), "x;y;z\r\n ; ; \r\n");
    EXPECT_EQ(forms.read("t.csv.csv"), "q\r\n \r\n");
}

TEST(CreateTable, ExistingTableIsKeptUnlessOverwriteIsChosen) {
    TempDir dir;
    const std::string old = "old;names\r\n1;2\r\n3;4\r\n";
    dir.write("prices.csv", old);
    for (const char* key : {"1", "\r", "x"}) {
        RunResult r = create(dir, std::string("1prices\r") + key);
        EXPECT_EQ(dir.read("prices.csv"), old) << key;
        // The listing's file line is shown before the question.
        EXPECT_NE(r.screen.find(" prices.csv\r\n\r\n------------------------------\r\nTable "
                                "exist.\r\n\r\n<1> or <Enter> exit\r\n<2> overwrite with new "
                                "table\r\n"),
                  std::string::npos)
            << key;
        EXPECT_EQ(r.screen.find("new table = "), std::string::npos) << key;
    }
    // An existing file found under other capitals is the one replaced.
    dir.write("Names.csv", old);
    RunResult r = create(dir,
                         "1prices\r22\rp\rq\r"
                         "1names\r21\rn\r");
    EXPECT_EQ(dir.read("prices.csv"), "p;q\r\n ; \r\n");
    EXPECT_EQ(dir.read("Names.csv"), "n\r\n \r\n");
    EXPECT_FALSE(fs::exists(dir.path() / "names.csv"));
    EXPECT_EQ(count(r.screen, "Table exist."), 2u);

    // A name with blanks reaches the listing as one word, so the check sees the file.
    dir.write("my prices.csv", old);
    r = create(dir, "1my prices\r1");
    EXPECT_EQ(r.commands.back(), "dir \"my prices.csv\" > dir_b_01.txt");
    EXPECT_NE(r.screen.find("Table exist."), std::string::npos);
    EXPECT_EQ(dir.read("my prices.csv"), old);
}

TEST(CreateTable, WrongNamesAndColumnCountsWriteNothing) {
    TempDir dir;
    fs::create_directory(dir.path() / "sub");
    RunResult r = create(dir,
                         "1\r"
                         "1   \r"
                         "1..\r"
                         "1.\r"
                         "1sub/t\r"
                         "1..\\t\r");
    EXPECT_EQ(count(r.screen, "table (file) name is incorrect"), 6u);
    EXPECT_TRUE(fs::is_empty(dir.path() / "sub"));
    EXPECT_FALSE(fs::exists(dir.path().parent_path() / "t.csv"));

    r = create(dir,
               "1t\r0\r"
               "1t\r-2\r"
               "1t\rabc\r");
    EXPECT_EQ(count(r.screen, "number of columns is incorrect"), 3u);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".csv") << entry.path();
}

TEST(CreateTable, FileThatCannotBeWrittenIsReported) {
    TempDir dir;
    // A folder of the table's name: the listing finds no file in it, the write fails.
    fs::create_directory(dir.path() / "t.csv");
    RunResult r = create(dir, "1t\r1\rid\r");
    EXPECT_NE(r.screen.find("table (file) can not be created\r\n"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(dir.path() / "t.csv"));
}

}  // namespace
}  // namespace rowkeep::testing
