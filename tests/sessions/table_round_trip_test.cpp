// Whole-program runs of table management on the files it leaves: a real bank export
// edited and saved, a table whose last column is deleted, a save into a folder that
// takes no files, and a table name with blanks in the command lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"
#include "table/save_copy.h"

namespace rowkeep::testing {
namespace {

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> cells_of(const std::string& line) {
    std::vector<std::string> cells(1);
    for (char ch : line) {
        if (ch == ';')
            cells.emplace_back();
        else
            cells.back() += ch;
    }
    return cells;
}

std::string joined(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? ";" : "") + cells[i];
    return line;
}

TEST(TableRoundTrip, RealBankExportEditedInThreePlaces) {
    const fs::path source = realdata_dir() / "csv" / "de_bank_commerzbank.csv";
    if (!fs::exists(source)) GTEST_SKIP() << realdata_absent(source);
    const std::string original = read_file(source);
    std::vector<std::string> lines = screen_lines(original);
    ASSERT_EQ(lines.size(), 8u);
    ASSERT_EQ(cells_of(lines[0]).size(), 8u);
    TempDir dir;
    dir.write("bank.csv", original);

    // Row 3 (the second data row), column 5 (the amount) becomes -99,99; a blank row goes
    // after row 5; row 7 (the old row 6, pushed down by the blank row) is deleted.
    // Load, offer row 3, keep columns 1 to 4, type column 5, leave at column 6; insert 1
    // row after row 5; delete 7 to 7; save and end.
    const std::string keys =
        "131\r959"
        "1\r1\r1\r1\r1-99,99\r\r9"
        "2195\r1\r9"
        "2297\r7\r9"
        "91  89";
    RunResult r =
        run_program(dir.path(), std::string(kStartKeys) + keys, {.cols = 100, .rows = 30});
    EXPECT_FALSE(r.input_ended);
    EXPECT_TRUE(screen_has(r, "copy/save ========== bank.csv   rows = 8 / 8 =========="));
    // The deletion shows the row it removed, under the column names.
    std::vector<std::string> old6 = cells_of(lines[5]);
    // (Its dates are numeric to the viewer: right-aligned.)
    EXPECT_TRUE(screen_has(r, "\r\n      7|  " + old6[0] + "|  " + old6[1] + "|"));

    std::vector<std::string> expected = lines;
    std::vector<std::string> edited = cells_of(lines[2]);
    edited[4] = "-99,99";
    expected[2] = joined(edited);
    expected.erase(expected.begin() + 5);                        // the old row 6
    expected.insert(expected.begin() + 5, std::string(7, ';'));  // the blank row
    std::vector<std::string> saved = screen_lines(dir.read("bank.csv"));
    ASSERT_EQ(saved.size(), expected.size());
    for (std::size_t i = 0; i < saved.size(); ++i)
        EXPECT_EQ(saved[i], expected[i]) << "line " << i + 1;
    // Nothing else changed: the byte order mark of the first cell and the CR LF line ends
    // come back as they were.
    std::string expected_text;
    for (const auto& line : expected) expected_text += line + "\r\n";
    EXPECT_EQ(dir.read("bank.csv"), expected_text);
}

// Makes a folder refuse new files, also for a user whom permissions do not stop (root):
// then it is made immutable. Undone when the guard goes.
class UnwritableFolder {
  public:
    explicit UnwritableFolder(const fs::path& dir) : dir_(dir) {
        fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
        if (refuses_files()) {
            active_ = true;
            return;
        }
        int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0) close(fd);
        active_ = immutable_ && refuses_files();
    }
    ~UnwritableFolder() {
        if (immutable_) {
            int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0) close(fd);
        }
        fs::permissions(dir_, fs::perms::owner_all);
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;
    bool active() const { return active_; }

