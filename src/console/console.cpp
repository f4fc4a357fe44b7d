#include "console/console.h"

#include "console/escapes.h"
#include "console/index.h"
#include "console/keys.h"
#include "console/line_editor.h"
#include "console/program_end.h"
#include "console/tokens.h"

namespace rowkeep {

const TextMeasure& Console::measure() {
    const int page = terminal_.code_page();
    if (!measure_ || page != measured_page_) {
        measure_ = std::make_unique<TextMeasure>(page);
        measured_page_ = page;
    }
    return *measure_;
}

void Console::write_out(std::string_view bytes) {
    terminal_.write(bytes);
    advance(bytes, terminal_.size().first);
}

void Console::advance(std::string_view bytes, int width) {
    if (auto end = bytes.find_last_of('\n'); end != std::string_view::npos)
        line_.assign(bytes.substr(end + 1));
    else if (line_.size() < kLineKept)
        line_ += bytes.substr(0, kLineKept - line_.size());
    // The column counts screen columns: a character of several bytes, or a wide one, is
    // not counted by its bytes.
    const TextMeasure& m = measure();
    if (m.single_byte()) {
        column_ = advance_column(column_, bytes);
    } else {
        auto last = bytes.find_last_of("\r\n");
        column_ = last == std::string_view::npos ? column_ + m.width(bytes)
                                                 : m.width(bytes.substr(last + 1));
    }
    if (width > 0) column_ %= width;
}

void Console::print_pieces(std::initializer_list<std::pair<std::string_view, Ending>> pieces) {
    const int width = terminal_.size().first;
    pieces_.clear();
    for (const auto& [text, ending] : pieces) {
        pieces_ += text;
        advance(text, width);
        if (ending == Ending::newline) {
            pieces_ += "\r\n";
            advance("\r\n", width);
        } else if (ending == Ending::zone) {
            const std::string pad = zone_ending(column_, width);
            pieces_ += pad;
            advance(pad, width);
        }
    }
    terminal_.write(pieces_);
}

void Console::print_text(std::string_view text, Ending ending) {
    write_out(text);
    switch (ending) {
        case Ending::newline:
            write_out("\r\n");
            break;
        case Ending::stay:
            break;
        case Ending::zone:
            write_out(zone_ending(column_, terminal_.size().first));
            break;
    }
}

void Console::print_number(long long n, Ending ending) {
    print_text(number_text(n), ending);
}

void Console::clear() {
    terminal_.write(kClearScreen);
    column_ = 0;
    line_.clear();
}

void Console::take_arrived(int timeout_ms) {
    if (input_ended_) return;
    std::deque<std::string> arrived;
    if (!terminal_.read_keys(timeout_ms, arrived)) input_ended_ = true;
    // A keyboard typing ahead of a busy program loses what does not fit in the ring, as a
    // console does; keys from a script or a pipe are never dropped.
    const bool keyboard = terminal_.interactive();
    for (auto& key : arrived)
        if (!keyboard || ring_.size() < kTypeAhead) ring_.push_back(std::move(key));
}

// A key is converted into the code page when it is taken, not when it arrives, so that
// keys typed ahead of a code page change go in under the page active when they are used.
// A character that becomes several bytes is taken as that many one-byte keys.
std::string Console::take_from_ring() {
    if (!taken_.empty()) {
        std::string key = std::move(taken_.front());
        taken_.pop_front();
        return key;
    }
    std::string key = terminal_.key_in_code_page(std::move(ring_.front()));
    ring_.pop_front();
    const bool extended = key.size() == 2 && static_cast<unsigned char>(key[0]) == 255;
    if (key.size() <= 1 || extended) return key;
    for (std::size_t i = 1; i < key.size(); ++i) taken_.emplace_back(1, key[i]);
    return std::string(1, key[0]);
}

std::string Console::poll_key() {
    if (taken_.empty() && ring_.empty()) take_arrived(0);
    if (taken_.empty() && ring_.empty()) return "";
    return take_from_ring();
}

std::string Console::wait_key() {
    while (taken_.empty() && ring_.empty()) {
        if (input_ended_) {
            terminal_.flush();
            throw ProgramEnd{true};
        }
        take_arrived(-1);
    }
    return take_from_ring();
}

std::string Console::wait_key_or_resize(unsigned drawn_at) {
    while (taken_.empty() && ring_.empty()) {
        if (terminal_.size_changes() != drawn_at) return "";
        if (input_ended_) {
            terminal_.flush();
            throw ProgramEnd{true};
        }
        take_arrived(-1);
    }
    return take_from_ring();
}

namespace {

// The cursor moves from one place of the typed text to another, the text starting at
// column start of a screen width wide. A text longer than the line wraps onto the next
// rows, and a sideways move cannot leave its row, so the move goes up or down first.
std::string move_in_typed_text(std::size_t start, std::size_t from, std::size_t to,
                               std::size_t width) {
    const std::size_t from_row = (start + from) / width, to_row = (start + to) / width;
    const std::size_t column = (start + to) % width;
    std::string out;
    if (from_row > to_row) out += cursor_up(from_row - to_row);
    if (to_row > from_row) out += cursor_down(to_row - from_row);
    out += "\r";
    if (column > 0) out += cursor_right(column);
    return out;
}

// Where the typed text stands on the screen, as the line entry last drew it.
struct TypedLineView {
    std::size_t line_width = 80;     // the screen's columns
    std::size_t start = 0;           // the column the typed text starts at
    std::size_t prompt_columns = 0;  // what the prompt before it takes
    std::size_t shown_length = 0, shown_cursor = 0;
};

// After a resize: a line that stayed on one row of the screen and still fits is written
// again where it is; any other starts afresh on the next row with the prompt, since the
// terminal may have moved its wrapped rows.
std::string restart_after_resize(TypedLineView& view, LineEditor& editor, int width,
                                 const std::string& prompt) {
    const bool one_row =
        view.start == view.prompt_columns && view.start + view.shown_length < view.line_width;
    view.line_width = idx(width > 0 ? width : 80);
    editor.set_width(width);
    const auto columns = idx(editor.text_columns());
    const bool fits = view.prompt_columns + columns < view.line_width;
    std::string out = one_row && fits ? "\r" : "\r\n";
    out += prompt;
    view.start = view.prompt_columns % view.line_width;
    view.shown_cursor = 0;
    view.shown_length = columns + 1;  // erase what is left after the text
    return out;
}

// The typed text written after out, which has brought the cursor to its start; the rest
// of what was shown erased and the cursor put in its place.
std::string draw_typed_text(TypedLineView& view, const LineEditor& editor, std::string out) {
    const std::string& text = editor.text();
    out += text;
    // Ending on the right edge, the terminal waits to wrap; make it wrap now, so that the
    // cursor stands where the moves count it.
    const auto columns = idx(editor.text_columns());
    const auto cursor = idx(editor.cursor_column());
    if (!text.empty() && (view.start + columns) % view.line_width == 0) out += "\r\n";
    if (view.shown_length > columns) out += kEraseBelow;
    if (cursor < columns) out += move_in_typed_text(view.start, columns, cursor, view.line_width);
    view.shown_length = columns;
    view.shown_cursor = cursor;
    return out;
}

}  // namespace

std::string Console::read_typed_line() {
    int width = terminal_.size().first;
    LineEditor editor(width, terminal_.code_page());
    const bool live = terminal_.interactive();
    TypedLineView view;
    view.line_width = idx(width > 0 ? width : 80);
    view.start = idx(column_) % view.line_width;
    // The prompt before the typed text, shown again when a resize redraws the line.
    const std::string prompt = line_;
    view.prompt_columns = idx(measure().width(prompt));
    unsigned drawn_at = terminal_.size_changes();
    for (;;) {
        std::string key = live ? wait_key_or_resize(drawn_at) : wait_key();
        std::string out;
        if (key.empty()) {
            drawn_at = terminal_.size_changes();
            width = terminal_.size().first;
            out = restart_after_resize(view, editor, width, prompt);
        } else {
            bool beep = false;
            if (editor.apply(key, beep)) break;
            if (beep && live) terminal_.write(kBell);
            if (!live) continue;
            // Redraw the typed text in place: back to its start, the text, erase the rest.
            if (view.shown_cursor > 0)
                out = move_in_typed_text(view.start, view.shown_cursor, 0, view.line_width);
        }
        terminal_.write(draw_typed_text(view, editor, std::move(out)));
    }
    if (live) {
        const auto length = idx(editor.text_columns());
        const auto cursor = idx(editor.cursor_column());
        if (cursor < length)
            terminal_.write(move_in_typed_text(view.start, cursor, length, view.line_width));
        column_ = static_cast<int>(view.start + length);
        if (width > 0) column_ %= width;
    } else {
        // Without live echo the line is shown once, as it was entered.
        write_out(editor.text());
    }
    write_out("\r\n");
    return editor.text();
}

std::string Console::prompt_input(std::string_view prompt) {
    print_text(prompt, Ending::stay);
    print_text("? ", Ending::stay);
    return text_token(measure(), read_typed_line());
}

std::int32_t Console::prompt_integer(std::string_view prompt) {
    print_text(prompt, Ending::stay);
    print_text("? ", Ending::stay);
    return integer_token(read_typed_line());
}

std::string Console::line_input() {
    return read_typed_line();
}

}  // namespace rowkeep
