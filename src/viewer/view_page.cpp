#include "viewer/view_page.h"

#include <algorithm>
#include <string>

#include "console/console.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "viewer/cell_fit.h"

// How it works
// A page shows the rows from top_row on, as if the working file were read from its first
// row for every page. Instead of re-reading, the viewer keeps the byte offset of every
// row (built when it counts row_count at entry, and again after a row move), so a page
// costs the same for a table of a thousand rows as for one of a million.
//
// A top_row outside 1..row_count (go-to takes any number) is shown as reading from the
// start would show it: above row_count the page has no rows; below 1 the rows start at
// row 1 and the page is shortened by the rows before it (row r is shown while
// r - top_row < console_rows - 8). The keys then work from that top_row as usual.

namespace rowkeep {

constexpr int kReservedLines = 8;  // the heading and the status block

// Counts the rows of the working file into row_count, records where each starts, and
// takes row 1 into column_names and column_list.
namespace {

void build_index(Session& s, TextReader& in, RowIndex& index) {
    index.offsets.clear();
    s.row_count = 0;
    while (row_available(in, s.column_count)) {
        index.offsets.push_back(in.tell());
        read_row(in, s.cells, s.column_count);
        ++s.row_count;
        if (s.row_count == 1) {
            for (int k = 1; k <= s.column_count; ++k) {
                const auto i = static_cast<std::size_t>(k);
                s.column_names[i] = s.cells[i];
                s.column_list[i] = s.cells[i];
            }
        }
    }
}

}  // namespace

void open_working_file(Session& s, TextReader& in, RowIndex& index) {
    in.close();
    s.in_file_name = std::string(kWorkingFile);
    in.open(s.files, kWorkingFile);
    build_index(s, in, index);
}

void show_page(Session& s, TextReader& in, const RowIndex& index, bool row_moved) {
    Console& con = s.console;
    s.shell.run_command("cls");
    const int line_width = s.console_cols - 1;
    const TextMeasure& m = con.measure();

    std::string heading(static_cast<std::size_t>(std::max(s.row_label_width, 0)), ' ');
    heading += "|";
    for (int k = s.first_col; k <= s.column_count; ++k) {
        const auto i = static_cast<std::size_t>(k);
        s.col_widths[i] = s.col_width;
        s.col_headings[i] = column_heading(k, s.column_names[i]);
        heading += fit_cell(m, s.col_headings[i], s.col_widths[i], Align::left);
        heading += "|";
    }
    con.print_text(cut_line(m, heading, line_width));

    // In 64 bits: top_row may be any row number go-to took, down to -kMaxRows.
    const long long page_rows = s.console_rows - static_cast<long long>(kReservedLines);
    long long row = std::max(s.top_row, 1);
    if (row <= s.row_count) in.seek(index.offsets[static_cast<std::size_t>(row - 1)]);
    for (; row <= s.row_count && row - s.top_row < page_rows; ++row) {
        std::string number = std::to_string(row);
        if (row_moved && row == s.top_row) number = "*" + number;
        std::string line = right_align(number, s.row_label_width) + "|";
        read_row(in, s.cells, s.column_count);
        for (int k = s.first_col; k <= s.column_count; ++k) {
            const auto i = static_cast<std::size_t>(k);
            s.cell_text[i] = fit_cell(m, s.cells[i], s.col_widths[i]);
            line += s.cell_text[i];
            line += "|";
        }
        con.print_text(cut_line(m, line, line_width));
    }

    con.print_text(std::string(static_cast<std::size_t>(std::max(line_width, 0)), '-'));
    con.print_text("table = " + s.table_name, Ending::zone);
    con.print_text(s.in_file_name, Ending::stay);
    con.print_text("  rows = ", Ending::stay);
    con.print_number(s.row_count, Ending::stay);
    con.print_text("  columns = ", Ending::stay);
    con.print_number(s.column_count);
    con.print_text("<1>right <2>left   <5>column_expand <6>end_expand   <->page_up <+>page_down");
    con.print_text(
        "<3>down  <4>up     <7>go_to         <8>print        <F/f>find  <S/s>sort    "
        "<Enter>/<9>exit");
    if (s.edit_mode.empty()) {
        const long long t = s.top_row;
        con.print_text("<A/a>move_up(" + std::to_string(t) + " -> " + std::to_string(t - 1) + ")" +
                       "   <Y/y>move_down(" + std::to_string(t) + " -> " + std::to_string(t + 1) +
                       ")");
    }
    con.print_text(std::string(60, '-'));
}

}  // namespace rowkeep
