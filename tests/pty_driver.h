// The real program in a pseudo-terminal: keys typed into the master side, the output read
// back, the terminal's settings read from the slave side while and after the program runs.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rowkeep::testing {

// Output with the escape sequences, CR, BEL and BS taken out; LF kept. Stops before an
// escape sequence that is not complete yet and says how many bytes it used.
std::size_t strip_escapes(std::string_view raw, std::string& plain);

// What a terminal of the given size shows: characters overwrite, a line that reaches the
// right edge wraps (xterm's delayed wrap), CR, LF and BS move, ESC [ n A/B/C/D/G/H move,
// ESC [ K and ESC [ J erase, ESC [ 2 J clears, a UTF-8 character takes one cell; other
// sequences are ignored. Enough to check the echo of the line entry as a person sees it.
class ScreenModel {
  public:
    ScreenModel(int cols, int rows);
    void feed(std::string_view bytes);  // a sequence cut short waits for the next bytes
    // A row as shown: the cells up to the last one written (blanks written are kept).
    std::string row(int r) const;
    int cursor_row() const { return row_; }
    int cursor_col() const { return col_; }

  private:
    void put(std::string cell);
    void line_feed();
    void control(std::string_view sequence);
    int cols_, rows_;
    int row_ = 0, col_ = 0;
    bool wrap_pending_ = false;
    std::vector<std::vector<std::string>> cells_;
    std::string pending_;
};

struct PtyOptions {
    int cols = 80;
    int rows = 25;
    // Extra NAME=VALUE entries for the program's environment (LANG, COLUMNS, ...).
    std::vector<std::string> env;
};

class PtyProgram {
  public:
    // Starts the binary with its working directory dir on a new terminal of the given size.
    PtyProgram(const std::string& binary, const std::filesystem::path& dir,
               PtyOptions options = {});
    ~PtyProgram();  // a program still running is killed
    PtyProgram(const PtyProgram&) = delete;
    PtyProgram& operator=(const PtyProgram&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    void type(std::string_view bytes);
    // Gives the terminal a new size, as dragging the window's edge does: the program gets
    // SIGWINCH, and the modelled screen starts empty at the new size.
    void resize(int cols, int rows);
    // Reads until the text appears in the plain output after the last text waited for;
    // false at the limit (a hang, not a measurement). The search then goes on after it.
    bool wait_for(std::string_view text);
    // Reads until the condition holds; false at the limit.
    bool wait_until(const std::function<bool()>& condition);

    const std::string& raw() const { return raw_; }
    const std::string& plain() const { return plain_; }
    // The plain output since the last clear-screen: what the screen shows now.
    std::string screen() const;
    // The plain output since the text last waited for ended.
    std::string since_mark() const { return plain_.substr(mark_); }
    // The row the cursor is on, and the whole modelled screen.
    std::string last_line() const { return model_.row(model_.cursor_row()); }
    const ScreenModel& model() const { return model_; }

    // The terminal's settings as the program left them; nullopt when they cannot be read.
    std::optional<termios> settings() const;
    const termios& settings_at_start() const { return initial_; }
    // Changes the settings from outside, as a shell does while the program is stopped.
    bool set_settings(const termios& t) {
        return slave_ >= 0 && tcsetattr(slave_, TCSANOW, &t) == 0;
    }

    // Waits for the program to end, reading its output meanwhile; the wait status, or
    // nullopt at the limit.
    std::optional<int> wait_exit();
    // Closes the terminal as a terminal window does: the program is hung up.
    void close_terminal();
    // utime + stime of the program in clock ticks, from /proc; -1 when unreadable.
    long cpu_ticks() const;

    static constexpr std::chrono::seconds kLimit{20};

  private:
    bool read_some(int timeout_ms);

    pid_t pid_ = -1;
    int master_ = -1, slave_ = -1;
    bool exited_ = false;
    termios initial_{};
    std::string raw_, plain_;
    std::size_t stripped_ = 0, mark_ = 0;
    ScreenModel model_;
};

// True when every flag that raw mode changes is as it was at the start.
bool same_line_discipline(const termios& a, const termios& b);

}  // namespace rowkeep::testing
