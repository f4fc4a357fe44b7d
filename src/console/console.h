// The console conventions: text and numbers with their endings, print zones, key polling
// with type-ahead, prompts, the line entry and the any-key waits.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "console/print_zones.h"
#include "console/terminal.h"
#include "console/text_measure.h"

namespace rowkeep {

class Console {
  public:
    explicit Console(Terminal& terminal) : terminal_(terminal) {}

    void print_text(std::string_view text, Ending ending = Ending::newline);
    void print_number(long long n, Ending ending = Ending::newline);
    void print_newline() { print_text("", Ending::newline); }
    // The pieces printed one after another, each with its ending, as print_text prints
    // them, handed to the terminal at once: a long listing makes many short lines.
    void print_pieces(std::initializer_list<std::pair<std::string_view, Ending>> pieces);
    // The bytes print_pieces would write for the pieces at a line's start, not written: a
    // long listing whose lines begin alike lays that beginning out once, and hands over
    // whole lines (print_text with Ending::stay) a block at a time.
    std::string line_start(std::initializer_list<std::pair<std::string_view, Ending>> pieces);

    // The next key of the type-ahead, or "" when none is waiting; never waits.
    std::string poll_key();
    // Sleeps until a key comes. At the end of the input the program ends.
    std::string wait_key();
    // As wait_key, but "" when the console's size has changed since size_changes() gave
    // drawn_at and no key is waiting: a page drawn for the old size is to be drawn again.
    std::string wait_key_or_resize(unsigned drawn_at);
    unsigned size_changes() const { return terminal_.size_changes(); }
    // Polls until any key arrives and discards it.
    void wait_any_key() { wait_key(); }

    std::string prompt_input(std::string_view prompt);
    std::int32_t prompt_integer(std::string_view prompt);
    // The whole typed line: commas, quotes and blanks kept.
    std::string line_input();

    std::pair<int, int> console_size() { return terminal_.size(); }
    // What "cls" does: screen empty, output at the top-left corner.
    void clear();

    Terminal& terminal() { return terminal_; }
    int column() const { return column_; }
    // Characters and screen columns in the console's active code page.
    const TextMeasure& measure();

  private:
    std::string read_typed_line();
    void write_out(std::string_view bytes);
    void advance(std::string_view bytes, int width);
    void advance(std::string_view bytes, int width, const TextMeasure& m);
    // The pieces' bytes into pieces_ (their count returned), from the column given, which
    // it leaves after them; where the kept line starts (after the last LF, npos for none)
    // and where the piece that holds that LF ends.
    std::size_t lay_out(std::initializer_list<std::pair<std::string_view, Ending>> pieces,
                        int width, int& column, std::size_t& lf_after, std::size_t& lf_piece_end);
    void take_arrived(int timeout_ms);
    std::string take_from_ring();

    static constexpr std::size_t kTypeAhead = 512;
    Terminal& terminal_;
    int column_ = 0;
    // What the screen line shows before the cursor (a prompt): a line entry redrawn after
    // a resize starts with it again. Cut at kLineKept bytes; empty after a line end.
    std::string line_;
    static constexpr std::size_t kLineKept = 1024;
    std::deque<std::string> ring_;   // keys as the terminal gave them, not yet converted
    std::deque<std::string> taken_;  // the further bytes of a character taken into bytes
    bool input_ended_ = false;
    int measured_page_ = 0;
    std::unique_ptr<TextMeasure> measure_;
    std::string pieces_;  // print_pieces' bytes, kept for its next call
};

}  // namespace rowkeep
