// Every failure point of every operation, one at a time: a clean run counts the points an
// operation passes, then the operation is run again in a fresh folder once for each of
// them with that point failing. Whatever fails, the files the user owns are the old ones
// or the new ones asked for, the working file holds the table before or after the
// operation and agrees with the program's counts, and the screen says what failed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/records.h"
#include "console/table_file.h"
#include "harness.h"
#include "startup/start_program.h"

namespace rowkeep::testing {
namespace {

const std::string kTable = "a;b;c\r\n1;2;3\r\n4;5;6\r\n7;8;9\r\n";
// Files the user owns before the run; every one of them is watched.
const std::map<std::string, std::string> kUserFiles = {
    {"t.csv", kTable},
    {"c.csv", "old;copy\r\n"},
    {"n.csv", "old;table\r\n"},
};
// Files the operations may make.
const std::vector<std::string> kNewFiles = {"m.csv", "t_sort.csv"};

// The texts by which the program says that something failed.
const std::vector<std::string> kFailureMessages = {
    "table (file) can not be loaded: ",    "table (file) can not be read: ",
    "table (file) can not be written: ",   "table (file) can not be created",
    "working file can not be written: ",   "working file can not be read: ",
    "folder can not be read or written: ", "HTML export failed (",
    "sort table can not be written: ",     "sort error",
};
// The interpreter's own words for a command that failed.
const std::vector<std::string> kCommandFailures = {
    "There is not enough space on the disk.",
    "Access is denied.",
};

// The keys that open t.csv (the third of the list) and leave the viewer for the edit loop.
const std::string kOpen = "133\r9";
// An edit of row 2 (its first cell becomes X), so that a save has something new to write.
const std::string kEdit = "1X\r\r9";
// Typed after each operation: whatever waits for a key takes one, every menu ignores it.
const std::string kPadding = "    ";

struct Operation {
    const char* name;
    std::string before;  // keys that lead to the operation (after the start screens)
    std::string keys;    // the operation's own keys
    // When set, the operation's points begin at this command line of the keys.
    const char* from_command = nullptr;
};

const Operation kOperations[] = {
    {"table list", "", "1"},
    {"load", "1", "33\r"},
    {"row editor end", kOpen, kEdit},
    {"row editor intermediate view", kOpen, "1X\r\r39"},
    {"insert rows", kOpen,
     "219"
     "2\r2\r"},
    {"delete rows", kOpen,
     "229"
     "2\r3\r"},
    {"rename column", kOpen,
     "242"
     "3Q\r8"},
    {"insert column", kOpen,
     "2439"
     "2\rN\r"},
    {"delete column", kOpen,
     "2449"
     "2\r"},
    {"row move down", "133\r3", "y"},
    {"row move up", "133\r33", "a"},
    {"save", kOpen + kEdit, "91  "},
    {"export copy-back", kOpen + kEdit, "91  ", "copy txt_in\\f_15_1.txt"},
    {"copy", kOpen + kEdit, "92c\r "},
    {"sort set-up", "133\r", "s23xx81\r5\rx8"},
    {"create table over one", "", "21n\r22\rx\ry\r"},
    {"create table", "", "21m\r2\rx\ry\r"},
};

// What a run leaves behind.
struct Outcome {
    std::map<std::string, std::optional<std::string>> files;
    std::optional<std::string> working;  // f_15_1.txt
    std::string table_name;
    int row_count = 0, column_count = 0;
    std::vector<std::string> column_names;
    std::string screen;           // from the start of the operation on
    long points = 0;              // failure points passed in the whole run
    bool fired = false;           // the armed failure was handed out
    bool ended = false;           // the program ended by itself (not for want of keys)
    std::string pages;            // the exported pages, name and bytes of each
    long mark = -1;               // the points passed when the marked command began
    long long rewrite_size = -1;  // f_16_1.txt's size, -1 when absent
};

// Hundreds of whole runs: in memory where the machine has a folder for it, as the disk's
// syncs would cost more than the runs.
const fs::path& run_base() {
    static const fs::path base = [] {
        std::error_code ec;
        const fs::path shm = "/dev/shm";
        if (fs::is_directory(shm, ec) && access(shm.c_str(), W_OK) == 0) return shm;
        return fs::temp_directory_path();
    }();
    return base;
}

std::optional<std::string> read_file(const TempDir& dir, const std::string& name) {
    if (!dir.exists(name)) return std::nullopt;
    return dir.read(name);
}

// Runs the keys in a fresh folder, the point `fail_at` (counted from the run's start)
// failing with `error`; 0 fails nothing. `screen_from` is the length of the screen of the
// run that stops before the operation: what came after it is the operation's.
// The interpreter, noting the failure points passed when a given command line begins.
class MarkingShell : public Shell {
  public:
    MarkingShell(const fs::path& dir, Console& console, const char* line)
        : Shell(dir, console), line_(line) {}
    void run_command(std::string_view line) override {
        if (faults && line_ && line == line_ && mark < 0) mark = faults->points();
        Shell::run_command(line);
    }
    const FileFaults* faults = nullptr;
    long mark = -1;

