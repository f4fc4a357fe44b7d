// The terminal under the console: the real one (raw mode, restore, size, code page
// conversion) and a scripted one for tests.
#pragma once

#include <termios.h>

#include <deque>
#include <memory>
#include <string>
#include <string_view>
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
    virtual std::pair<int, int> size() = 0;  // columns, rows
    // The active console code page; false (and no change) for a page the console lacks.
    virtual bool set_code_page(int code_page) = 0;
    virtual int code_page() const = 0;
    // True when the typed line is echoed as it is edited (a real terminal).
    virtual bool interactive() const = 0;
    // True when text is converted between the code page and UTF-8 on its way.
    virtual bool converts() const = 0;
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
    bool set_code_page(int code_page) override;
    int code_page() const override { return code_page_; }
    bool interactive() const override { return false; }
    bool converts() const override { return false; }

    const std::string& output() const { return output_; }
    std::string& output() { return output_; }
    // Keys still waiting to be read: more can be added while a test runs.
    void add_keys(std::string_view keys);

  private:
    KeyDecoder decoder_;
    std::deque<std::string> ready_;
    std::string output_;
    int cols_, rows_;
    int code_page_ = 1250;
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
    bool set_code_page(int code_page) override;
    int code_page() const override { return code_page_; }
    bool interactive() const override { return tty_; }
    bool converts() const override { return utf8_locale_; }
    void suspend() override;
    void resume() override;

  private:
    void enter_raw();
    void restore();
    void feed_input(std::string_view bytes);

    bool tty_ = false;
    bool raw_ = false;
    bool ended_ = false;
    bool utf8_locale_ = false;
    int code_page_ = 1250;
    termios saved_{};
    KeyDecoder decoder_;
    std::string out_;
    std::unique_ptr<Converter> to_screen_, from_keyboard_;
};

}  // namespace rowkeep
