#include "console/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console/program_files.h"
#include "console/records.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

struct stat stat_of(const fs::path& p) {
    struct stat st {};
    lstat(p.c_str(), &st);
    return st;
}

TEST(ReplaceFile, TemporaryNamesAreShortFixedAndExact) {
    const std::string name = temporary_name(42, "ab12cd");
    EXPECT_EQ(name, ".rowkeep-0000000042-ab12cd.tmp");
    long pid = 0;
    EXPECT_TRUE(is_temporary_name(name, &pid));
    EXPECT_EQ(pid, 42);
    EXPECT_EQ(temporary_name(4194304, "zzzzzz").size(), name.size());
    // A user's names that only look alike are tables and files of their own.
    for (const char* other : {".rowkeep-x.csv", ".rowkeep-0000000042-ab12cd.csv",
                              ".rowkeep-000000004x-ab12cd.tmp", ".rowkeep-0000000042-AB12CD.tmp",
                              ".rowkeep-0000000042-ab12cd.tmpx", ".rowkeep-42-ab12cd.tmp"})
        EXPECT_FALSE(is_temporary_name(other)) << other;
}

TEST(ReplaceFile, StartRemovesOnlyTemporariesOfEndedPrograms) {
    TempDir dir;
    const std::string stale = temporary_name(ended_pid(), "aaaaaa");
    const std::string mine = temporary_name(static_cast<long>(getpid()), "bbbbbb");
    const std::string running = temporary_name(1, "cccccc");  // init runs as long as we do
    for (const std::string& n : {stale, mine, running, std::string(".rowkeep-x.csv")})
        dir.write(n, "x");
    remove_stale_temporaries(dir.path(), dir.path());
    EXPECT_FALSE(dir.exists(stale));
    EXPECT_TRUE(dir.exists(mine));
    EXPECT_TRUE(dir.exists(running));
    EXPECT_TRUE(dir.exists(".rowkeep-x.csv"));
}

TEST(ReplaceFile, WriterKeepsModeOwnerAndLinksAndRefusesReadOnly) {
    TempDir dir;
    dir.write("private.csv", "old");
    chmod((dir.path() / "private.csv").c_str(), 0600);
    dir.write("elsewhere/data.csv", "old");
    fs::create_symlink("elsewhere/data.csv", dir.path() / "link.csv");
    dir.write("locked.csv", "old");
    chmod((dir.path() / "locked.csv").c_str(), 0444);
    const bool root = geteuid() == 0;
    if (root) chown((dir.path() / "private.csv").c_str(), 4321, 4322);

    for (const char* name : {"private.csv", "link.csv", "locked.csv", "new.csv"}) {
        TextWriter out;
        if (out.open_replacing(dir.path(), name)) out.print_text("new");
        EXPECT_EQ(out.close(), std::string(name) != "locked.csv") << name;
    }
    EXPECT_EQ(dir.read("private.csv"), "new\r\n");
    EXPECT_EQ(stat_of(dir.path() / "private.csv").st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(stat_of(dir.path() / "private.csv").st_uid, 4321u);
        EXPECT_EQ(stat_of(dir.path() / "private.csv").st_gid, 4322u);
    }
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.csv"));
    EXPECT_EQ(dir.read("elsewhere/data.csv"), "new\r\n");
    EXPECT_EQ(dir.read("locked.csv"), "old");
    EXPECT_EQ(dir.read("new.csv"), "new\r\n");
    // No temporary is left beside any of them.
    for (const fs::path& folder : {dir.path(), dir.path() / "elsewhere"})
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_FALSE(is_temporary_name(entry.path().filename().string())) << entry.path();
}

TEST(ReplaceFile, LinkChainsAndDanglingLinksAreFollowed) {
    TempDir dir;
    fs::create_directory(dir.path() / "a");
    fs::create_symlink("a/second.csv", dir.path() / "first.csv");
    fs::create_symlink("target.csv", dir.path() / "a" / "second.csv");
    int error = 0;
    EXPECT_EQ(follow_links(dir.path() / "first.csv", error), dir.path() / "a" / "target.csv");
    EXPECT_EQ(error, 0);
    fs::create_symlink("loop.csv", dir.path() / "loop.csv");
    follow_links(dir.path() / "loop.csv", error);
    EXPECT_EQ(error, ELOOP);
    TextWriter out;
    EXPECT_FALSE(out.open_replacing(dir.path(), "loop.csv"));
}

TEST(ProgramFiles, OnlyTheProgramsOwnNamesAreDeleted) {
    TempDir dir;
    const std::vector<std::string> own = {
        "f_15_1.txt",    "FILE_03_1.txt",   "wrd_06_2.txt",  "dir_b_01.txt",
        "page_1.txt",    "check_01.txt",    "return.txt",    "out_null.txt",
        "null.txt",      "sort_output.txt", "cell.edit.txt", "page_1_02.htm",
        "file_t_01.htm", "index.htm",       "search.htm",    "t.htm"};
    const std::vector<std::string> users = {"notes.txt", "README.TXT", "homepage.HTM",
                                            "t.txt",     "t_sum.txt",  "t.csv"};
    for (const auto& n : own) dir.write(n, "x");
    for (const auto& n : users) dir.write(n, "x");
    dir.write("htm_out/page_1.htm", "x");
    dir.write("htm_out/index.htm", "x");
    dir.write("htm_out/style.css", "x");
    dir.write("htm_out/about.htm", "x");
    TestSession t(dir.path(), "");
    delete_program_files(t.session, "*.txt");
    delete_program_files(t.session, "*.htm", "t.htm");
    delete_program_files(t.session, "htm_out\\*.*");
    for (const auto& n : own) EXPECT_FALSE(dir.exists(n)) << n;
    for (const auto& n : users) EXPECT_TRUE(dir.exists(n)) << n;
    EXPECT_FALSE(dir.exists("htm_out/page_1.htm"));
    EXPECT_FALSE(dir.exists("htm_out/index.htm"));
    EXPECT_TRUE(dir.exists("htm_out/style.css"));
    EXPECT_TRUE(dir.exists("htm_out/about.htm"));
}

}  // namespace
}  // namespace rowkeep::testing
