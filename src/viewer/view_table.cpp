#include "viewer/view_table.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/index.h"
#include "console/keys.h"
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
                    const auto i = idx(k);
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

// The keys a terminal user reaches for first, as the digit keys they stand for: the arrows
// move as "1" to "4", PgDn and PgUp page as "+" and "-".
std::string as_viewer_key(std::string key) {
    constexpr std::pair<unsigned char, const char*> kKeys[] = {
        {kScanDown, "3"}, {kScanUp, "4"},   {kScanRight, "1"},
        {kScanLeft, "2"}, {kScanPgDn, "+"}, {kScanPgUp, "-"},
    };
    for (const auto& [scan, digit] : kKeys)
        if (is_extended(key, scan)) return digit;
    return key;
}

// Opens the working file and counts its rows. False when it could not be read: the
// screen has said so, and row_count is as it was (a count of 0 would let a save write
// an empty table).
bool read_working_file(Session& s, TextReader& in, RowIndex& index) {
    const long before = s.faults.failures();
    const int rows = s.row_count;
    open_working_file(s, in, index);
    if (!in.is_open() && s.faults.failures() == before) working_file_missing(s);
    if (s.faults.failures() == before) return true;
    in.close();
    s.row_count = rows;
    report_working_file_unread(s);
    return false;
}

void read_console_size(Session& s) {
    auto [cols, rows] = s.console.console_size();
    s.console_cols = cols;
    s.console_rows = rows;
}

// "1" to "4", "+" and "-": a column or row step, or a page of step rows. False for any
// other key. Moves are summed in 64 bits: go-to leaves any row number up to kMaxRows.
bool page_move(Session& s, const std::string& key, long long step) {
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
        if (s.row_count > 0) s.top_row = clamp_rows(std::min<long long>(top + step, s.row_count));
    } else if (key == "-") {
        s.top_row = clamp_rows(std::max(top - step, 1LL));
    } else {
        return false;
    }
    return true;
}

// The working file after a row swap, read again from the first column. False when it
// could not be read (the screen has said so).
bool reread_after_swap(Session& s, TextReader& in, RowIndex& index) {
    in.close();
    swap_rows(s);
    s.first_col = 1;
    return read_working_file(s, in, index);
}

// "A": the row at the top moves up past the one above it (never above the names row).
bool move_row_up(Session& s, TextReader& in, RowIndex& index) {
    s.edit_row = clamp_rows(s.top_row - 1LL);
    s.top_row = s.edit_row;
    if (s.top_row < 2) {
        s.top_row = 2;
        return true;
    }
    return reread_after_swap(s, in, index);
}

// "Y": the row at the top moves down past the one below it (the names row stays).
bool move_row_down(Session& s, TextReader& in, RowIndex& index) {
    const long long top = s.top_row;
    s.edit_row = s.top_row;
    if (top + 1 > s.row_count) {
        s.top_row = s.row_count;
    } else if (s.edit_row == 1) {
        s.top_row = 1;
    } else {
        s.top_row = clamp_rows(top + 1);
        return reread_after_swap(s, in, index);
    }
    return true;
}

}  // namespace

void view_table(Session& s, int from_row) {
    s.top_row = from_row;
    read_console_size(s);
    s.size_arrays();
    s.shell.run_command("cls");

    TextReader in;
    RowIndex index;
    if (!read_working_file(s, in, index)) return;
    if (s.top_row < 1 || s.top_row > s.row_count) s.top_row = 1;
    int saved_first_col = s.first_col;
    s.first_col = 1;

    bool row_moved = false;
    for (;;) {
        // A resize while the page waits draws it again at once, at the new size.
        const unsigned drawn_at = s.console.size_changes();
        read_console_size(s);
        const long long step = show_page(s, in, index, row_moved).rows - 1LL;
        const std::string key = as_viewer_key(s.console.wait_key_or_resize(drawn_at));
        if (key.empty()) continue;  // the row-moved mark stays for the redrawn page
        row_moved = false;
        if (page_move(s, key, step)) continue;
        if (key == "5") {
            s.col_width += 2;
            std::fill(s.col_widths.begin(), s.col_widths.end(), s.col_width);
        } else if (key == "6") {
            s.col_width = s.default_col_width;
            std::fill(s.col_widths.begin(), s.col_widths.end(), s.col_width);
        } else if (key == "7") {
            go_to_row(s);
        } else if ((key == "F" || key == "f") && s.edit_mode == EditMode::none) {
            find_text(s);
        } else if (key == "8") {
            print_listing(s, saved_first_col);
        } else if (key == "S" || key == "s") {
            sort_setup(s, saved_first_col);
            break;  // no sort column chosen: leave as on "9"
        } else if ((key == "A" || key == "a") && s.edit_mode == EditMode::none) {
            row_moved = true;
            if (!move_row_up(s, in, index)) break;
        } else if ((key == "Y" || key == "y") && s.edit_mode == EditMode::none) {
            row_moved = true;
            if (!move_row_down(s, in, index)) break;
        } else if (key == "9" || key == "\r") {
            break;
        }
    }
    in.close();
    s.first_col = saved_first_col;
}

}  // namespace rowkeep
