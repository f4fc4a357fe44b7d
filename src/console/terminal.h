// The terminal under the console: the real one (raw mode, restore, size, code page
// conversion) and a scripted one for tests.
#pragma once

#include <termios.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>

#include "console/code_page.h"
#include "console/keys.h"

namespace rowkeep {

class Terminal {
  public:
    virtual ~Terminal() = default;
    // Waits up to timeout_ms (-1: until a key comes) and appends the keys that arrived.
    // Returns false once the input has ended and no key is left.
    virtual bool read_keys(int timeout_ms, std::deque<std::string>& keys) = 0;
    // Bytes in the active code page; buffered until flush().
    virtual void write(std::string_view bytes) = 0;
    virtual void flush() = 0;
    // Columns and rows; a real terminal reads them once and again only after a resize.
    virtual std::pair<int, int> size() = 0;
    // How often the size has changed so far: a screen drawn at one count is stale at another.
    // read_keys returns early, with no key, when the size changes while it waits.
    virtual unsigned size_changes() const { return 0; }
    // True when a line longer than the width goes on at the next screen line, as on a real
    // terminal's screen; false where output is a stream of lines (a pipe, a test's string).
    virtual bool wraps() const { return false; }
    // A key as read_keys gave it, as the program takes it: a character typed in the
    // terminal's own character set comes out in the code page active now (one or more
    // bytes; "?" when the page lacks it). Keys are kept raw until then, so keys typed ahead
    // of a code page change go in with the page they are read under.
    virtual std::string key_in_code_page(std::string key) { return key; }
    // The active console code page; false (and no change) for a page the console lacks.
    virtual bool set_code_page(int code_page) = 0;
    virtual int code_page() const = 0;
    // True when the typed line is echoed as it is edited (a real terminal).
    virtual bool interactive() const = 0;
    // True when text is converted between the code page and the locale's character set
    // on its way.
    virtual bool converts() const = 0;
    // The character set of the locale the terminal shows text in ("UTF-8", "ISO-8859-2");
    // "" where bytes pass as they are. File names follow it too.
    virtual std::string locale_charset() const { return ""; }
    // Hands the terminal to another program (the text editor) and takes it back.
    virtual void suspend() {}
    virtual void resume() {}
};

// Keys from a string, output into a string, a fixed size, no conversion.
class ScriptedTerminal : public Terminal {
  public:
    ScriptedTerminal(std::string_view keys, int cols = 80, int rows = 25);
    bool read_keys(int timeout_ms, std::deque<std::string>& keys) override;
    void write(std::string_view bytes) override { output_ += bytes; }
    void flush() override {}
    std::pair<int, int> size() override { return {cols_, rows_}; }
    unsigned size_changes() const override { return size_changes_; }
    bool wraps() const override { return wraps_; }
    bool set_code_page(int code_page) override;
    int code_page() const override { return code_page_; }
    bool interactive() const override { return false; }
    bool converts() const override { return false; }
    std::string locale_charset() const override { return locale_charset_; }

    const std::string& output() const { return output_; }
    std::string& output() { return output_; }
    // Keys still waiting to be read: more can be added while a test runs.
    void add_keys(std::string_view keys);
    // The window takes this size once the keys added before it have been read.
    void add_resize(int cols, int rows);
    // Long lines wrap as on a terminal's screen (the output string stays as written).
    void set_wrapping(bool wraps) { wraps_ = wraps; }
    // The locale's character set as a real terminal would report it. Only file names
    // follow it: the output string stays in the code page.
    void set_locale_charset(std::string charset) { locale_charset_ = std::move(charset); }

  private:
    KeyDecoder decoder_;
    std::deque<std::string> ready_;  // an empty entry stands for the next of resizes_
    std::deque<std::pair<int, int>> resizes_;
    std::string output_;
    int cols_, rows_;
    unsigned size_changes_ = 0;
    bool wraps_ = false;
    int code_page_ = 1250;
    std::string locale_charset_;
};

// Standard input and output of the process. On a terminal: raw mode, restored on every
// way out (destructor, SIGINT, SIGTERM, SIGHUP). Not a terminal: every byte is a key.
class RealTerminal : public Terminal {
  public:
    RealTerminal();
    ~RealTerminal() override;
    RealTerminal(const RealTerminal&) = delete;
    RealTerminal& operator=(const RealTerminal&) = delete;

    bool read_keys(int timeout_ms, std::deque<std::string>& keys) override;
    void write(std::string_view bytes) override;
    void flush() override;
    std::pair<int, int> size() override;
    unsigned size_changes() const override;
    bool wraps() const override { return screen_; }
    std::string key_in_code_page(std::string key) override;
    bool set_code_page(int code_page) override;
    int code_page() const override { return code_page_; }
    bool interactive() const override { return tty_; }
    bool converts() const override { return to_screen_ != nullptr; }
    std::string locale_charset() const override { return charset_; }
    void suspend() override;
    void resume() override;

  private:
    void enter_raw();
    void restore();
    void feed_input(std::string_view bytes);
    std::pair<int, int> read_size() const;
    // A long listing's screen output goes out on a thread of its own, a block at a time,
    // while the program goes on; flush() waits for it first, so bytes keep their order.
    // The thread starts with the first such block: a short run never has one.
    void hand_over();
    void write_blocks();
    // Large enough that handing blocks over costs little beside writing them (a wake-up of
    // the writer a block, which on a busy machine can cost as much as the write); small
    // enough that the two blocks in hand stay a small part of the program's memory.
    static constexpr std::size_t kBlock = std::size_t{1} << 20;

    bool tty_ = false;
    bool screen_ = false;  // standard output is a terminal
    int wake_fd_ = -1;     // readable after a resize
    bool raw_ = false;
    bool ended_ = false;
    bool utf8_locale_ = false;
    std::string charset_;  // the locale's; "" in the C locale, where bytes pass
    int code_page_ = 1250;
    termios saved_{};
    KeyDecoder decoder_;
    std::string out_;
    std::thread writer_;
    std::mutex writer_mutex_;
    std::condition_variable writer_cv_;
    std::string writing_;  // the block the writer thread has, while writer_busy_
    bool writer_busy_ = false, writer_stop_ = false;
    std::unique_ptr<Converter> to_screen_, from_keyboard_;
    std::pair<int, int> size_{80, 25};
    bool size_known_ = false;
    unsigned size_read_at_ = 0;  // size_changes() when size_ was read
};

}  // namespace rowkeep
