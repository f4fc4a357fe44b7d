// The folder is the program's own and the user's files in it are safe: one program at a
// time, a table keeps its mode, owner and links through a save, the clean-up keeps the
// user's files, names are data in every command line, the sort asks before replacing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>

#include "console/folder_lock.h"
#include "harness.h"
#include "pty_driver.h"

namespace rowkeep::testing {
namespace {

struct stat stat_of(const fs::path& p) {
    struct stat st {};
    lstat(p.c_str(), &st);
    return st;
}

// Table 1 of the list opened, saved with its page, then the program ended from the end
// menu. The tables are written with LF line ends, so the saved file (CR LF) shows that it
// was written.
const std::string kSaveEnd = from_main_menu(
    "131\r"
    "9"
    "9"
    "1xx"
    "89");

// Every file of the folder (not below it) with its bytes.
std::map<std::string, std::string> files_of(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = dir.read(entry.path().filename().string());
    return files;
}

TEST(FolderSession, SecondProgramInTheFolderIsRefusedBeforeTouchingAFile) {
    TempDir dir;
    const std::string table = "k;v\r\na;1\r\n";
    dir.write("t.csv", table);
    PtyProgram first(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C"}});
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(first.wait_for("<2> no,  end"));
    first.type("1123");
    ASSERT_TRUE(first.wait_for("<8> exit,  end"));
    first.type("131\r");
    ASSERT_TRUE(first.wait_for("<Enter>/<9>exit"));
    const auto before = files_of(dir);
    ASSERT_EQ(before.count("f_15_1.txt"), 1u);

    // The real program again, in the same folder, while the first holds it.
    PtyProgram second(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C"}});
    ASSERT_TRUE(second.started());
    EXPECT_TRUE(second.wait_for("Rowkeep is already running in this folder"));
    auto status = second.wait_exit();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_EQ(second.plain().find("Terms of use"), std::string::npos);
    EXPECT_EQ(files_of(dir), before);

    // The first goes on undisturbed: the table is saved from its own working file.
    first.type("9");
    ASSERT_TRUE(first.wait_for("<9> save/copy, exit, end"));
    first.type("9");
    ASSERT_TRUE(first.wait_for("<8> exit"));
    first.type("1");
    ASSERT_TRUE(first.wait_for("Any key to continue, end program"));
    first.type("x");
    ASSERT_TRUE(first.wait_for("<> any key to continue"));
    first.type("x89");
    ASSERT_TRUE(first.wait_for("End"));
    EXPECT_TRUE(first.wait_exit().has_value());
    EXPECT_EQ(dir.read("t.csv"), table);

    // Once it has ended, a new program may start there.
    RunResult r = run_program(dir.path(), from_main_menu("8"));
    EXPECT_FALSE(screen_has(r, "already running"));
    EXPECT_EQ(screen_lines(r.screen).back(), "End");
}

TEST(FolderSession, LockHeldInThisProcessRefusesTheWholeProgram) {
    TempDir dir;
    FolderLock held(dir.path());
    ASSERT_EQ(held.state(), FolderLock::State::held);
    RunResult r = run_program(dir.path(), from_main_menu("8"));
    EXPECT_FALSE(r.input_ended);
    EXPECT_EQ(r.screen, "Rowkeep is already running in this folder\r\n");
    EXPECT_TRUE(r.commands.empty());
}

TEST(FolderSession, SavedTableKeepsModeOwnerAndLinks) {
    const bool root = geteuid() == 0;
    struct Case {
        std::string what;
        mode_t mode;
    };
    for (const Case& c :
         {Case{"0600", 0600}, Case{"0640 of another owner", 0640}, Case{"symbolic link", 0644}}) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        fs::path file = dir.path() / "t.csv";
        if (c.what == "symbolic link") {
            dir.write("data/real.csv", "k\na\n");
            fs::create_symlink("data/real.csv", file);
        } else {
            dir.write("t.csv", "k\na\n");
        }
        const fs::path real = fs::canonical(file);
        chmod(real.c_str(), c.mode);
        const bool other = c.what.find("another") != std::string::npos;
        if (other) {
            if (!root) continue;
            chown(real.c_str(), 4321, 4322);
            chown(dir.path().c_str(), 4321, 4322);  // a folder of another owner too
        }
        RunResult r = run_program(dir.path(), kSaveEnd);
        EXPECT_TRUE(screen_has(r, "copy/save ========== t.csv   rows = 2 / 2 =========="));
        EXPECT_EQ(dir.read("t.csv"), "k\r\na\r\n");
        const struct stat st = stat_of(real);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        if (other) {
            EXPECT_EQ(st.st_uid, 4321u);
            EXPECT_EQ(st.st_gid, 4322u);
        }
        if (c.what == "symbolic link") {
            EXPECT_TRUE(fs::is_symlink(file));
            EXPECT_EQ(dir.read("data/real.csv"), "k\r\na\r\n");
        }
    }
    if (!root) GTEST_SKIP() << "the table and folder of another owner need root to be made";
}

TEST(FolderSession, ReadOnlyTableIsNotReplacedAndACopyKeepsItsTargetsMode) {
    TempDir dir;
    dir.write("t.csv", "k\na\n");
    chmod((dir.path() / "t.csv").c_str(), 0444);
    dir.write("zz.csv", "old\r\n");
    chmod((dir.path() / "zz.csv").c_str(), 0600);
    RunResult r = run_program(dir.path(), from_main_menu("131\r"
                                                         "9"
                                                         "9"
                                                         "1x"
                                                         "2zz\rx"
                                                         "89"));
    EXPECT_TRUE(screen_has(r, "t.csv\r\n\r\ntable (file) can not be written: t.csv\r\n"));
    EXPECT_EQ(dir.read("t.csv"), "k\na\n");
    EXPECT_EQ(stat_of(dir.path() / "t.csv").st_mode & 07777, 0444u);
    EXPECT_FALSE(dir.exists("htm_out"));  // no export after a save that did not happen
    EXPECT_TRUE(screen_has(r, "copy/save ========== zz.csv   rows = 2 / 2 =========="));
    EXPECT_EQ(dir.read("zz.csv"), "k\r\na\r\n");
    EXPECT_EQ(stat_of(dir.path() / "zz.csv").st_mode & 07777, 0600u);
}

// Keys that create a table of one column k, then leave to the main menu.
std::string create_keys(const std::string& name) {
    return "21" + name + "\r1\rk\r8";
}

TEST(FolderSession, NamesWithSyntaxCharactersAreCreatedListedSavedAndSorted) {
    const std::string long_name(246, 'n');  // 250 characters with ".csv"
    // ".rowkeep-x" looks like the program's temporaries, yet is a table like any other.
    for (const std::string& name :
         {std::string("a\"b"), std::string(">x"), std::string("p|q"), std::string("50%"),
          std::string("a b&c<d"), std::string(".rowkeep-x"), long_name}) {
        SCOPED_TRACE(name.substr(0, 20));
        TempDir dir;
        const std::string table = name + ".csv";
        RunResult created = run_program(dir.path(), from_main_menu(create_keys(name) + "8"));
        EXPECT_EQ(dir.read(table), "k\r\n \r\n");
        EXPECT_FALSE(screen_has(created, "Table exist."));
        dir.write(table, "k\r\nb\r\na\r\n");

        // Created again: the table is found, and "exit" keeps it.
        RunResult again = run_program(dir.path(), from_main_menu("21" + name + "\r1" + "8" + "8"));
        EXPECT_TRUE(screen_has(again, "Table exist."));
        EXPECT_EQ(dir.read(table), "k\r\nb\r\na\r\n");

        // Listed, opened, saved with its page, then sorted on column 1, which ends.
        RunResult r = run_program(dir.path(), from_main_menu("131\r"
                                                             "9"
                                                             "91xx"
                                                             "81"
                                                             "3S238"
                                                             "1\r5\r 8"));
        EXPECT_TRUE(screen_has(r, "table = " + table));  // picked from the list and opened
        EXPECT_TRUE(screen_has(r, "copy/save ========== " + table + "   rows = 3 / 3 =========="));
        EXPECT_EQ(dir.read(table), "k\r\nb\r\na\r\n");
        EXPECT_TRUE(screen_has(r, "output sort table = " + name + "_sort.csv\r\nEnd"));
        EXPECT_EQ(dir.read(name + "_sort.csv"), "s_k;k\r\na    ;a\r\nb    ;b\r\n");
        // Nothing was written under a part of the name.
        EXPECT_FALSE(dir.exists("x_sort.csv"));
        EXPECT_FALSE(dir.exists("x.csv"));
        EXPECT_FALSE(dir.exists("a"));
        EXPECT_FALSE(dir.exists("p"));
    }
}

TEST(FolderSession, SortAsksBeforeReplacingItsOutputTable) {
    for (const std::string answer : {"no", "", "Yes", "all"}) {
        SCOPED_TRACE(answer);
        TempDir dir;
        dir.write("t.csv", "k\r\nb\r\na\r\n");
        dir.write("t_sort.csv", "edited by hand\r\n");
        RunResult r = run_program(dir.path(), from_main_menu("131\r"
                                                             "S238"
                                                             "1\r5\r 8" +
                                                             answer + "\r"));
        EXPECT_FALSE(r.input_ended);
        const bool replace = answer == "Yes" || answer == "all";
        EXPECT_TRUE(screen_has(r, "Overwrite t_sort.csv? (Yes/No/All): " + answer + "\r\n" +
                                      (replace ? "        1" : "        0") +
                                      " file(s) copied.\r\n" +
                                      "output sort table = t_sort.csv\r\nEnd\r\n"));
        EXPECT_EQ(dir.read("t_sort.csv"),
                  replace ? "s_k;k\r\na    ;a\r\nb    ;b\r\n" : "edited by hand\r\n");
    }
    // No output table yet: no question.
    TempDir dir;
    dir.write("t.csv", "k\r\nb\r\na\r\n");
    RunResult r = run_program(dir.path(), from_main_menu("131\rS2381\r5\r 8"));
    EXPECT_FALSE(screen_has(r, "Overwrite"));
    EXPECT_EQ(dir.read("t_sort.csv"), "s_k;k\r\na    ;a\r\nb    ;b\r\n");
}

}  // namespace
}  // namespace rowkeep::testing
