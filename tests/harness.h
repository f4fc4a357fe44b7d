// Whole-program and procedure tests: a scripted terminal, a fresh folder, a fixed clock.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/session.h"
#include "console/shell.h"
#include "console/terminal.h"

namespace rowkeep::testing {

namespace fs = std::filesystem;

// A fresh temporary folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    // Below the given folder rather than the system's temporary folder.
    explicit TempDir(const fs::path& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    void write(std::string_view name, std::string_view bytes) const;
    std::string read(std::string_view name) const;
    bool exists(std::string_view name) const;

  private:
    fs::path path_;
};

struct Options {
    int cols = 80;
    int rows = 25;
    std::string time = "14:03:59";
    std::string date = "05-22-2017";
    unsigned seed = 1;
    // The character set of the locale the scripted terminal claims ("UTF-8"): file names
    // follow it; the screen and keys stay in the code page.
    std::string locale_charset = "";
};

// A session over a scripted terminal: for calling one procedure directly.
struct TestSession {
    TestSession(const fs::path& dir, std::string_view keys, Options options = {});
    // With an interpreter of the test's own (a Shell subclass), made over the console.
    using ShellMaker = std::function<std::unique_ptr<Shell>(Console&)>;
    TestSession(const fs::path& dir, std::string_view keys, const ShellMaker& make_shell,
                Options options = {});

    std::string screen() const { return terminal.output(); }
    // Runs a procedure; true when it ended the program (ProgramEnd).
    template <class F>
    bool run(F&& procedure) {
        try {
            procedure(session);
        } catch (const ProgramEnd& e) {
            input_ended = e.input_ended;
            return true;
        }
        return false;
    }

    ScriptedTerminal terminal;
    Console console;
    std::unique_ptr<Shell> shell_owner;
    FixedClock clock;
    std::mt19937 random;
    Session session;
    bool input_ended = false;
};

struct RunResult {
    std::string screen;                 // everything the screen showed
    bool input_ended;                   // the keys ran out (rather than the program ending itself)
    std::vector<std::string> commands;  // the command lines issued
};

// Runs the whole program from its entry procedure in dir with the keys typed.
RunResult run_program(const fs::path& dir, std::string_view keys, Options options = {});

// The screen split at every clear-screen: element 0 is what came before the first clear.
std::vector<std::string> split_screens(const std::string& screen);

// The working file of a table given row by row: one quoted cell a line.
std::string working_file(const std::vector<std::vector<std::string>>& rows);

// A header row h1..hn and data rows "r<row>c<col>", rows in all.
std::vector<std::vector<std::string>> numbered_rows(int rows, int cols);

// The screen's lines (split at CR LF).
std::vector<std::string> screen_lines(const std::string& screen);

// The folder of real tables and pages by others: $ROWKEEP_REALDATA, else shared/realdata
// beside the clone. It may be absent: a test that needs it skips, naming what it missed.
fs::path realdata_dir();
// The skip reason for a missing real table or folder.
std::string realdata_absent(const fs::path& missing);

// Headless Chromium, where the browser tests find it.
inline constexpr const char* kChromium = "/usr/bin/chromium";
// The DOM headless Chromium dumps for the address (through output, a file of the test),
// with profile as its empty user-data folder; "" when it did not run.
std::string browser_dom(const fs::path& profile, const std::string& url, const fs::path& output);

// The keys that pass the start screen, the notice and choose Windows-1250.
inline constexpr std::string_view kStartKeys = "1123";

// kStartKeys, then the keys given: a run that starts at the main menu.
inline std::string from_main_menu(std::string_view keys) {
    return std::string(kStartKeys) + std::string(keys);
}

// Whether the screen (of a run) showed the text.
inline bool screen_has(const std::string& screen, std::string_view text) {
    return screen.find(text) != std::string::npos;
}
inline bool screen_has(const RunResult& r, std::string_view text) {
    return screen_has(r.screen, text);
}

// The id of a process that has ended: a child that exits at once, waited for.
long ended_pid();

// Files no larger than `bytes` while it lives: a write past it fails (EFBIG, "File too
// large") rather than filling the disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        set_ = getrlimit(RLIMIT_FSIZE, &old_) == 0;
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{bytes, old_.rlim_max};
        set_ = set_ && setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return set_; }

  private:
    rlimit old_{};
    void (*old_handler_)(int) = nullptr;
    bool set_ = false;
};

}  // namespace rowkeep::testing
