#include "console/shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

struct ShellTest : ::testing::Test {
    TempDir d;
    TestSession t{d.path(), ""};
    void run(std::string_view line) { t.session.shell.run_command(line); }
};

TEST_F(ShellTest, BareListing) {
    d.write("b.csv", "1");
    d.write("A.CSV", "2");
    d.write("c.txt", "3");
    run("dir /b *.csv > f_03.txt");
    EXPECT_EQ(d.read("f_03.txt"), "A.CSV\r\nb.csv\r\n");
    // Nothing matches: the listing is empty, the message reaches the screen.
    run("dir /b *.htm > dir_02.txt");
    EXPECT_TRUE(d.exists("dir_02.txt"));
    EXPECT_EQ(d.read("dir_02.txt"), "");
    EXPECT_NE(t.screen().find("File Not Found"), std::string::npos);
    d.write("htm_in/p1.htm", "x");
    run("dir /b htm_in > dir_01.txt");
    EXPECT_EQ(d.read("dir_01.txt"), "p1.htm\r\n");
}

TEST_F(ShellTest, FullListingHeaderAndSummary) {
    d.write("Tab.csv", "12345");
    run("dir tab.csv > dir_b_01.txt");
    auto lines = screen_lines(d.read("dir_b_01.txt"));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_NE(lines[5].find("Tab.csv"), std::string::npos);
    EXPECT_NE(lines[6].find("1 File(s)"), std::string::npos);
    run("dir none.csv > dir_b_01.txt");
    EXPECT_EQ(screen_lines(d.read("dir_b_01.txt")).size(), 5u);
}

TEST_F(ShellTest, CopyForms) {
    d.write("f_16_1.txt", "new");
    d.write("F_15_1.TXT", "old");
    run("copy /y f_16_1.txt f_15_1.txt > out_null.txt");
    EXPECT_EQ(d.read("F_15_1.TXT"), "new");
    EXPECT_FALSE(d.exists("f_15_1.txt") && d.read("f_15_1.txt") != "new");
    EXPECT_NE(d.read("out_null.txt").find("1 file(s) copied."), std::string::npos);
    run("md txt_in");
    run("copy f_16_1.txt txt_in\\");
    EXPECT_EQ(d.read("txt_in/f_16_1.txt"), "new");
    run("copy f_16_1.txt");  // onto itself: refused, nothing changes
    EXPECT_EQ(d.read("f_16_1.txt"), "new");
    EXPECT_NE(t.screen().find("cannot be copied onto itself"), std::string::npos);
    run("copy missing.txt x.txt > out_null.txt");
    EXPECT_FALSE(d.exists("x.txt"));
    d.write("my table.csv", "blank");
    run("copy \"my table.csv\" \"other one.csv\"");
    EXPECT_EQ(d.read("other one.csv"), "blank");
}

// A sharing copy says and records what a copy does; the target has the source's bytes.
TEST_F(ShellTest, SharingCopyReadsAsACopy) {
    d.write("page_1_02.htm", "anchored");
    d.write("page_1.htm", "clean");
    run("copy page_1_02.htm  page_1.htm");
    const std::string copied = t.screen();
    d.write("page_1.htm", "clean");
    t.session.shell.run_sharing_copy("copy page_1_02.htm  page_1.htm");
    EXPECT_EQ(d.read("page_1.htm"), "anchored");
    EXPECT_EQ(t.screen(), copied + copied);
    EXPECT_EQ(t.session.shell.history().back(), "copy page_1_02.htm  page_1.htm");
    t.session.shell.run_sharing_copy("copy missing.htm htm_out\\");
    EXPECT_NE(t.screen().find("cannot find the file"), std::string::npos);
    // Plain copies stay copies afterwards: the next write of the target is its own.
    run("copy page_1.htm again.htm");
    d.write("page_1.htm", "changed");
    EXPECT_EQ(d.read("again.htm"), "anchored");
}

TEST_F(ShellTest, MakeFolderDeleteRename) {
    run("md htm_in");
    d.write("htm_in/keep.txt", "k");
    run("md htm_in");
    EXPECT_EQ(d.read("htm_in/keep.txt"), "k");
    EXPECT_NE(t.screen().find("already exists"), std::string::npos);
    run("rename htm_in\\keep.txt new.htm");
    EXPECT_EQ(d.read("htm_in/new.htm"), "k");
    EXPECT_FALSE(d.exists("htm_in/keep.txt"));
    d.write("a.txt", "");
    d.write("B.TXT", "");
    d.write("c.csv", "");
    run("del /q *.txt");
    EXPECT_FALSE(d.exists("a.txt"));
    EXPECT_FALSE(d.exists("B.TXT"));
    EXPECT_TRUE(d.exists("c.csv"));
    run("del /q htm_in\\*.*");
    EXPECT_FALSE(d.exists("htm_in/new.htm"));
    EXPECT_TRUE(d.exists("htm_in"));
    d.write("f_01.txt", "");
    d.write("f_15_1.txt", "");
    d.write("g.txt", "");
    run("for %i in (f_*.txt) do del /q %i > out_null.txt");
    EXPECT_FALSE(d.exists("f_01.txt"));
    EXPECT_FALSE(d.exists("f_15_1.txt"));
    EXPECT_TRUE(d.exists("g.txt"));
    run("del /q file_03_*.txt > null.txt");
    EXPECT_EQ(d.read("null.txt"), "");
}