  private:
    bool refuses_files() const {
        fs::path probe = dir_ / "probe.tmp";
        int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) return true;
        close(fd);
        unlink(probe.c_str());
        return false;
    }
    fs::path dir_;
    bool immutable_ = false;
    bool active_ = false;
};

TEST(TableRoundTrip, SaveIntoReadOnlyFolderKeepsTheOldTable) {
    TempDir dir;
    const std::string old_table = "a;b\r\n1;2\r\n";
    const std::string working = "\"a\"\r\n\"b\"\r\n\"3\"\r\n\"4\"\r\n";
    dir.write("t.csv", old_table);
    dir.write("f_15_1.txt", working);
    dir.write("notes.txt", "mine\r\n");
    TestSession t(dir.path(),
                  "1 "
                  "2other\r "
                  "81");
    t.session.table_name = "t.csv";
    t.session.column_count = 2;
    t.session.row_count = 2;
    t.session.size_arrays();
    {
        UnwritableFolder guard(dir.path());
        if (!guard.active())
            GTEST_SKIP() << "this folder takes new files whatever its mode says (root without "
                            "the immutable attribute): a read-only save cannot be tried here";
        t.run(save_menu);
    }
    const std::string screen = t.screen();
    EXPECT_NE(screen.find("t.csv\r\n\r\ntable (file) can not be written: t.csv\r\n"),
              std::string::npos);
    EXPECT_NE(screen.find("table (file) can not be written: other.csv"), std::string::npos);
    EXPECT_EQ(screen.find("copy/save"), std::string::npos);
    // Nothing the export would have done: no txt_in, the folder's *.txt still there.
    for (const auto& command : t.shell_owner->history())
        EXPECT_EQ(command.find("txt_in"), std::string::npos) << command;
    EXPECT_EQ(dir.read("t.csv"), old_table);
    EXPECT_EQ(dir.read("f_15_1.txt"), working);
    EXPECT_EQ(dir.read("notes.txt"), "mine\r\n");
    EXPECT_FALSE(dir.exists("other.csv"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names.size(), 3u) << "a temporary was left behind";
    EXPECT_EQ(t.session.edit_mode, EditMode::editing);
}

// True when every occurrence of name in the command line lies between double quotes.
bool quoted_everywhere(const std::string& command, const std::string& name) {
    for (std::size_t at = command.find(name); at != std::string::npos;
         at = command.find(name, at + 1)) {
        std::size_t quotes = 0;
        for (std::size_t i = 0; i < at; ++i) quotes += command[i] == '"';
        if (quotes % 2 == 0) return false;
    }
    return true;
}

TEST(TableRoundTrip, NameWithBlanksQuotedInEveryCommandLine) {
    TempDir dir;
    dir.write("My Table.csv", "k;v\r\nb;2\r\na;1\r\n");
    // Save (with the HTML page), back to the loop, then sort on column 1 (positions 1 to
    // 5), which writes the sorted table and ends the program.
    RunResult r = run_program(dir.path(), std::string(kStartKeys) +
                                              "131\r9"
                                              "91  81"
                                              "3S23x8"
                                              "1\r5\r 8");
    EXPECT_FALSE(r.input_ended);
    EXPECT_TRUE(screen_has(r, "output sort table = my table_sort.csv"));
    int carrying = 0;
    for (const auto& command : r.commands) {
        if (command.find("table") == std::string::npos) continue;
        ++carrying;
        EXPECT_TRUE(quoted_everywhere(command, "my table")) << command;
    }
    EXPECT_GE(carrying, 4);  // the page into htm_in, its rename and copy, the sorted table
    // The commands found their files.
    EXPECT_EQ(dir.read("My Table.csv"), "k;v\r\nb;2\r\na;1\r\n");
    EXPECT_TRUE(dir.exists("htm_in/file_my table.htm"));
    EXPECT_NE(dir.read("my table_sort.csv").find("a;1"), std::string::npos);
}

}  // namespace
}  // namespace rowkeep::testing
