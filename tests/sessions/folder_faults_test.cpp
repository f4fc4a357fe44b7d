// Failures in the program's care of its folder: the lock file, the removal of temporaries
// a killed program left, and the clean-ups of the export. Each is made to fail through the
// file system's fault seam (or for real where the system allows it); the failure is said,
// and costs no file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "console/folder_lock.h"
#include "console/program_files.h"
#include "console/replace_file.h"
#include "console/table_file.h"
#include "harness.h"
#include "startup/start_program.h"

namespace rowkeep::testing {
namespace {

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry of a folder and below, with a file's bytes.
std::map<std::string, std::string> contents(const fs::path& root) {
    std::map<std::string, std::string> seen;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        seen[name] = entry.is_regular_file() && !entry.is_symlink() ? read_file(entry.path())
                                                                    : std::string("(not a file)");
    }
    return seen;
}

TEST(FolderFaults, LockFileThatCannotBeOpenedIsReportedAndNothingIsTouched) {
    struct Case {
        const char* what;
        std::string reason;
    };
    for (const Case& c : {Case{"injected", "Permission denied"}, Case{"a folder", "Is a directory"},
                          Case{"a link", "Too many levels of symbolic links"},
                          Case{"a FIFO", "not a regular file"}}) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("t.csv", "k\r\na\r\n");
        const fs::path lock = dir.path() / std::string(kLockFile);
        const std::string what = c.what;
        if (what == "a folder") fs::create_directory(lock);
        if (what == "a link") fs::create_symlink("t.csv", lock);
        if (what == "a FIFO") {
            ASSERT_EQ(mkfifo(lock.c_str(), 0644), 0);
        }
        const auto before = contents(dir.path());
        TestSession t(dir.path(), from_main_menu("8"));
        if (what == "injected") t.session.faults.fail_at(1, EACCES);
        EXPECT_TRUE(t.run(start_program));
        EXPECT_FALSE(t.input_ended);  // the key after the message ended it
        EXPECT_EQ(t.screen(), "Rowkeep can not lock this folder: .rowkeep.lock: " + c.reason +
                                  "\r\n<> any key to end\r\n");
        EXPECT_EQ(t.session.faults.failures(), 1);
        EXPECT_TRUE(t.shell_owner->history().empty());
        EXPECT_EQ(contents(dir.path()), before);
    }
}

TEST(FolderFaults, EveryPointOfAStartFailsAloudAndCostsNoFile) {
    // Temporaries of an ended program in the folder and in htm_out.
    const std::string stale = temporary_name(ended_pid(), "aaaaaa");
    const std::string stale_page = "htm_out/" + temporary_name(ended_pid(), "bbbbbb");
    auto prepare = [&](const TempDir& dir) {
        dir.write("t.csv", "k\r\na\r\n");
        dir.write(stale, "half a table");
        dir.write(stale_page, "half a page");
    };
    long points = 0;
    {
        TempDir dir;
        prepare(dir);
        TestSession t(dir.path(), from_main_menu("8"));
        t.run(start_program);
        points = t.session.faults.points();
        EXPECT_FALSE(dir.exists(stale));
        EXPECT_FALSE(dir.exists(stale_page));
        EXPECT_FALSE(screen_has(t.screen(), "can not"));
    }
    // The lock's open, then a listing and a removal in each of the two folders.
    ASSERT_EQ(points, 5);
    for (long n = 1; n <= points; ++n) {
        SCOPED_TRACE("failure point " + std::to_string(n));
        TempDir dir;
        prepare(dir);
        TestSession t(dir.path(), "x" + from_main_menu("8"));
        t.session.faults.fail_at(n, EIO);
        t.run(start_program);
        ASSERT_TRUE(t.session.faults.fired());
        EXPECT_FALSE(t.input_ended);
        EXPECT_EQ(dir.read("t.csv"), "k\r\na\r\n");
        if (n == 1) {
            EXPECT_EQ(t.screen(),
                      "Rowkeep can not lock this folder: .rowkeep.lock: Input/output error\r\n"
                      "<> any key to end\r\n");
            continue;
        }
        const std::string message =
            "temporary files can not be removed: Input/output error\r\n<> any key to continue\r\n";
        EXPECT_EQ(t.screen().substr(0, message.size()), message);
        // The temporary the failure kept is still whole; the program goes on after the key.
        EXPECT_TRUE(dir.exists(stale) || dir.exists(stale_page));
        if (dir.exists(stale)) {
            EXPECT_EQ(dir.read(stale), "half a table");
        }
        EXPECT_EQ(screen_lines(t.screen()).back(), "End");
    }
}

