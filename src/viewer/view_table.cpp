#include "viewer/view_table.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "viewer/find_goto.h"
#include "viewer/print_listing.h"
#include "viewer/sort_setup.h"
#include "viewer/view_page.h"

// A top_row that go-to leaves outside 1..row_count is shown as reading the working file
// from its start shows it (see view_page.cpp): above row_count a page without rows; below
// 1 the rows from row 1, the page shortened by the rows before it. Entry resets it to 1.

namespace rowkeep {

namespace {

// Swaps row edit_row with the row after it through f_16_1.txt. A row without a row after
// it stays where it is: the swap never invents an empty row at the end of the table.
void swap_rows(Session& s) {
    rewrite_working_file(s, [&s](TextReader& in, TextWriter& out) {
        int count = 0;
        while (row_available(in, s.column_count)) {
            read_row(in, s.cells, s.column_count);
            ++count;
            if (count == s.edit_row && row_available(in, s.column_count)) {
                for (int k = 1; k <= s.column_count; ++k) {
                    const auto i = static_cast<std::size_t>(k);
                    s.saved_cells[i] = s.cells[i];
                }
                read_row(in, s.cells, s.column_count);
                ++count;
                write_row(out, s.cells, s.column_count);
                write_row(out, s.saved_cells, s.column_count);
            } else {
                write_row(out, s.cells, s.column_count);
            }
        }
    });
}

}  // namespace

void view_table(Session& s) {
    auto [cols, rows] = s.console.console_size();
    s.console_cols = cols;
    s.console_rows = rows;
    s.size_arrays();
    s.shell.run_command("cls");

    TextReader in;
    RowIndex index;
    open_working_file(s, in, index);
    if (s.top_row < 1 || s.top_row > s.row_count) s.top_row = 1;
    int saved_first_col = s.first_col;
    s.first_col = 1;

    // Row moves are summed in 64 bits: go-to leaves any row number up to kMaxRows.
    const long long step = s.console_rows - 9LL;
    bool row_moved = false;
    for (;;) {
        show_page(s, in, index, row_moved);
        row_moved = false;
        const std::string key = s.console.wait_key();
        const long long top = s.top_row;
        if (key == "1") {
            s.first_col = std::min(s.first_col + 1, std::max(s.column_count, 1));
        } else if (key == "2") {
            s.first_col = std::max(s.first_col - 1, 1);
        } else if (key == "3") {
            if (s.row_count > 0) s.top_row = clamp_rows(std::min<long long>(top + 1, s.row_count));
        } else if (key == "4") {
            s.top_row = clamp_rows(std::max(top - 1, 1LL));
        } else if (key == "+") {
            if (s.row_count > 0)
                s.top_row = clamp_rows(std::min<long long>(top + step, s.row_count));
        } else if (key == "-") {
            s.top_row = clamp_rows(std::max(top - step, 1LL));
        } else if (key == "5") {
            s.col_width += 2;
            std::fill(s.col_widths.begin(), s.col_widths.end(), s.col_width);
        } else if (key == "6") {
            s.col_width = s.default_col_width;
            std::fill(s.col_widths.begin(), s.col_widths.end(), s.col_width);
        } else if (key == "7") {
            go_to_row(s);
        } else if ((key == "F" || key == "f") && s.edit_mode.empty()) {
            find_text(s);
        } else if (key == "8") {
            print_listing(s, saved_first_col);
        } else if (key == "S" || key == "s") {
            sort_setup(s, saved_first_col);
            break;  // no sort column chosen: leave as on "9"
        } else if ((key == "A" || key == "a") && s.edit_mode.empty()) {
            row_moved = true;
            s.edit_row = clamp_rows(top - 1);
            s.top_row = s.edit_row;
            if (s.top_row < 2) {
                s.top_row = 2;
            } else {
                in.close();
                swap_rows(s);
                s.first_col = 1;
                open_working_file(s, in, index);
            }
        } else if ((key == "Y" || key == "y") && s.edit_mode.empty()) {
            row_moved = true;
            s.edit_row = s.top_row;
            if (top + 1 > s.row_count) {
                s.top_row = s.row_count;
            } else if (s.edit_row == 1) {
                s.top_row = 1;
            } else {
                s.top_row = clamp_rows(top + 1);
                in.close();
                swap_rows(s);
                s.first_col = 1;
                open_working_file(s, in, index);
            }
        } else if (key == "9" || key == "\r") {
            break;
        }
    }
    in.close();
    s.first_col = saved_first_col;
}

}  // namespace rowkeep
