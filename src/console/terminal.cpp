#include "console/terminal.h"

#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "console/index.h"

namespace rowkeep {

namespace {

// An Esc that no sequence byte follows within this time is the Esc key.
constexpr int kEscTimeoutMs = 50;

// The signal handlers can reach only this: the settings to put back before the
// process dies or stops, and the raw settings to take up again when it is continued.
termios g_restore_settings;
termios g_raw_settings;
std::atomic<bool> g_restore_needed{false};
std::atomic<bool> g_raw_in_force{false};
// SIGWINCH counts here and wakes the reader through the write end of a pipe, so a
// resize that comes just before the reader sleeps still wakes it.
std::atomic<unsigned> g_size_changes{0};
std::atomic<int> g_wake_write{-1};

void size_changed(int) {
    int saved_errno = errno;
    g_size_changes.fetch_add(1);
    int fd = g_wake_write.load();
    if (fd >= 0) (void)!::write(fd, "w", 1);
    errno = saved_errno;
}

void restore_and_reraise(int sig) {
    if (g_restore_needed.load()) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_restore_settings);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Back in the foreground after a stop: the shell has put its own settings in place.
void take_up_raw_mode() {
    if (g_raw_in_force.load() && tcgetpgrp(STDIN_FILENO) == getpgrp())
        tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_settings);
}

void continued(int) {
    int saved_errno = errno;
    take_up_raw_mode();
    errno = saved_errno;
}

// Ctrl+Z: the shell gets the terminal as it was, the program stops, and on being
// continued goes on in raw mode.
void stop_restored(int) {
    int saved_errno = errno;
    if (g_raw_in_force.load()) tcsetattr(STDIN_FILENO, TCSANOW, &g_restore_settings);
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);  // returns once continued (or at once where stopping is refused)
    signal(SIGTSTP, stop_restored);
    take_up_raw_mode();
    errno = saved_errno;
}

}  // namespace

ScriptedTerminal::ScriptedTerminal(std::string_view keys, int cols, int rows)
    : cols_(cols), rows_(rows) {
    add_keys(keys);
}

void ScriptedTerminal::add_keys(std::string_view keys) {
    // A script may also give a key value as it is: code 255 and a scan code.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (static_cast<unsigned char>(keys[i]) == 255 && i + 1 < keys.size()) {
            decoder_.timeout();
            while (decoder_.has_key()) ready_.push_back(decoder_.take());
            ready_.push_back(std::string(keys.substr(i, 2)));
            ++i;
            continue;
        }
        decoder_.feed(static_cast<unsigned char>(keys[i]));
        while (decoder_.has_key()) ready_.push_back(decoder_.take());
    }
    decoder_.timeout();
    while (decoder_.has_key()) ready_.push_back(decoder_.take());
}

void ScriptedTerminal::add_resize(int cols, int rows) {
    ready_.emplace_back();
    resizes_.emplace_back(cols, rows);
}

bool ScriptedTerminal::read_keys(int, std::deque<std::string>& keys) {
    if (ready_.empty()) return false;
    if (ready_.front().empty()) {
        // The keys before the resize have all been read: the window changes now.
        std::tie(cols_, rows_) = resizes_.front();
        resizes_.pop_front();
        ready_.pop_front();
        ++size_changes_;
        return true;
    }
    while (!ready_.empty() && !ready_.front().empty()) {
        keys.push_back(std::move(ready_.front()));
        ready_.pop_front();
    }
    return true;
}

bool ScriptedTerminal::set_code_page(int code_page) {
    if (iconv_name(code_page).empty()) return false;
    code_page_ = code_page;
    return true;
}

RealTerminal::RealTerminal() {
    // The C locale names plain ASCII: no character set to convert to, bytes pass.
    const char* codeset = nl_langinfo(CODESET);
    if (codeset && *codeset && std::strcmp(codeset, "ANSI_X3.4-1968") != 0 &&
        std::strcmp(codeset, "ASCII") != 0)
        charset_ = codeset;
    utf8_locale_ = charset_ == "UTF-8";
    decoder_ = KeyDecoder(utf8_locale_);
    RealTerminal::set_code_page(1250);
    signal(SIGPIPE, SIG_IGN);
    screen_ = isatty(STDOUT_FILENO);
    int wake[2];
    if (screen_ && pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_fd_ = wake[0];
        g_wake_write = wake[1];
        struct sigaction sa {};
        sa.sa_handler = size_changed;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &sa, nullptr);
    }
    tty_ = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_) == 0;
    if (tty_) {
        g_restore_settings = saved_;
        g_restore_needed = true;
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(sig, restore_and_reraise);
        signal(SIGTSTP, stop_restored);
        signal(SIGCONT, continued);
        enter_raw();
    }
}

RealTerminal::~RealTerminal() {
    RealTerminal::flush();
    if (writer_.joinable()) {
        {
            std::lock_guard lock(writer_mutex_);
            writer_stop_ = true;
        }
        writer_cv_.notify_all();
        writer_.join();
    }
    restore();
    g_restore_needed = false;
    if (wake_fd_ >= 0) {
        signal(SIGWINCH, SIG_DFL);
        close(g_wake_write.exchange(-1));
        close(wake_fd_);
    }
}

void RealTerminal::enter_raw() {
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    g_raw_settings = raw;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) raw_ = true;
    g_raw_in_force = raw_;
}

