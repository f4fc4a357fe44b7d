// The program on a small disk of its own (a tmpfs mounted for each test, so root only):
// tables too big for the room the load needs, a disk that fills while a table is open or
// while the export waits, a table the user may not read, and an insert without end. Each
// ends with the table file whole and the screen saying what failed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "console/table_file.h"
#include "harness.h"
#include "startup/start_program.h"

namespace rowkeep::testing {
namespace {

// A terminal whose keys come in stages: when the program wants a key and the keys given
// so far are all used, the next stage's action runs (it fills or frees the disk), then its
// keys are typed.
class StagedTerminal : public ScriptedTerminal {
  public:
    using ScriptedTerminal::ScriptedTerminal;
    bool read_keys(int timeout_ms, std::deque<std::string>& keys) override {
        while (!ScriptedTerminal::read_keys(timeout_ms, keys)) {
            if (stages.empty()) return false;
            auto [action, more] = std::move(stages.front());
            stages.pop_front();
            if (action) action();
            add_keys(more);
        }
        return true;
    }
    std::deque<std::pair<std::function<void()>, std::string>> stages;
};

// The interpreter, running an action once right after a given command line.
class HookShell : public Shell {
  public:
    using Shell::Shell;
    void run_command(std::string_view line) override {
        Shell::run_command(line);
        auto hook = hooks.find(std::string(line));
        if (hook == hooks.end()) return;
        auto action = std::move(hook->second);
        hooks.erase(hook);
        action();
    }
    std::map<std::string, std::function<void()>> hooks;
};

// One whole run of the program over the staged terminal.
struct Program {
    Program(const fs::path& dir, std::string_view keys)
        : terminal(std::string(kStartKeys) + std::string(keys)),
          console(terminal),
          shell(dir, console),
          clock("14:03:59", "05-22-2017"),
          random(1),
          session(console, shell, dir, clock, random) {}
    void then(std::function<void()> action, std::string keys) {
        terminal.stages.emplace_back(std::move(action), std::move(keys));
    }
    std::string start() {
        try {
            start_program(session);
        } catch (const ProgramEnd&) {
        }
        return terminal.output();
    }
    StagedTerminal terminal;
    Console console;
    HookShell shell;
    FixedClock clock;
    std::mt19937 random;
    Session session;
};

class FullDisk : public ::testing::Test {
  protected:
    // Mounts a tmpfs of `bytes` on the test's folder; skips where that can not be done.
    void mount_disk(std::size_t bytes) {
        if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
        if (mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) != 0)
            GTEST_SKIP() << "a tmpfs can not be mounted here: " << std::strerror(errno);
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) umount2(dir_.path().c_str(), MNT_DETACH);
    }

    // Takes every free byte of the disk.
    void fill() const {
        std::ofstream out(dir_.path() / "filler.bin", std::ios::binary | std::ios::app);
        const std::string block(4096, 'x');
        while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
        }
    }
    void free_room() const { fs::remove(dir_.path() / "filler.bin"); }
    // Fills the disk, then gives back `bytes`.
    void leave_free(std::size_t bytes) const {
        fill();
        const auto size = fs::file_size(dir_.path() / "filler.bin");
        fs::resize_file(dir_.path() / "filler.bin", size > bytes ? size - bytes : 0);
    }

    const fs::path& dir() const { return dir_.path(); }
    void write(std::string_view name, std::string_view bytes) const { dir_.write(name, bytes); }
    std::string read(std::string_view name) const { return dir_.read(name); }

    TempDir dir_;
    bool mounted_ = false;
};

// A table of `rows` data rows of three columns, as the program writes one.
std::string table_of(int rows) {
    std::string text = "name;count;note\r\n";
    for (int r = 1; r <= rows; ++r)
        text += "row" + std::to_string(r) + ";" + std::to_string(r * 7) + ";some text " +
                std::to_string(r) + "\r\n";
    return text;
}

// The header of an opened table: the load showed the table.
bool opened(const std::string& screen, std::string_view name) {
    return screen_has(screen, "table = " + std::string(name));
}

const std::string kNoSpace = "No space left on device";

