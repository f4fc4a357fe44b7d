#include "console/console.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

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
    advance(bytes, width, measure());
}

// One backward look for the last line end serves the kept line and the column alike.
void Console::advance(std::string_view bytes, int width, const TextMeasure& m) {
    std::size_t end = bytes.size();  // after the last CR or LF, 0 for none
    while (end > 0 && bytes[end - 1] != '\n' && bytes[end - 1] != '\r') --end;
    std::size_t lf = end;  // after the last LF
    while (lf > 0 && bytes[lf - 1] != '\n') --lf;
    if (lf > 0)
        line_.assign(bytes.substr(lf));
    else if (line_.size() < kLineKept)
        line_ += bytes.substr(0, kLineKept - line_.size());
    // The column counts screen columns: a character of several bytes, or a wide one, is
    // not counted by its bytes.
    const std::string_view rest = bytes.substr(end);
    const int columns = m.single_byte() ? static_cast<int>(rest.size()) : m.width(rest);
    column_ = end > 0 ? columns : column_ + columns;
    if (width > 0) column_ %= width;
}

namespace {

// True when one of the 8 bytes is a CR or an LF (the classic test for a zero byte, made
// on the bytes' differences from each).
inline bool holds_line_end(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    const std::uint64_t lf = word ^ (ones * '\n'), cr = word ^ (ones * '\r');
    return (((lf - ones) & ~lf) | ((cr - ones) & ~cr)) & highs;
}

// Copies bytes[0, n) to out and tells whether they may hold a CR or an LF; out has room
// for 8 bytes beyond n. A short piece (a number, a name, a cell) is copied and looked at
// in a word or two held in registers.
inline bool copy_piece(char* out, const char* bytes, std::size_t n) {
    if constexpr (std::endian::native != std::endian::little) {
        if (n > 0) std::memcpy(out, bytes, n);
        return n > 0;
    }
    if (n >= 8 && n <= 16) {
        std::uint64_t head, tail;
        std::memcpy(&head, bytes, 8);
        std::memcpy(&tail, bytes + n - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + n - 8, &tail, 8);
        return holds_line_end(head) || holds_line_end(tail);
    }
    if (n >= 4 && n < 8) {
        std::uint32_t head, tail;
        std::memcpy(&head, bytes, 4);
        std::memcpy(&tail, bytes + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
        return holds_line_end(head | static_cast<std::uint64_t>(tail) << 32);
    }
    if (n < 4) {
        bool found = false;
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = bytes[i];
            found |= bytes[i] == '\n' || bytes[i] == '\r';
        }
        return found;
    }
    std::memcpy(out, bytes, n);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, out + i, 8);
        if (holds_line_end(word)) return true;
    }
    if (i == n) return false;
    std::uint64_t word;  // the last bytes, and what lies after them in out masked off
    std::memcpy(&word, out + i, 8);
    return holds_line_end(word & (~0ULL >> (8 * (8 - (n - i)))));
}

constexpr char kBlanks[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                              ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
static_assert(kZoneWidth <= static_cast<int>(sizeof kBlanks));

}  // namespace

// The pieces are counted as advance() counts them, but the kept line is settled once, at
// the end, as piece by piece it would be: what follows the last LF (all of the piece that
// holds it), then the further pieces up to kLineKept bytes. The bytes are gathered in
// pieces_, kept large enough that a zone's blanks and a word's look at a piece's end
// never run past it; most pieces hold no line end, which a look at 8 bytes at a time tells.
std::size_t Console::lay_out(std::initializer_list<std::pair<std::string_view, Ending>> pieces,
                             int width, int& column, std::size_t& lf_after,
                             std::size_t& lf_piece_end) {
    const TextMeasure& m = measure();
    std::size_t need = 8;
    for (const auto& piece : pieces) need += piece.first.size() + sizeof kBlanks;
    if (pieces_.size() < need) pieces_.resize(std::max(need, 2 * pieces_.size()));
    char* const buffer = pieces_.data();
    std::size_t used = 0;
    lf_after = std::string::npos;
    lf_piece_end = 0;
    for (const auto& [text, ending] : pieces) {
        const std::size_t start = used;
        const std::size_t n = text.size();
        const bool line_end = copy_piece(buffer + start, text.data(), n);
        used += n;
        std::string_view rest = text;
        bool restarts = false;  // a CR or LF starts the column afresh
        if (line_end) {
            const char* data = text.data();
            const void* lf = memrchr(data, '\n', n);
            const void* cr = memrchr(data, '\r', n);
            const char* end = std::max(lf ? static_cast<const char*>(lf) + 1 : data,
                                       cr ? static_cast<const char*>(cr) + 1 : data);
            if (lf) {
                lf_after = start + idx(static_cast<const char*>(lf) + 1 - data);
                lf_piece_end = used;
            }
            restarts = end != data;
            rest = std::string_view(end, idx(data + n - end));
        }
        const int columns = m.single_byte() ? static_cast<int>(rest.size()) : m.width(rest);
        column = restarts ? columns : column + columns;
        if (width > 0 && column >= width) column %= width;
        if (ending == Ending::stay) continue;
        // As zone_ending gives it, without a string of its own.
        const int pad = ending == Ending::zone ? kZoneWidth - column % kZoneWidth : 0;
        if (ending == Ending::newline || column + pad + 1 > width - kZoneWidth) {
            buffer[used] = '\r';
            buffer[used + 1] = '\n';
            used += 2;
            lf_after = lf_piece_end = used;
            column = 0;
        } else {
            std::memcpy(buffer + used, kBlanks, sizeof kBlanks);
            used += idx(pad);
            column += pad;
            if (width > 0 && column >= width) column %= width;
        }
    }
    return used;
}

void Console::print_pieces(std::initializer_list<std::pair<std::string_view, Ending>> pieces) {
    int column = column_;
    std::size_t lf_after = 0, lf_piece_end = 0;
    const std::size_t used =
        lay_out(pieces, terminal_.size().first, column, lf_after, lf_piece_end);
    column_ = column;
    const std::string_view out(pieces_.data(), used);
    if (lf_after == std::string::npos) {
        if (line_.size() < kLineKept) line_ += out.substr(0, kLineKept - line_.size());
    } else {
        const std::size_t whole = lf_piece_end - lf_after;
        line_.assign(out.substr(lf_after, std::max(whole, std::min(used - lf_after, kLineKept))));
    }
    terminal_.write(out);
}

std::string Console::line_start(std::initializer_list<std::pair<std::string_view, Ending>> pieces) {
    int column = 0;
    std::size_t lf_after = 0, lf_piece_end = 0;
    const std::size_t used =
        lay_out(pieces, terminal_.size().first, column, lf_after, lf_piece_end);
    return std::string(pieces_.data(), used);
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
