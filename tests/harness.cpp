#include "harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "console/keys.h"
#include "console/table_file.h"
#include "startup/start_program.h"
#include "viewer/sort_engine.h"

namespace rowkeep::testing {

TempDir::TempDir() : TempDir(fs::temp_directory_path()) {}

TempDir::TempDir(const fs::path& base) {
    std::string pattern = (base / "rowkeep-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made ? fs::path(made) : base / "rowkeep-test";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Folders made read-only by a test must be writable again to be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void TempDir::write(std::string_view name, std::string_view bytes) const {
    fs::path p = path_ / std::string(name);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string TempDir::read(std::string_view name) const {
    std::ifstream in(path_ / std::string(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool TempDir::exists(std::string_view name) const {
    return fs::exists(path_ / std::string(name));
}

TestSession::TestSession(const fs::path& dir, std::string_view keys, Options options)
    : TestSession(
          dir, keys, [&dir](Console& c) { return std::make_unique<Shell>(dir, c); }, options) {}

TestSession::TestSession(const fs::path& dir, std::string_view keys, const ShellMaker& make_shell,
                         Options options)
    : terminal(keys, options.cols, options.rows),
      console(terminal),
      shell_owner(make_shell(console)),
      clock(options.time, options.date),
      random(options.seed),
      session(console, *shell_owner, dir, clock, random) {
    session.console_cols = options.cols;
    session.console_rows = options.rows;
    terminal.set_locale_charset(options.locale_charset);
}

RunResult run_program(const fs::path& dir, std::string_view keys, Options options) {
    TestSession t(dir, keys, options);
    t.run(start_program);
    return {t.screen(), t.input_ended, t.shell_owner->history()};
}

std::vector<std::string> split_screens(const std::string& screen) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = screen.find(kClearScreen, start);
        if (at == std::string::npos) {
            parts.push_back(screen.substr(start));
            return parts;
        }
        parts.push_back(screen.substr(start, at - start));
        start = at + kClearScreen.size();
    }
}

std::string working_file(const std::vector<std::vector<std::string>>& rows) {
    std::string text;
    for (const auto& row : rows)
        for (const auto& cell : row) text += "\"" + cell + "\"\r\n";
    return text;
}

std::vector<std::string> screen_lines(const std::string& screen) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= screen.size()) {
        std::size_t end = screen.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < screen.size()) lines.push_back(screen.substr(start));
            break;
        }
        lines.push_back(screen.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

fs::path realdata_dir() {
    const char* set = std::getenv("ROWKEEP_REALDATA");
    if (set && *set) return set;
    return fs::path(ROWKEEP_REALDATA_DEFAULT).lexically_normal();
}

std::string realdata_absent(const fs::path& missing) {
    return missing.string() + " is absent (ROWKEEP_REALDATA names the real tables' folder)";
}

std::vector<std::vector<std::string>> numbered_rows(int rows, int cols) {
    std::vector<std::vector<std::string>> t;
    for (int r = 1; r <= rows; ++r) {
        std::vector<std::string> row;
        for (int c = 1; c <= cols; ++c)
            row.push_back(r == 1 ? "h" + std::to_string(c)
                                 : "r" + std::to_string(r) + "c" + std::to_string(c));
        t.push_back(row);
    }
    return t;
}

long ended_pid() {
    pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return static_cast<long>(child);
}

std::string browser_dom(const fs::path& profile, const std::string& url, const fs::path& output) {
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int null = open("/dev/null", O_WRONLY);
        if (out < 0 || null < 0) _exit(127);
        dup2(out, 1);
        dup2(null, 2);
        const std::string user_data = "--user-data-dir=" + profile.string();
        execl("/usr/bin/timeout", "timeout", "60", kChromium, "--headless", "--no-sandbox",
              "--disable-gpu", "--no-first-run", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", user_data.c_str(), "--dump-dom",
              url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return "";
    std::ifstream in(output, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace rowkeep::testing
