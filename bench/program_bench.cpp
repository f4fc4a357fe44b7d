// The whole program (the Release binary, keys piped in) on generated tables, each job beside
// its reference in the same run, best of BENCH_REPEAT runs (default 3):
//   start to the main menu            beside `true` (screen to /dev/null, then into a file)
//   load (and viewer entry)           beside dd writing as many bytes as the load wrote
//   sort set-up run less a load run   beside LC_ALL=C sort of the same key-prefixed lines
//   save with the export, less a load beside dd writing as many bytes as the save wrote
//   whole sort run, 10 columns        beside Miller's `mlr sort -f` (skipped when absent)
// Bytes written are the child's write(2) bytes (/proc/<pid>/io) less its screen output.
// Sizes (data rows) from the command line, else 10^4, 10^5 and 10^6; the save is run up
// to 10^5 rows (above that its pages run into tens of gigabytes).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_common.h"
#include "console/tokens.h"

using namespace rowkeep;
using namespace rowkeep::bench;

namespace {

struct Run {
    double seconds = 1e300;
    long peak_kib = 0;
    long long written = 0;  // bytes handed to write(2) other than the screen's
    bool ok = false;
};

// Runs argv in dir, stdin from keys_file (or /dev/null), stdout into screen_file.
Run spawn_in(const fs::path& dir, const std::vector<std::string>& argv, const fs::path& keys_file,
             const fs::path& screen_file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, keys_file.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, screen_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env_text{"LC_ALL=C", "PATH=/usr/bin:/bin", "COLUMNS=80", "LINES=25"};
    std::vector<char*> env;
    for (auto& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    Run run;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return run;
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    const double seconds = seconds_since(start);
    long long wchar = 0;
    {
        std::ifstream io("/proc/" + std::to_string(pid) + "/io");
        for (std::string key; io >> key;) {
            long long value = 0;
            io >> value;
            if (key == "wchar:") wchar = value;
        }
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::error_code ec;
    const auto screen = fs::file_size(screen_file, ec);
    run.seconds = seconds;
    run.peak_kib = usage.ru_maxrss;
    run.written = wchar - static_cast<long long>(ec ? 0 : screen);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

int repeats() {
    const char* text = std::getenv("BENCH_REPEAT");
    return text && std::atoi(text) > 0 ? std::atoi(text) : 3;
}

// The best of the repeats; each repeat in a fresh copy of the table's folder.
Run best_of(const std::function<Run()>& once) {
    Run best;
    for (int i = 0; i < repeats(); ++i) {
        Run r = once();
        if (!r.ok) return r;
        if (r.seconds < best.seconds) best = r;
    }
    return best;
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The program on a fresh copy of table in a scratch folder, keys piped in; keep_as (when
// given) receives a copy of a file the run leaves behind.
Run program_run(const fs::path& table, const std::string& keys, const std::string& keep = "",
                const fs::path& keep_as = {}) {
    ScratchDir dir;
    fs::copy_file(table, dir.path() / "t.csv");
    ScratchDir aside;
    write_text(aside.path() / "keys", keys);
    Run r = spawn_in(dir.path(), {ROWKEEP_BINARY}, aside.path() / "keys", aside.path() / "screen");
    if (!keep.empty()) {
        std::error_code ec;
        fs::copy_file(dir.path() / keep, keep_as, fs::copy_options::overwrite_existing, ec);
        if (ec) r.ok = false;
    }
    return r;
}

Run tool_run(const std::vector<std::string>& argv, const fs::path& in, const fs::path& out) {
    return best_of([&] {
        Run r;
        Measured m = measure_tool(argv, in, out);
        r.seconds = m.seconds;
        r.peak_kib = m.peak_kib;
        r.ok = m.ok;
        return r;
    });
}

// dd writing as many bytes as given, in blocks of 1 MiB, into a scratch file.
Run dd_run(long long bytes) {
    ScratchDir dir;
    const long long blocks = std::max(1LL, (bytes + (1 << 20) - 1) >> 20);
    return tool_run({"dd", "status=none", "if=/dev/zero", "of=" + (dir.path() / "dd.out").string(),
                     "bs=1M", "count=" + std::to_string(blocks)},
                    "/dev/null", dir.path() / "dd.log");
}

void report(const std::string& figure, long size, const Run& ours, const Run& tool,
            const std::string& tool_name) {
    std::printf(
        "%-34s %8ld rows: rowkeep %9.3f ms (peak %7ld KiB)  %-16s %9.3f ms (peak %7ld "
        "KiB)  ratio %.2f\n",
        figure.c_str(), size, ours.seconds * 1000, ours.peak_kib, tool_name.c_str(),
        tool.seconds * 1000, tool.peak_kib, ours.seconds / tool.seconds);
    result(figure, size, ours.seconds, ours.peak_kib, tool.seconds, tool.peak_kib, tool_name);
}

bool have(const std::string& tool) {
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/local/bin/"})
        if (access((folder + tool).c_str(), X_OK) == 0) return true;
    return false;
}

// The engine's input with its letters lowered, LF ended, as LC_ALL=C sort reads it.
void lower_lines(const fs::path& from, const fs::path& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out << lower_az(line) << '\n';
    }
}

const std::string kOpen = "1123131\r";  // start screens, the table list, table 1: the viewer

}  // namespace

int main(int argc, char** argv) {
    // Start to the main menu, where "8" ends the program. The screen goes to /dev/null, as a
    // terminal's does to no file. A screen file truncated at every start makes ext4 write the
    // program's 1.8 KB out as it ends, which `true`, writing nothing, never pays; that figure
    // is printed on a row of its own.
    {
        ScratchDir dir;
        write_table(dir.path() / "t.csv", 10, 3);
        constexpr int kStarts = 200;
        auto many = [&](const std::vector<std::string>& argv, bool screen_in_file) {
            return best_of([&] {
                Run total;
                total.seconds = 0;
                total.ok = true;
                ScratchDir aside;
                write_text(aside.path() / "keys", "11238");
                const fs::path screen =
                    screen_in_file ? aside.path() / "screen" : fs::path("/dev/null");
                for (int i = 0; i < kStarts; ++i) {
                    Run r = spawn_in(dir.path(), argv, aside.path() / "keys", screen);
                    total.seconds += r.seconds / kStarts;
                    total.peak_kib = std::max(total.peak_kib, r.peak_kib);
                    total.ok = total.ok && r.ok;
                }
                return total;
            });
        };
        Run ours = many({ROWKEEP_BINARY}, false);
        Run truth = many({"true"}, false);
        report("start to the main menu", 0, ours, truth, "true");
        if (!ours.ok) return 1;
        Run ours_file = many({ROWKEEP_BINARY}, true);
        Run truth_file = many({"true"}, true);
        report("start, screen into a file", 0, ours_file, truth_file, "true");
    }

    for (long rows : sizes(argc, argv, {10000, 100000, 1000000})) {
        ScratchDir work;
        // Sort set-up: 3 columns, key on column 2 positions 1 to 10.
        {
            const fs::path table = work.path() / "t3.csv";
            write_table(table, rows, 3);
            Run load = best_of([&] { return program_run(table, kOpen); });
            const fs::path keyed = work.path() / "keyed.txt";
            Run sort = best_of([&] {
                return program_run(table, kOpen + "s2x3x81\r10\rx8", "file_26_1.txt", keyed);
            });
            if (!load.ok || !sort.ok) return 1;
            lower_lines(keyed, work.path() / "keyed_lower.txt");
            Run tool = tool_run({"sort"}, work.path() / "keyed_lower.txt", work.path() / "std.txt");
            Run less = sort;
            less.seconds = sort.seconds - load.seconds;
            report("sort set-up run less a load run", rows, less, tool, "LC_ALL=C sort");
        }
        // Load, the whole sort run and the save on 10 columns.
        const fs::path table = work.path() / "t10.csv";
        write_table(table, rows, 10);
        Run load = best_of([&] { return program_run(table, kOpen); });
        if (!load.ok) return 1;
        report("load (and viewer entry), 10 cols", rows, load, dd_run(load.written), "dd");
        {
            Run sort =
                best_of([&] { return program_run(table, kOpen + "s2x3xxxxxxxx81\r10\rx8"); });
            if (!sort.ok) return 1;
            if (have("mlr")) {
                Run mlr = tool_run({"mlr", "--csv", "--ifs", ";", "--ofs", ";", "sort", "-f",
                                    "col2", table.string()},
                                   "/dev/null", work.path() / "mlr.csv");
                Run quarter = sort;
                quarter.seconds = sort.seconds * 4;
                std::printf("(the next row's ratio is 4 x Rowkeep / Miller: at most 1 holds)\n");
                report("whole sort run x4, 10 cols", rows, quarter, mlr, "mlr sort -f");
            } else {
                std::printf(
                    "whole sort run, 10 cols, %ld rows: %.3f ms; Miller (mlr) not "
                    "installed, no reference\n",
                    rows, sort.seconds * 1000);
                result("whole sort run, 10 cols", rows, sort.seconds, sort.peak_kib);
            }
        }
        if (rows <= 100000) {
            Run save = best_of([&] { return program_run(table, kOpen + "991xx"); });
            if (!save.ok) return 1;
            Run less = save;
            less.seconds = save.seconds - load.seconds;
            less.written = save.written - load.written;
            report("save with the export, less load", rows, less, dd_run(less.written), "dd");
        }
    }
    return 0;
}
