#include "rowedit/row_editor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

const std::string kTable =
    "\"a\"\r\n\"b\"\r\n\"c\"\r\n\"x\"\r\n\"y\"\r\n\"z\"\r\n\"u\"\r\n\"v\"\r\n\"w\"\r\n";

std::string with_row2(const std::string& a, const std::string& b, const std::string& c) {
    return "\"a\"\r\n\"b\"\r\n\"c\"\r\n\"" + a + "\"\r\n\"" + b + "\"\r\n\"" + c +
           "\"\r\n\"u\"\r\n\"v\"\r\n\"w\"\r\n";
}

struct Editor {
    explicit Editor(std::string_view keys, int columns = 3) : t(dir.path(), keys) {
        dir.write("f_15_1.txt", kTable);
        t.session.column_count = columns;
        t.session.edit_row = 2;
        t.session.edit_mode = EditMode::editing;
        t.session.row_label_width = 7;
        t.session.table_name = "t.csv";
        t.session.size_arrays();
    }
    bool run() { return t.run(row_editor); }
    std::size_t count(std::string_view text) const {
        std::size_t n = 0;
        for (auto at = t.screen().find(text); at != std::string::npos;
             at = t.screen().find(text, at + 1))
            ++n;
        return n;
    }
    TempDir dir;
    TestSession t;
};

TEST(RowEditor, EmptyAnswerKeepsTheValueAndShowsTheMenu) {
    Editor e("\r1B\rC\r");
    ASSERT_FALSE(e.run());
    EXPECT_EQ(e.dir.read("f_15_1.txt"), with_row2("x", "B", "C"));
    EXPECT_EQ(e.count("<Enter>      continue"), 1u);
    auto screens = split_screens(e.t.screen());
    auto first = screen_lines(screens[2]);
    EXPECT_EQ(first[0], "       |C1(A) a     |C2(B) b     |C3(C) c     |");
    EXPECT_EQ(first[1], "      2|x           |y           |z           |");
    EXPECT_EQ(first[2], "      = ");
    auto menu = screen_lines(screens[3]);
    EXPECT_EQ(menu[1], "      2|x           |y           |z           |");
    EXPECT_EQ(menu[2], "");
    EXPECT_EQ(menu[3], std::string(30, '-'));
    EXPECT_EQ(menu[7], "<3> intermediate view");
    EXPECT_EQ(menu[8], "<9> exit");  // no cancel line in column 1
    EXPECT_EQ(menu[10], "<N/n> edit with Notepad.exe");
    EXPECT_EQ(e.t.session.edit_mode, EditMode::none);
    EXPECT_EQ(e.t.shell_owner->history().front(), "copy /y f_15_1.txt f_16_1.txt > out_null.txt");
}

TEST(RowEditor, AResizeWhileTheMenuWaitsDrawsItAgainAtTheNewSize) {
    Editor e("\r");
    e.t.terminal.add_resize(30, 12);
    e.t.terminal.add_keys("1B\rC\r");
    ASSERT_FALSE(e.run());
    EXPECT_EQ(e.dir.read("f_15_1.txt"), with_row2("x", "B", "C"));
    EXPECT_EQ(e.count("<Enter>      continue"), 2u);
    auto screens = split_screens(e.t.screen());
    auto again = screen_lines(screens[4]);
    EXPECT_EQ(again[0], "       |C1(A) a     |C2(B) b ");
    EXPECT_EQ(again[1], "      2|x           |y       ");
    EXPECT_EQ(again[3], std::string(30, '-'));
    EXPECT_EQ(e.t.session.console_cols, 30);
}

TEST(RowEditor, OneBlankIsAValueAndMovesOn) {
    Editor e(" \rq\rw\r");
    ASSERT_FALSE(e.run());
    EXPECT_EQ(e.dir.read("f_15_1.txt"), with_row2(" ", "q", "w"));
    EXPECT_EQ(e.count("<Enter>      continue"), 0u);
}

TEST(RowEditor, SemicolonAndQuoteAreReplacedAndNineSaves) {
    Editor e("a;b\"c\r\r9");
    ASSERT_FALSE(e.run());
    EXPECT_EQ(e.dir.read("f_15_1.txt"), with_row2("a,b'c", "y", "z"));
    EXPECT_EQ(e.t.session.edit_mode, EditMode::none);
}

TEST(RowEditor, EightIsNextInColumnOneAndCancelsLater) {
    // Column 1 kept, "8" moves on; column 2 typed, column 3 empty, "8" restores column 2.
    Editor e("\r8Q\r\r8\r9");
    ASSERT_FALSE(e.run());
    EXPECT_EQ(e.count("<8> cancel last edit cell"), 2u);
    EXPECT_EQ(e.dir.read("f_15_1.txt"), with_row2("x", "y", "z"));
    auto screens = split_screens(e.t.screen());
    // After the cancel the editor is back at column 2 with its old value.
    auto back = screen_lines(screens[screens.size() - 3]);
    EXPECT_EQ(back[0], "       |C2(B) b     |C3(C) c     |");
    EXPECT_EQ(back[1], "      2|y           |z           |");
}

TEST(RowEditor, PreviousColumnStopsAtColumnOne) {
    Editor e("\r2\r2P\r\r1\r1");
    ASSERT_FALSE(e.run());
    EXPECT_EQ(e.dir.read("f_15_1.txt"), with_row2("P", "y", "z"));
}

TEST(RowEditor, IntermediateViewShowsTheRowTypedSoFar) {
    Editor e("Q\r\r39\r9");
    ASSERT_FALSE(e.run());
    EXPECT_NE(e.t.screen().find("      2|Q           |y           |z           |\r\n"),
              std::string::npos);
    EXPECT_EQ(e.t.screen().find("move_up"), std::string::npos);
    EXPECT_EQ(e.dir.read("f_15_1.txt"), with_row2("Q", "y", "z"));
    EXPECT_EQ(e.dir.read("f_16_3.txt"), "\"Q\",\"y\",\"z\"\r\n");
}

TEST(RowEditor, TextEditorLinesAreJoined) {
    TempDir tools;
    tools.write("ed.sh", "#!/bin/sh\nprintf 'one\\r\\ntwo;\\nthr\"ee\\n' > \"$1\"\n");
    ::chmod((tools.path() / "ed.sh").c_str(), 0755);
    const char* old_visual = std::getenv("VISUAL");
    std::string saved = old_visual ? old_visual : "";
    ::setenv("VISUAL", (tools.path() / "ed.sh").c_str(), 1);
    Editor e("\rn\r9");
    bool ended = e.run();
    if (old_visual)
        ::setenv("VISUAL", saved.c_str(), 1);
    else
        ::unsetenv("VISUAL");
    ASSERT_FALSE(ended);
    EXPECT_EQ(e.dir.read("f_15_1.txt"), with_row2("onetwo,thr'ee", "y", "z"));
}

TEST(RowEditor, NoColumnsWritesNothing) {
    Editor e("", 0);
    ASSERT_FALSE(e.run());
    EXPECT_EQ(e.dir.read("f_15_1.txt"), kTable);
    EXPECT_FALSE(e.dir.exists("f_16_3.txt"));
    EXPECT_TRUE(e.t.shell_owner->history().empty());
}

}  // namespace
}  // namespace rowkeep::testing
