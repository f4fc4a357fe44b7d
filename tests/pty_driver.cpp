#include "pty_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace rowkeep::testing {

namespace {

using Clock = std::chrono::steady_clock;

// Length of the escape sequence at the start of s (which begins with ESC), or 0 when it
// is not complete yet.
std::size_t sequence_length(std::string_view s) {
    if (s.size() < 2) return 0;
    if (s[1] == '[') {
        for (std::size_t i = 2; i < s.size(); ++i)
            if (s[i] >= 0x40 && s[i] <= 0x7e) return i + 1;
        return 0;
    }
    if (s[1] == ']') {  // operating system command: up to BEL or ESC backslash
        for (std::size_t i = 2; i < s.size(); ++i) {
            if (s[i] == '\a') return i + 1;
            if (s[i] == '\x1b' && i + 1 < s.size() && s[i + 1] == '\\') return i + 2;
        }
        return 0;
    }
    return 2;
}

}  // namespace

std::size_t strip_escapes(std::string_view raw, std::string& plain) {
    std::size_t i = 0;
    while (i < raw.size()) {
        char c = raw[i];
        if (c == '\x1b') {
            std::size_t n = sequence_length(raw.substr(i));
            if (n == 0) break;
            i += n;
            continue;
        }
        if (c != '\r' && c != '\a' && c != '\b') plain += c;
        ++i;
    }
    return i;
}

ScreenModel::ScreenModel(int cols, int rows)
    : cols_(cols), rows_(rows), cells_(static_cast<std::size_t>(rows)) {}

void ScreenModel::line_feed() {
    if (row_ + 1 < rows_) {
        ++row_;
        return;
    }
    cells_.erase(cells_.begin());
    cells_.emplace_back();
}

void ScreenModel::put(std::string cell) {
    if (wrap_pending_) {
        wrap_pending_ = false;
        col_ = 0;
        line_feed();
    }
    auto& line = cells_[static_cast<std::size_t>(row_)];
    if (line.size() <= static_cast<std::size_t>(col_))
        line.resize(static_cast<std::size_t>(col_) + 1);
    line[static_cast<std::size_t>(col_)] = std::move(cell);
    if (col_ + 1 < cols_)
        ++col_;
    else
        wrap_pending_ = true;
}

void ScreenModel::control(std::string_view seq) {
    if (seq.size() < 3 || seq[1] != '[') return;
    const char final = seq.back();
    std::string params(seq.substr(2, seq.size() - 3));
    std::vector<int> numbers;
    std::size_t at = 0;
    while (at <= params.size()) {
        std::size_t semi = params.find(';', at);
        if (semi == std::string::npos) semi = params.size();
        std::string part = params.substr(at, semi - at);
        numbers.push_back(part.empty() || part.find_first_not_of("0123456789") != std::string::npos
                              ? 0
                              : std::stoi(part));
        at = semi + 1;
    }
    const int n = std::max(numbers[0], 1);
    auto& line = cells_[static_cast<std::size_t>(row_)];
    wrap_pending_ = false;
    switch (final) {
        case 'A':
            row_ = std::max(row_ - n, 0);
            break;
        case 'B':
            row_ = std::min(row_ + n, rows_ - 1);
            break;
        case 'C':
            col_ = std::min(col_ + n, cols_ - 1);
            break;
        case 'D':
            col_ = std::max(col_ - n, 0);
            break;
        case 'G':
            col_ = std::min(n, cols_) - 1;
            break;
        case 'H':
            row_ = std::min(n, rows_) - 1;
            col_ = numbers.size() > 1 ? std::min(std::max(numbers[1], 1), cols_) - 1 : 0;
            break;
        case 'K':
            if (line.size() > static_cast<std::size_t>(col_))
                line.resize(static_cast<std::size_t>(col_));
            break;
        case 'J':
            if (numbers[0] == 2) {
                for (auto& l : cells_) l.clear();
            } else if (numbers[0] == 0) {
                if (line.size() > static_cast<std::size_t>(col_))
                    line.resize(static_cast<std::size_t>(col_));
                for (std::size_t r = static_cast<std::size_t>(row_) + 1; r < cells_.size(); ++r)
                    cells_[r].clear();
            }
            break;
        default:
            break;
    }
}

void ScreenModel::feed(std::string_view bytes) {
    pending_ += bytes;
    std::string_view s = pending_;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\x1b') {
            std::size_t n = sequence_length(s.substr(i));
            if (n == 0) break;
            control(s.substr(i, n));
            i += n;
        } else if (c == '\r') {
            col_ = 0;
            wrap_pending_ = false;
            ++i;
        } else if (c == '\n') {
            line_feed();
            wrap_pending_ = false;
            ++i;
        } else if (c == '\b') {
            if (col_ > 0) --col_;
            wrap_pending_ = false;
            ++i;
        } else if (static_cast<unsigned char>(c) < 32) {
            ++i;  // BEL and the rest move nothing
        } else {
            const auto lead = static_cast<unsigned char>(c);
            const std::size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (i + len > s.size()) break;  // the rest of the character comes later
            put(std::string(s.substr(i, len)));
            i += len;
        }
    }
    pending_.erase(0, i);
}

