#include "viewer/view_page.h"

#include <algorithm>
#include <string>

#include "console/console.h"
#include "console/index.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "viewer/cell_fit.h"

// How it works
// A page shows the rows from top_row on, as if the working file were read from its first
// row for every page. Instead of re-reading, the viewer keeps the byte offset of every
// sixteenth row (built when it counts row_count at entry, and again after a row move) and
// reads on from the one before top_row, so a page costs the same for a table of a
// thousand rows as for one of a million. Every row's offset took 8 bytes a row of memory
// that, fresh from the system, cost more than reading the file to count them.
//
// A top_row outside 1..row_count (go-to takes any number) is shown as reading from the
// start would show it: above row_count the page has no rows; below 1 the rows start at
// row 1 and the page is shortened by the rows before it (row r is shown while
// r - top_row < console_rows - 8). The keys then work from that top_row as usual.
//
// Eight screen lines are kept for the heading, the six lines of the status block and the
// line the cursor waits on. On a terminal narrower than the block's lines (the second
// key line is 91 characters) they wrap, and the page gives up as many rows as the block
// takes lines beyond its six, so the heading never scrolls off the top. Only when that
// leaves fewer than kMinRows rows are the block's lines cut at the right edge instead.

namespace rowkeep {

constexpr int kReservedLines = 8;  // the heading, the status block, the cursor's line
constexpr int kBlockLines = 6;
constexpr int kMinRows = 3;

// Counts the rows of the working file into row_count, records where each starts, and
// takes row 1 into column_names and column_list.
namespace {

void build_index(Session& s, TextReader& in, RowIndex& index) {
    index.starts.clear();
    s.row_count = 0;
    if (row_available(in, s.column_count)) {
        index.starts.add(in.tell());
        read_row(in, s.cells, s.column_count);
        for (int k = 1; k <= s.column_count; ++k) {
            const auto i = idx(k);
            s.column_names[i] = s.cells[i];
            s.column_list[i] = s.cells[i];
        }
        // Past the names row only where each row starts matters.
        in.index_rows(s.column_count, index.starts);
        s.row_count = clamp_rows(static_cast<long long>(index.starts.count()));
    }
    // The cells hold the last row afterwards, as reading every row leaves them.
    if (s.row_count > 1) {
        const std::uint64_t end = in.tell();
        in.seek(index.starts.last());
        read_row(in, s.cells, s.column_count);
        in.seek(end);
    }
}

}  // namespace

void open_working_file(Session& s, TextReader& in, RowIndex& index) {
    in.close();
    s.in_file_name = std::string(kWorkingFile);
    in.open(s.files, kWorkingFile);
    build_index(s, in, index);
}

namespace {

std::vector<std::string> status_block(const Session& s, const TextMeasure& m) {
    const int width = s.console_cols;
    std::vector<std::string> block;
    block.emplace_back(idx(std::max(width - 1, 0)), '-');
    std::string table = "table = " + s.table_name;
    int column = m.width(table);
    if (width > 0) column %= width;
    table += zone_ending(column, width);
    table += s.in_file_name + "  rows = " + number_text(s.row_count) +
             "  columns = " + number_text(s.column_count);
    block.push_back(std::move(table));
    block.emplace_back(
        "<1>right <2>left   <5>column_expand <6>end_expand   <->page_up <+>page_down");
    block.emplace_back(
        "<3>down  <4>up     <7>go_to         <8>print        <F/f>find  <S/s>sort    "
        "<Enter>/<9>exit");
    if (s.edit_mode == EditMode::none) {
        const long long t = s.top_row;
        block.push_back("<A/a>move_up(" + std::to_string(t) + " -> " + std::to_string(t - 1) + ")" +
                        "   <Y/y>move_down(" + std::to_string(t) + " -> " + std::to_string(t + 1) +
                        ")");
    }
    block.emplace_back(60, '-');
    return block;
}

// Each piece of the line between CR LFs cut to n characters.
std::string cut_pieces(const TextMeasure& m, std::string_view line, int n) {
    std::string out;
    for (;;) {
        const auto end = line.find("\r\n");
        out += cut_line(m, line.substr(0, end), n);
        if (end == std::string_view::npos) return out;
        out += "\r\n";
        line.remove_prefix(end + 2);
    }
}

int block_rows(const TextMeasure& m, const std::vector<std::string>& block, int console_rows,
               int width) {
    int taken = 0;
    for (const auto& line : block) taken += lines_taken(m, line, width);
    return console_rows - kReservedLines - std::max(taken - kBlockLines, 0);
}

}  // namespace

int lines_taken(const TextMeasure& m, std::string_view line, int width) {
    int lines = 0;
    for (;;) {
        const auto end = line.find("\r\n");
        const int length = m.width(line.substr(0, end));
        lines += width > 0 ? std::max((length + width - 1) / width, 1) : 1;
        if (end == std::string_view::npos) return lines;
        line.remove_prefix(end + 2);
    }
}

PageLayout page_layout(const Session& s) {
    const TextMeasure& m = s.console.measure();
    PageLayout layout{status_block(s, m), s.console_rows - kReservedLines};
    // Where the output is a stream of lines nothing wraps: the page is as it always was.
    if (!s.console.terminal().wraps() || s.console_cols <= 0) return layout;
    const int wrapped = block_rows(m, layout.block, s.console_rows, s.console_cols);
    if (wrapped == layout.rows || wrapped >= kMinRows) {
        layout.rows = wrapped;
        return layout;
    }
    for (auto& line : layout.block) line = cut_pieces(m, line, s.console_cols - 1);
    layout.rows = block_rows(m, layout.block, s.console_rows, s.console_cols);
    return layout;
}

int page_step(const Session& s) {
    return page_layout(s).rows - 1;
}

PageLayout show_page(Session& s, TextReader& in, const RowIndex& index, bool row_moved) {
    Console& con = s.console;
    PageLayout layout = page_layout(s);
    s.shell.run_command("cls");
    const int line_width = s.console_cols - 1;
    const TextMeasure& m = con.measure();

    GridLine heading(m, "", s.row_label_width);
    for (int k = s.first_col; k <= s.column_count; ++k) {
        const auto i = idx(k);
        s.col_widths[i] = s.col_width;
        s.col_headings[i] = column_heading(k, s.column_names[i]);
        heading.cell(s.col_headings[i], s.col_widths[i], Align::left);
    }
    con.print_text(heading.cut(line_width));

    // In 64 bits: top_row may be any row number go-to took, down to -kMaxRows.
    const long long page_rows = layout.rows;
    long long row = std::max(s.top_row, 1);
    if (row <= s.row_count) {
        const auto before = static_cast<std::uint64_t>(row - 1);
        const std::uint64_t stride = index.starts.stride();
        in.seek(index.starts.kept()[before / stride]);
        in.skip_rows(s.column_count, before % stride);
    }
    for (; row <= s.row_count && row - s.top_row < page_rows; ++row) {
        std::string number = std::to_string(row);
        if (row_moved && row == s.top_row) number = "*" + number;
        GridLine line(m, number, s.row_label_width);
        read_row(in, s.cells, s.column_count);
        for (int k = s.first_col; k <= s.column_count; ++k) {
            const auto i = idx(k);
            line.cell(s.cells[i], s.col_widths[i]);
        }
        con.print_text(line.cut(line_width));
    }

    for (const auto& line : layout.block) con.print_text(line);
    return layout;
}

}  // namespace rowkeep