void RealTerminal::restore() {
    g_raw_in_force = false;
    if (raw_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    raw_ = false;
}

void RealTerminal::suspend() {
    flush();
    restore();
}

void RealTerminal::resume() {
    if (tty_) enter_raw();
}

void RealTerminal::feed_input(std::string_view bytes) {
    // Raw: a key is converted when the program takes it (key_in_code_page).
    for (char c : bytes) decoder_.feed(static_cast<unsigned char>(c));
}

std::string RealTerminal::key_in_code_page(std::string key) {
    if (!from_keyboard_ || key.empty()) return key;
    const auto lead = static_cast<unsigned char>(key[0]);
    if (lead < 0x80 || (key.size() == 2 && lead == 255)) return key;  // ASCII, extended keys
    return from_keyboard_->convert_whole(key);
}

unsigned RealTerminal::size_changes() const {
    return g_size_changes.load();
}

bool RealTerminal::read_keys(int timeout_ms, std::deque<std::string>& keys) {
    flush();
    while (!decoder_.has_key()) {
        if (ended_) {
            decoder_.timeout();
            break;
        }
        int wait = decoder_.pending() ? kEscTimeoutMs : timeout_ms;
        pollfd p[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        int r = poll(p, wake_fd_ >= 0 ? 2 : 1, wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            ended_ = true;
            continue;
        }
        if (wake_fd_ >= 0 && (p[1].revents & POLLIN)) {
            // A resize since the last wait, maybe before this one began: the caller
            // compares size_changes() with the size its screen was drawn at.
            char drain[64];
            while (::read(wake_fd_, drain, sizeof drain) > 0) {
            }
            if (p[0].revents == 0) break;
        }
        if (r == 0) {
            if (decoder_.pending()) {
                decoder_.timeout();
                continue;
            }
            break;  // nothing came within the caller's time
        }
        char buffer[4096];
        ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            ended_ = true;  // end of file, or the terminal went away
            continue;
        }
        feed_input(std::string_view(buffer, idx(n)));
    }
    if (!decoder_.has_key()) return !ended_;
    while (decoder_.has_key()) keys.push_back(decoder_.take());
    return true;
}

void RealTerminal::write(std::string_view bytes) {
    if (to_screen_)
        out_ += to_screen_->convert(bytes);
    else
        out_ += bytes;
    if (out_.size() > kBlock) hand_over();
}

namespace {

void write_all(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the screen is gone; the input's end will end the program
        done += idx(n);
    }
}

}  // namespace

void RealTerminal::hand_over() {
    std::unique_lock lock(writer_mutex_);
    writer_cv_.wait(lock, [this] { return !writer_busy_; });
    if (!writer_.joinable()) {
        try {
            writer_ = std::thread([this] { write_blocks(); });
        } catch (const std::system_error&) {
            // No thread to be had: the block is written here.
            lock.unlock();
            write_all(out_);
            out_.clear();
            return;
        }
    }
    writing_.swap(out_);
    out_.clear();
    writer_busy_ = true;
    lock.unlock();
    writer_cv_.notify_all();
}

void RealTerminal::write_blocks() {
    std::unique_lock lock(writer_mutex_);
    for (;;) {
        writer_cv_.wait(lock, [this] { return writer_busy_ || writer_stop_; });
        if (!writer_busy_) return;
        lock.unlock();
        write_all(writing_);
        lock.lock();
        writer_busy_ = false;
        writer_cv_.notify_all();
    }
}

void RealTerminal::flush() {
    if (writer_.joinable()) {
        std::unique_lock lock(writer_mutex_);
        writer_cv_.wait(lock, [this] { return !writer_busy_; });
    }
    write_all(out_);
    out_.clear();
}

std::pair<int, int> RealTerminal::size() {
    const unsigned changes = size_changes();
    if (!size_known_ || changes != size_read_at_) {
        size_ = read_size();
        size_known_ = true;
        size_read_at_ = changes;
    }
    return size_;
}

std::pair<int, int> RealTerminal::read_size() const {
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0)
        return {ws.ws_col, ws.ws_row};
    if (ioctl(STDIN_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0)
        return {ws.ws_col, ws.ws_row};
    auto from_env = [](const char* name, int fallback) {
        const char* v = std::getenv(name);
        if (!v) return fallback;
        int n = std::atoi(v);
        return n > 0 && n < 100000 ? n : fallback;
    };
    return {from_env("COLUMNS", 80), from_env("LINES", 25)};
}

bool RealTerminal::set_code_page(int code_page) {
    std::string name = iconv_name(code_page);
    if (name.empty()) return false;
    // A UTF-8 terminal shows every page converted; any other shows the single-byte pages
    // as they are, and UTF-8 converted into its own character set. A page that must be
    // converted and that iconv cannot convert is one the console lacks.
    const bool convert = utf8_locale_ ? name != "UTF-8" : !charset_.empty() && name == "UTF-8";
    std::unique_ptr<Converter> to_screen, from_keyboard;
    if (convert) {
        to_screen = std::make_unique<Converter>(name, charset_);
        from_keyboard = std::make_unique<Converter>(charset_, name);
        if (!to_screen->valid() || !from_keyboard->valid()) return false;
    }
    // What was written is converted already; it goes out with the next wait for a key.
    code_page_ = code_page;
    to_screen_ = std::move(to_screen);
    from_keyboard_ = std::move(from_keyboard);
    return true;
}

}  // namespace rowkeep