std::string ScreenModel::row(int r) const {
    std::string line;
    if (r < 0 || r >= rows_) return line;
    for (const auto& cell : cells_[static_cast<std::size_t>(r)]) line += cell.empty() ? " " : cell;
    return line;
}

PtyProgram::PtyProgram(const std::string& binary, const std::filesystem::path& dir,
                       PtyOptions options)
    : model_(options.cols, options.rows) {
    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(options.cols);
    ws.ws_row = static_cast<unsigned short>(options.rows);
    if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0) return;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    tcgetattr(slave_, &initial_);

    // Everything the child needs is built before the fork.
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
        std::string_view entry(*e);
        bool replaced =
            entry.starts_with("LC_") || entry.starts_with("LANG=") || entry.starts_with("TERM=");
        for (const auto& extra : options.env)
            if (entry.substr(0, entry.find('=') + 1) == extra.substr(0, extra.find('=') + 1))
                replaced = true;
        if (!replaced) env_text.emplace_back(entry);
    }
    env_text.emplace_back("TERM=xterm");
    for (const auto& extra : options.env) env_text.push_back(extra);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string dir_text = dir.string();

    pid_ = fork();
    if (pid_ == 0) {
        close(master_);
        // A session of its own with the slave as its controlling terminal, on fds 0 to 2.
        if (login_tty(slave_) != 0) _exit(126);
        if (chdir(dir_text.c_str()) != 0) _exit(126);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        execle(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr), envp.data());
        _exit(127);
    }
}

PtyProgram::~PtyProgram() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
}

void PtyProgram::type(std::string_view bytes) {
    while (!bytes.empty() && master_ >= 0) {
        ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PtyProgram::resize(int cols, int rows) {
    while (read_some(0)) {
    }
    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(cols);
    ws.ws_row = static_cast<unsigned short>(rows);
    if (master_ >= 0) ioctl(master_, TIOCSWINSZ, &ws);
    model_ = ScreenModel(cols, rows);
}

bool PtyProgram::read_some(int timeout_ms) {
    if (master_ < 0) return false;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buffer[65536];
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;
    raw_.append(buffer, static_cast<std::size_t>(n));
    model_.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    stripped_ += strip_escapes(std::string_view(raw_).substr(stripped_), plain_);
    return true;
}

bool PtyProgram::wait_until(const std::function<bool()>& condition) {
    const auto give_up = Clock::now() + kLimit;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= give_up) return false;
        read_some(100);
    }
}

bool PtyProgram::wait_for(std::string_view text) {
    std::size_t found = std::string::npos;
    bool ok = wait_until([&] {
        found = plain_.find(text, mark_);
        return found != std::string::npos;
    });
    if (ok) mark_ = found + text.size();
    return ok;
}

std::string PtyProgram::screen() const {
    std::size_t clear = raw_.rfind("\x1b[2J");
    std::string plain;
    if (clear == std::string::npos) {
        strip_escapes(raw_, plain);
    } else {
        strip_escapes(std::string_view(raw_).substr(clear), plain);
    }
    return plain;
}

std::optional<termios> PtyProgram::settings() const {
    termios t{};
    if (slave_ < 0 || tcgetattr(slave_, &t) != 0) return std::nullopt;
    return t;
}

std::optional<int> PtyProgram::wait_exit() {
    if (pid_ <= 0) return std::nullopt;
    const auto give_up = Clock::now() + kLimit;
    while (Clock::now() < give_up) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exited_ = true;
            while (read_some(0)) {
            }
            return status;
        }
        // Keep the output flowing: a program blocked on a full terminal cannot end.
        if (!read_some(50) && master_ < 0) usleep(50000);
    }
    return std::nullopt;
}

void PtyProgram::close_terminal() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
}

long PtyProgram::cpu_ticks() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name is in parentheses and may hold blanks: count fields after it.
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long utime = -1, stime = -1;
    for (int k = 3; fields >> field; ++k) {
        if (k == 14) utime = std::stol(field);
        if (k == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

bool same_line_discipline(const termios& a, const termios& b) {
    const tcflag_t lflags = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    const tcflag_t iflags = ICRNL | IXON | INLCR | IGNCR;
    return (a.c_lflag & lflags) == (b.c_lflag & lflags) &&
           (a.c_iflag & iflags) == (b.c_iflag & iflags) && a.c_oflag == b.c_oflag &&
           a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME] &&
           a.c_cc[VINTR] == b.c_cc[VINTR];
}

}  // namespace rowkeep::testing