  private:
    const char* line_;
};

Outcome run(const std::string& keys, long fail_at, int error, bool sticky, std::size_t screen_from,
            const char* mark_command = nullptr) {
    TempDir dir(run_base());
    for (const auto& [name, bytes] : kUserFiles) dir.write(name, bytes);
    MarkingShell* shell = nullptr;
    TestSession t(dir.path(), std::string(kStartKeys) + keys, [&](Console& console) {
        auto made = std::make_unique<MarkingShell>(dir.path(), console, mark_command);
        shell = made.get();
        return made;
    });
    shell->faults = &t.session.faults;
    if (fail_at > 0) t.session.faults.fail_at(fail_at, error, sticky);
    Outcome o;
    o.ended = t.run(start_program) && !t.input_ended;
    for (const auto& [name, bytes] : kUserFiles) o.files[name] = read_file(dir, name);
    for (const auto& name : kNewFiles) o.files[name] = read_file(dir, name);
    o.working = read_file(dir, std::string(kWorkingFile));
    if (auto rewrite = read_file(dir, std::string(kRewriteFile)))
        o.rewrite_size = static_cast<long long>(rewrite->size());
    std::error_code ec;
    std::vector<std::string> pages;
    for (const auto& entry : fs::directory_iterator(dir.path() / "htm_out", ec))
        pages.push_back(entry.path().filename().string());
    std::sort(pages.begin(), pages.end());
    for (const auto& name : pages) o.pages += name + "\n" + dir.read("htm_out/" + name) + "\n";
    o.table_name = t.session.table_name;
    o.row_count = t.session.row_count;
    o.column_count = t.session.column_count;
    for (int k = 1; k <= o.column_count && k < static_cast<int>(t.session.column_names.size()); ++k)
        o.column_names.push_back(t.session.column_names[static_cast<std::size_t>(k)]);
    const std::string screen = t.screen();
    o.screen = screen.size() > screen_from ? screen.substr(screen_from) : std::string();
    o.points = t.session.faults.points();
    o.mark = shell->mark;
    o.fired = t.session.faults.fired();
    return o;
}

std::size_t screen_length(const std::string& keys) {
    TempDir dir(run_base());
    for (const auto& [name, bytes] : kUserFiles) dir.write(name, bytes);
    TestSession t(dir.path(), std::string(kStartKeys) + keys);
    t.run(start_program);
    return t.screen().size();
}

// The working file's values, one row of column_count a vector; empty when the working file
// is not a whole number of rows.
std::vector<std::vector<std::string>> table_of(const std::string& working, int columns) {
    TempDir dir(run_base());
    dir.write("w.txt", working);
    TextReader in(dir.path(), "w.txt");
    std::vector<std::string> values;
    while (!in.at_end()) values.push_back(in.read_value());
    std::vector<std::vector<std::string>> rows;
    if (columns <= 0) return rows;
    for (std::size_t i = 0; i + static_cast<std::size_t>(columns) <= values.size();
         i += static_cast<std::size_t>(columns))
        rows.emplace_back(values.begin() + static_cast<std::ptrdiff_t>(i),
                          values.begin() + static_cast<std::ptrdiff_t>(i) + columns);
    return rows;
}

long long values_in(const std::string& working) {
    TempDir dir(run_base());
    dir.write("w.txt", working);
    TextReader in(dir.path(), "w.txt");
    long long n = 0;
    while (!in.at_end()) {
        in.skip_value();
        ++n;
    }
    return n;
}

// The table the session has open: its counts and names, which must agree with its
// working file; "closed" when no working file is there.
struct OpenTable {
    bool open = false;
    int row_count = 0, column_count = 0;
    std::vector<std::string> column_names;
    std::optional<std::string> working;
    bool operator==(const OpenTable&) const = default;
};

// A load that failed leaves no table open, even where its partial files could not be
// deleted (a disk that fails every step): the selection comes again, and the next load
// deletes them first or fails.
bool load_failed_last(const std::string& screen) {
    std::size_t failed = std::string::npos;
    for (const char* text :
         {"table (file) can not be loaded: ", "table (file) can not be read: "}) {
        std::size_t at = screen.rfind(text);
        if (at != std::string::npos && (failed == std::string::npos || at > failed)) failed = at;
    }
    if (failed == std::string::npos) return false;
    std::size_t shown = screen.rfind("  rows = ");
    return shown == std::string::npos || shown < failed;
}

OpenTable open_table(const Outcome& o) {
    OpenTable t;
    if (!o.working || load_failed_last(o.screen)) return t;
    t.open = true;
    t.row_count = o.row_count;
    t.column_count = o.column_count;
    t.column_names = o.column_names;
    t.working = o.working;
    return t;
}

std::string describe(const OpenTable& t) {
    if (!t.open) return "no table open";
    std::string names;
    for (const auto& n : t.column_names) names += n + "|";
    return "rows " + std::to_string(t.row_count) + " columns " + std::to_string(t.column_count) +
           " names " + names + " working file:\n" + *t.working;
}

bool has_any(const std::string& screen, const std::vector<std::string>& texts) {
    for (const auto& text : texts)
        if (screen.find(text) != std::string::npos) return true;
    return false;
}

// Checks one faulty run against the runs without a failure that stop before the operation
// (`before`) and after it (`after`); what is wrong, or "".
std::string check(const Outcome& o, const Outcome& before, const Outcome& after) {
    std::string wrong;
    for (const auto& [name, bytes] : o.files) {
        if (bytes == before.files.at(name) || bytes == after.files.at(name)) continue;
        wrong += name + " is neither the old nor the new file: " +
                 (bytes ? *bytes : std::string("(absent)")) + "\n";
    }
    const OpenTable now = open_table(o);
    if (now.open) {
        // The working file agrees with the counts and the names the program holds.
        if (values_in(*now.working) != static_cast<long long>(now.row_count) * now.column_count)
            wrong += "the working file does not hold row_count x column_count values\n";
        auto rows = table_of(*now.working, now.column_count);
        if (!rows.empty() && rows.front() != now.column_names)
            wrong += "the column names are not the working file's first row\n";
    }
    const OpenTable was = open_table(before), will_be = open_table(after);
    // A program that could not bring its working file back ends, the table saved.
    const bool ended_closed = o.fired && o.ended && !now.open;
    if (!(now == was || now == will_be || ended_closed))
        wrong += "the open table is neither the one before nor the one after the operation:\n" +
                 describe(now) + "\nbefore: " + describe(was) + "\nafter: " + describe(will_be) +
                 "\n";
    if (o.fired && !has_any(o.screen, kFailureMessages) && !has_any(o.screen, kCommandFailures))
        wrong += "no failure message\n";
    // Success is claimed only for what was done whole.
    if (has_any(o.screen, {"---------- HTML results ----------"}) && o.pages != after.pages)
        wrong += "HTML results claimed for pages not written whole\n";
    if (has_any(o.screen, {"output sort table = "}) &&
        o.files.at("t_sort.csv") != after.files.at("t_sort.csv"))
        wrong += "a sorted table claimed that was not written whole\n";
    if (!wrong.empty()) wrong += "screen:\n" + o.screen;
    return wrong;
}

struct Fault {
    int error;
    bool sticky;
};

// Loops the failure over every point of each operation; returns the points per operation.
void loop_operations(const std::vector<Fault>& faults) {
    for (const Operation& op : kOperations) {
        const std::string until = op.before + kPadding;
        const std::string through = op.before + op.keys + kPadding;
        const Outcome before = run(until, 0, 0, false, 0);
        const std::size_t from = screen_length(op.before);
        const Outcome after = run(through, 0, 0, false, from, op.from_command);
        // The points the operation passes (and the redraws after it).
        const long first = op.from_command ? after.mark + 1 : before.points + 1;
        const long last = after.points;
        ASSERT_TRUE(!op.from_command || after.mark >= 0) << op.name << ": no " << op.from_command;
        ASSERT_GE(last, first) << "the operation passes no failure point";
        ::testing::Test::RecordProperty(op.name, static_cast<int>(last - first + 1));
        std::printf("[ points   ] %-30s %ld\n", op.name, last - first + 1);
        std::fflush(stdout);
        for (const Fault& fault : faults) {
            for (long n = first; n <= last; ++n) {
                const Outcome o = run(through, n, fault.error, fault.sticky, from);
                const std::string wrong = o.fired ? check(o, before, after)
                                                  : std::string("the failure was not handed out");
                if (!wrong.empty()) {
                    ADD_FAILURE() << op.name << ": point " << n - first + 1 << " of "
                                  << last - first + 1 << ", errno " << fault.error
                                  << (fault.sticky ? ", sticky" : "") << "\n"
                                  << wrong;
                    break;  // one report per operation
                }
            }
        }
    }
}

TEST(FaultLoops, EveryPointOfEveryOperationFailsWithDiskFull) {
    loop_operations({{ENOSPC, false}});
}

TEST(FaultLoops, TheDiskStaysFull) {
    loop_operations({{ENOSPC, true}});
}

TEST(FaultLoops, ReadAndAccessErrors) {
    loop_operations({{EACCES, false}, {EIO, false}, {EACCES, true}});
}

// Two thousand million rows to insert, and the rewrite fails at one of its first steps
// (reading the working file, opening f_16_1.txt, the first write to it), or on a real write
// once the file has reached the most the system lets it hold: the insert stops at once,
// keeps the table as it was and says so.
TEST(FaultLoops, AnInsertThatFailsStopsAtOnce) {
    constexpr long long kLimit = 8 << 20;
    FileSizeLimit limit(kLimit);
    const std::string to_count = kOpen + "219" + "2\r";
    const std::string keys = to_count + "2000000000\r" + kPadding;
    const Outcome before = run(to_count, 0, 0, false, 0);
    const std::size_t from = screen_length(to_count);
    for (long n = 0; n <= 3; ++n) {
        SCOPED_TRACE(n);
        const Outcome o = run(keys, n > 0 ? before.points + n : 0, ENOSPC, false, from);
        EXPECT_EQ(o.working, before.working);
        EXPECT_EQ(o.row_count, before.row_count);
        EXPECT_EQ(o.column_count, before.column_count);
        const std::string said = n > 0 ? "working file can not be written: No space left on device"
                                       : "working file can not be written: File too large";
        EXPECT_NE(o.screen.find(said), std::string::npos) << o.screen;
        if (n > 0) {
            EXPECT_TRUE(o.fired);
            EXPECT_LT(o.rewrite_size, 1 << 20);
        }
    }
}

}  // namespace
}  // namespace rowkeep::testing