TEST_F(ShellTest, QuotedNamesAreDataNeverSyntax) {
    const std::vector<std::string> names = {"a b.csv", "a\"b.csv", ">x.csv",  "<x.csv",
                                            "p|q.csv", "r&s.csv",  "50%.csv", "a*b.csv",
                                            "q?.csv",  "\"\"",     "x\"",     "tab\tname.csv"};
    for (const auto& name : names) {
        // The name comes back whole as one word, the redirection after it still works.
        const auto words = Shell::split_words("copy /y " + command_name(name) + " > out.txt");
        ASSERT_EQ(words.size(), 5u) << name;
        EXPECT_EQ(std::string(words[2]), name);
        EXPECT_FALSE(words[2].redirection);
        EXPECT_TRUE(words[3].redirection);
    }
    EXPECT_EQ(command_name("f_15_1.txt"), "f_15_1.txt");
    EXPECT_EQ(command_name("htm_in\\file_t.htm"), "htm_in\\file_t.htm");
    EXPECT_EQ(command_name("a\"b"), "\"a\"\"b\"");
    // Unquoted, ">" is a redirection wherever it stands.
    EXPECT_TRUE(Shell::split_words("dir>x.txt")[1].redirection);

    d.write("src.txt", "data");
    d.write("axb.csv", "other");
    for (const auto& name : names) {
        run("copy src.txt " + command_name(name) + " > out_null.txt");
        EXPECT_EQ(d.read(name), "data") << name;
        run("dir " + command_name(name) + " > dir_b_01.txt");
        EXPECT_EQ(screen_lines(d.read("dir_b_01.txt")).size(), 8u) << name;
    }
    EXPECT_FALSE(d.exists("x.csv"));
    EXPECT_FALSE(d.exists("x_sort.csv"));
    // A quoted "*" matches only itself: the copy and the delete leave axb.csv alone.
    run("del /q " + command_name("a*b.csv"));
    EXPECT_FALSE(d.exists("a*b.csv"));
    EXPECT_EQ(d.read("axb.csv"), "other");
}

TEST_F(ShellTest, MessagesNameFilesRelativeWithSlashes) {
    run("del /q txt_in\\*.*");
    run("md sub");
    run("md sub");
    EXPECT_EQ(t.screen(),
              "Could Not Find txt_in/*.*\r\nA subdirectory or file sub already exists.\r\n");
}

TEST_F(ShellTest, NoEditorMessageWaitsForAKey) {
    // Neither VISUAL, EDITOR nor an editor on the PATH can be started.
    struct Saved {
        std::string name;
        std::optional<std::string> value;
    } saved[] = {{"VISUAL", {}}, {"EDITOR", {}}, {"PATH", {}}};
    for (auto& v : saved)
        if (const char* value = std::getenv(v.name.c_str())) v.value = value;
    ::setenv("VISUAL", "/nonexistent/editor", 1);
    ::unsetenv("EDITOR");
    ::setenv("PATH", "/nonexistent", 1);
    d.write("cell.edit.txt", "text\r\n");
    t.terminal.add_keys("xy");
    run("notepad.exe cell.edit.txt");
    for (auto& v : saved) {
        if (v.value)
            ::setenv(v.name.c_str(), v.value->c_str(), 1);
        else
            ::unsetenv(v.name.c_str());
    }
    EXPECT_EQ(t.screen(),
              "no text editor could be started (set VISUAL or EDITOR)\r\n"
              "<> any key to continue\r\n");
    EXPECT_EQ(t.console.poll_key(), "y");  // the wait took one key
    EXPECT_EQ(d.read("cell.edit.txt"), "text\r\n");
}

TEST_F(ShellTest, CodePages) {
    run("chcp 1252");
    EXPECT_EQ(t.terminal.code_page(), 1252);
    EXPECT_EQ(t.screen(), "");
    d.write("return.txt", "\r\n");
    run("chcp < return.txt > check_01.txt");
    EXPECT_EQ(d.read("check_01.txt"), "Active code page: 1252.\r\n");
    run("chcp 99999");
    EXPECT_EQ(t.terminal.code_page(), 1252);
}

TEST_F(ShellTest, UnknownCommandsRunNothing) {
    run("rm -rf . ; touch pwned");
    run("touch pwned2");
    EXPECT_FALSE(d.exists("pwned"));
    EXPECT_FALSE(d.exists("pwned2"));
    EXPECT_NE(t.screen().find("is not recognized"), std::string::npos);
    run("cls");
    EXPECT_EQ(split_screens(t.screen()).size(), 2u);
    ASSERT_EQ(t.shell_owner->history().size(), 3u);
    EXPECT_EQ(t.shell_owner->history()[2], "cls");
}

}  // namespace
}  // namespace rowkeep::testing
