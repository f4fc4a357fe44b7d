// What every benchmark shares: a session over a terminal that drops its output, a scratch
// folder, generated files, measured runs in a child process (wall time and peak memory of
// that run alone) and the result lines that bench/run gathers into its table.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/session.h"
#include "console/shell.h"
#include "console/terminal.h"

extern char** environ;

namespace rowkeep::bench {

namespace fs = std::filesystem;

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Keys from a string, one per read, each delivery time noted; output counted, not kept,
// so a long run does not measure the growth of a screen buffer.
class BenchTerminal : public Terminal {
  public:
    BenchTerminal(std::string keys, int cols, int rows)
        : keys_(std::move(keys)), size_{cols, rows} {}
    bool read_keys(int, std::deque<std::string>& keys) override {
        if (next_ >= keys_.size()) return false;
        deliveries.push_back(std::chrono::steady_clock::now());
        keys.push_back(std::string(1, keys_[next_++]));
        return true;
    }
    void write(std::string_view bytes) override { written += bytes.size(); }
    void flush() override {}
    std::pair<int, int> size() override { return size_; }
    bool set_code_page(int code_page) override {
        code_page_ = code_page;
        return true;
    }
    int code_page() const override { return code_page_; }
    bool interactive() const override { return false; }
    bool converts() const override { return false; }

    std::vector<std::chrono::steady_clock::time_point> deliveries;
    std::size_t written = 0;

  private:
    std::string keys_;
    std::size_t next_ = 0;
    std::pair<int, int> size_;
    int code_page_ = 1250;
};

struct BenchSession {
    BenchSession(const fs::path& dir, std::string keys, int cols = 80, int rows = 25)
        : terminal(std::move(keys), cols, rows),
          console(terminal),
          shell(dir, console),
          clock("14:03:59", "05-22-2017"),
          random(1),
          session(console, shell, dir, clock, random) {
        session.console_cols = cols;
        session.console_rows = rows;
    }
    BenchTerminal terminal;
    Console console;
    Shell shell;
    FixedClock clock;
    std::mt19937 random;
    Session session;
};

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "rowkeep-bench-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        if (!made) throw std::runtime_error("cannot make a scratch folder");
        path_ = made;
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

struct Measured {
    double seconds = 0;
    long peak_kib = 0;  // the child's peak resident memory
    bool ok = false;
};

// Runs work in a forked child, so its peak memory is its own and not the generator's.
inline Measured measure_child(const std::function<void()>& work) {
    std::fflush(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        try {
            work();
        } catch (...) {
            _exit(2);
        }
        std::fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return {seconds_since(start), usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

// Runs a standard tool with its input and output redirected to files, LC_ALL=C.
inline Measured measure_tool(const std::vector<std::string>& argv, const fs::path& in,
                             const fs::path& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env_text{"LC_ALL=C", "PATH=/usr/bin:/bin"};
    std::vector<char*> env;
    for (auto& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return {};
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return {seconds_since(start), usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

// One line for bench/run: figure, size, Rowkeep's seconds, the standard tool's seconds
// (negative when there is none), and each one's peak memory in KiB.
inline void result(const std::string& figure, long size, double ours, long our_kib,
                   double standard = -1, long standard_kib = 0, const std::string& tool = "-") {
    std::printf("RESULT\t%s\t%ld\t%.6f\t%ld\t%.6f\t%ld\t%s\n", figure.c_str(), size, ours, our_kib,
                standard, standard_kib, tool.c_str());
    std::fflush(stdout);
}

// Random text of about the given length from letters of both cases, digits and blanks.
inline std::string random_text(std::mt19937& random, std::size_t length) {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789    ";
    std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
    std::string text(length, ' ');
    for (auto& ch : text) ch = kChars[pick(random)];
    return text;
}

// A table file of rows data rows (plus the name row) and cols columns.
inline void write_table(const fs::path& path, long rows, int cols, unsigned seed = 7) {
    std::mt19937 random(seed);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    std::uniform_int_distribution<int> length(1, 10);
    for (long r = 0; r <= rows; ++r) {
        std::string line;
        for (int c = 1; c <= cols; ++c) {
            if (c > 1) line += ';';
            line += r == 0 ? "col" + std::to_string(c) : random_text(random, length(random));
        }
        line += "\r\n";
        std::fwrite(line.data(), 1, line.size(), f.get());
    }
}

// The working file of the same shape, written directly (no load needed).
inline void write_working_file(const fs::path& path, long rows, int cols, unsigned seed = 7) {
    std::mt19937 random(seed);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    std::uniform_int_distribution<int> length(1, 10);
    for (long r = 0; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
            std::string cell =
                r == 0 ? "col" + std::to_string(c) : random_text(random, length(random));
            std::string line = "\"" + cell + "\"\r\n";
            std::fwrite(line.data(), 1, line.size(), f.get());
        }
}

// Sizes from the command line, else the default list.
inline std::vector<long> sizes(int argc, char** argv, std::vector<long> defaults) {
    std::vector<long> out;
    for (int i = 1; i < argc; ++i) out.push_back(std::atol(argv[i]));
    return out.empty() ? defaults : out;
}

}  // namespace rowkeep::bench