TEST_F(FullDisk, BigTableWithTooLittleRoomIsNotOpened) {
    mount_disk(1 << 20);
    const std::string table = table_of(6000);  // about 170 kB; the load wants 19 times that
    write("big.csv", table);
    // Select it, then Enter and "1" (the save's keys, were it open), then leave.
    Program run(dir(), "131\r\r188");
    const std::string screen = run.start();
    EXPECT_TRUE(screen_has(screen, "table (file) can not be loaded: big.csv: " + kNoSpace))
        << screen;
    EXPECT_FALSE(opened(screen, "big.csv"));
    EXPECT_FALSE(screen_has(screen, "copy/save"));
    EXPECT_EQ(read("big.csv"), table);
    EXPECT_FALSE(fs::exists(dir() / "f_15_1.txt"));
}

TEST_F(FullDisk, StaleScratchFilesAreNeverTakenForTheTable) {
    mount_disk(2 << 20);
    const std::string a = "a;b\r\nfrom a;1\r\n", b = table_of(3000);
    write("a.csv", a);
    write("b.csv", b);
    // A run that opened a.csv and was left without the end menu leaves its scratch files.
    {
        Program earlier(dir(), "131\r9");
        earlier.start();
    }
    ASSERT_TRUE(fs::exists(dir() / "f_15_1.txt"));
    leave_free(300 << 10);  // b.csv's load needs far more than that
    // Open b.csv, then try to save whatever would be open; then leave.
    Program run(dir(), "132\r\r9188");
    const std::string screen = run.start();
    EXPECT_TRUE(screen_has(screen, "table (file) can not be loaded: b.csv: " + kNoSpace)) << screen;
    EXPECT_FALSE(opened(screen, "b.csv"));
    EXPECT_FALSE(screen_has(screen, "from a"));
    EXPECT_EQ(read("b.csv"), b);
    EXPECT_EQ(read("a.csv"), a);
}

TEST_F(FullDisk, DiskFillsWhileATableIsOpen) {
    mount_disk(4 << 20);
    const std::string table = table_of(2000);
    write("t.csv", table);
    Program run(dir(), "131\r9");
    run.then([&] { fill(); },
             "24"  // the structure menu
             "39"
             "2\rnew\r"
             " 9"  // insert a column before column 2
             "49"
             "2\r"
             " 9"  // delete column 2
             "23Q\r8"
             " "   // rename column 1
             "8"   // back to the edit loop
             "1 "  // edit row 2: nothing is asked
             "219"
             "3\r1\r"
             " 9"    // insert a row after row 3
             "91 "   // save: the table file can not be written
             "81");  // back to editing
    // With room again, the save writes the table the program holds: the old one.
    run.then([&] { free_room(); }, "91  89");
    const std::string screen = run.start();
    EXPECT_EQ(read("t.csv"), table);
    const std::string failed = "working file can not be written: " + kNoSpace;
    std::size_t said = 0;
    for (std::size_t at = screen.find(failed); at != std::string::npos;
         at = screen.find(failed, at + 1))
        ++said;
    EXPECT_EQ(said, 5u) << screen;
    EXPECT_TRUE(screen_has(screen, "table (file) can not be written: t.csv")) << screen;
    EXPECT_TRUE(screen_has(screen, "copy/save ========== t.csv   rows = 2001 / 2001 =========="));
    EXPECT_FALSE(screen_has(screen, "rows =  0"));
}

TEST_F(FullDisk, DiskFillsWhileTheExportWaits) {
    mount_disk(4 << 20);
    const std::string table = "a;b\r\n1;2\r\n3;4\r\n";
    const std::string edited = "a;b\r\nX;2\r\n3;4\r\n";
    write("t.csv", table);
    // Open, edit row 2, save: the export's results wait for a key.
    Program run(dir(),
                "131\r9"
                "1X\r\r9"
                "91");
    // The disk fills while they wait; the working file must still come back.
    run.then([&] { fill(); }, "  ");
    // A save on the full disk writes nothing; the program goes on with its table.
    run.then(nullptr, "1 81");
    // With room again, the table saved is the edited one, whole.
    run.then([&] { free_room(); }, "91  89");
    const std::string screen = run.start();
    // The copy back failed on the full disk; the working file came back all the same.
    const auto results = screen.find("---------- HTML results ----------");
    ASSERT_NE(results, std::string::npos);
    EXPECT_NE(screen.find("There is not enough space on the disk.", results), std::string::npos);
    EXPECT_TRUE(screen_has(screen, "table (file) can not be written: t.csv")) << screen;
    EXPECT_EQ(read("t.csv"), edited);
    EXPECT_FALSE(screen_has(screen, "rows =  0"));
    const auto saves = screen.find("copy/save ========== t.csv   rows = 3 / 3 ==========");
    ASSERT_NE(saves, std::string::npos);
    EXPECT_NE(screen.find("copy/save ========== t.csv   rows = 3 / 3 ==========", saves + 1),
              std::string::npos);
}