TEST(FolderFaults, CleanUpThatFailsDeletesNoOtherFileAndIsRecorded) {
    const std::vector<std::string> own = {"f_15_1.txt", "wrd_01.txt", "dir_01.txt"};
    const std::vector<std::string> users = {"notes.txt", "t.txt"};
    for (long fail_at : {1L, 2L}) {  // the listing, then the first delete
        SCOPED_TRACE(fail_at);
        TempDir dir;
        for (const auto& n : own) dir.write(n, "x");
        for (const auto& n : users) dir.write(n, "mine");
        TestSession t(dir.path(), "");
        t.session.faults.fail_at(fail_at, EIO);
        delete_program_files(t.session, "*.txt");
        EXPECT_TRUE(t.session.faults.fired());
        EXPECT_EQ(t.session.faults.failures(), 1);
        // A listing that failed is not "nothing there".
        EXPECT_FALSE(screen_has(t.screen(), "Could Not Find"));
        int left = 0;
        for (const auto& n : own) left += dir.exists(n) ? 1 : 0;
        EXPECT_EQ(left, fail_at == 1 ? 3 : 1);  // a failed delete stops no other
        for (const auto& n : users) EXPECT_EQ(dir.read(n), "mine") << n;
    }
    // A folder of the program's that is a link: nothing in it is deleted, and the
    // clean-up says why.
    TempDir dir, outside;
    outside.write("page_1.htm", "outside");
    fs::create_symlink(outside.path(), dir.path() / "htm_out");
    TestSession t(dir.path(), "");
    delete_program_files(t.session, "htm_out\\*.*");
    EXPECT_EQ(outside.read("page_1.htm"), "outside");
    EXPECT_EQ(t.session.faults.failures(), 1);
    EXPECT_EQ(t.session.faults.last_cause(), "htm_out is a link, not a folder of the folder");
}

// A row edited (its first cell becomes X), then the table saved with its export; the keys
// stop at the save's last wait, so the working file is left to look at.
const std::string kTable = "k;v\r\na;1\r\nb;2\r\n";
const std::string kEdited = "k;v\r\nX;1\r\nb;2\r\n";
const std::string kEditSave = from_main_menu(
    "131\r9"
    "1X\r\r9"
    "9"
    "1"
    "xx");

void write_user_files(const TempDir& dir) {
    dir.write("t.csv", kTable);
    dir.write("notes.txt", "my notes\r\n");
    dir.write("homepage.HTM", "<html></html>\r\n");
    dir.write("htm_out/style.css", "body {}\r\n");
}

TEST(FolderFaults, ExportCleanUpsThatFailCostNoDataAndClaimNoSuccess) {
    // A clean run: where, in failure points, each step of the export ends.
    std::map<std::string, long> marks;
    std::string working;
    {
        TempDir dir;
        write_user_files(dir);
        TestSession t(dir.path(), kEditSave);
        t.session.step_done = [&](std::string_view step) {
            marks[std::string(step)] = t.session.faults.points();
        };
        t.run(start_program);
        ASSERT_TRUE(screen_has(t.screen(), "---------- HTML results ----------"));
        ASSERT_EQ(dir.read("t.csv"), kEdited);
        working = dir.read(std::string(kWorkingFile));
        ASSERT_FALSE(working.empty());
    }
    // The code page check ends with the clean-up of the folder; the gathering of the
    // results begins with the clean-up of htm_out and ends with the folder's again.
    ASSERT_TRUE(marks.count("table page") && marks.count("code page check") &&
                marks.count("search.htm") && marks.count("results"));
    std::vector<long> points;
    for (long n = marks["table page"] + 1; n <= marks["code page check"]; ++n) points.push_back(n);
    for (long n = marks["search.htm"] + 1; n <= marks["results"]; ++n) points.push_back(n);
    ASSERT_GT(points.size(), 6u);

    for (long n : points) {
        SCOPED_TRACE("failure point " + std::to_string(n));
        TempDir dir;
        write_user_files(dir);
        TestSession t(dir.path(), kEditSave);
        t.session.faults.fail_at(n, EIO);
        t.run(start_program);
        ASSERT_TRUE(t.session.faults.fired());
        EXPECT_TRUE(screen_has(t.screen(), "HTML export failed ("));
        EXPECT_FALSE(screen_has(t.screen(), "HTML results"));
        // The table was saved before the export; the working file came back whole.
        EXPECT_EQ(dir.read("t.csv"), kEdited);
        EXPECT_EQ(dir.read(std::string(kWorkingFile)), working);
        EXPECT_EQ(t.session.row_count, 3);
        EXPECT_EQ(t.session.column_count, 2);
        EXPECT_EQ(dir.read("notes.txt"), "my notes\r\n");
        EXPECT_EQ(dir.read("homepage.HTM"), "<html></html>\r\n");
        EXPECT_EQ(dir.read("htm_out/style.css"), "body {}\r\n");
    }
}

}  // namespace
}  // namespace rowkeep::testing