// A user who may not read the table: the file system's user of the test becomes one
// without root's rights for the run.
TEST_F(FullDisk, UnreadableTableIsNotOpened) {
    mount_disk(4 << 20);
    const std::string table = "a;b\r\n1;2\r\n";
    write("t.csv", table);
    fs::permissions(dir() / "t.csv", fs::perms::none);
    constexpr uid_t kNobody = 65534;
    setfsuid(kNobody);
    const int probe = ::open((dir() / "t.csv").c_str(), O_RDONLY | O_CLOEXEC);
    const bool dropped = probe < 0 && errno == EACCES;
    if (probe >= 0) ::close(probe);
    std::string screen;
    if (dropped) {
        Program run(dir(), "131\r\r88");
        screen = run.start();
    }
    setfsuid(0);
    if (!dropped) GTEST_SKIP() << "the file system's user can not be changed here";
    EXPECT_TRUE(screen_has(screen, "table (file) can not be read: t.csv")) << screen;
    EXPECT_FALSE(opened(screen, "t.csv"));
    EXPECT_FALSE(screen_has(screen, "copy/save"));
    fs::permissions(dir() / "t.csv", fs::perms::owner_read);
    EXPECT_EQ(read("t.csv"), table);
}

TEST_F(FullDisk, CreateEditAndExportOnAFullDisk) {
    mount_disk(4 << 20);
    const std::string table = "a;b\r\n1;2\r\n3;4\r\n", other = "keep;me\r\n";
    write("t.csv", table);
    write("n.csv", other);
    // On a full disk: create n (it exists), then edit table; with room, open t.csv and save,
    // the disk filling once the working file is kept for the export.
    Program run(dir(), "");
    run.then([&] { fill(); },
             "21n\r 8"  // create table n: its listing can not be written
             "1 ");     // edit table: nor can the table list
    run.then([&] { free_room(); },
             "132\r9"
             "1X\r\r9"
             "91  ");
    run.shell.hooks["copy f_15_1.txt txt_in\\"] = [&] { fill(); };
    const std::string screen = run.start();
    EXPECT_EQ(read("n.csv"), other);
    EXPECT_FALSE(screen_has(screen, "Table exist."));
    EXPECT_FALSE(screen_has(screen, "no select"));
    EXPECT_TRUE(screen_has(screen, "folder can not be read or written: " + kNoSpace)) << screen;
    // The table was saved before the export; the export said which step failed.
    EXPECT_EQ(read("t.csv"), "a;b\r\nX;2\r\n3;4\r\n");
    EXPECT_TRUE(screen_has(screen, "HTML export failed (")) << screen;
    EXPECT_FALSE(screen_has(screen, "HTML results"));
}

TEST_F(FullDisk, InsertWithoutEnd) {
    mount_disk(8 << 20);
    const std::string table = "a;b\r\n1;2\r\n3;4\r\n5;6\r\n7;8\r\n";
    write("t.csv", table);
    // The most rows a table holds, then nearly as many: refused, then stopped by the disk.
    Program run(dir(),
                "131\r9"
                "2192\r2147483647\r "
                "2192\r2147483000\r 9"
                "91  89");
    const std::string screen = run.start();
    EXPECT_TRUE(
        screen_has(screen, "number inserted rows is too large: a table holds at most 2147483647"));
    EXPECT_TRUE(screen_has(screen, "working file can not be written: " + kNoSpace)) << screen;
    EXPECT_TRUE(screen_has(screen, "copy/save ========== t.csv   rows = 5 / 5 =========="));
    EXPECT_EQ(read("t.csv"), table);
}

}  // namespace
}  // namespace rowkeep::testing
