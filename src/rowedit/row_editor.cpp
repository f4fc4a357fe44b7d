#include "rowedit/row_editor.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "console/index.h"
#include "console/menu.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "viewer/cell_fit.h"
#include "viewer/view_table.h"

namespace rowkeep {

namespace {

constexpr std::string_view kRowFile = "f_16_3.txt";
constexpr std::string_view kMergedFile = "f_16_4.txt";
constexpr std::string_view kCellFile = "cell.edit.txt";
constexpr std::string_view kCopyToBuffer = "copy /y f_15_1.txt f_16_1.txt > out_null.txt";
constexpr std::string_view kCopyMerged = "copy /y f_16_4.txt f_15_1.txt > out_null.txt";

std::size_t at(int k) {
    return idx(k);
}

// ";" separates cells and a double quote would break the record files.
std::string clean_cell(std::string text) {
    for (char& ch : text) {
        if (ch == '"')
            ch = '\'';
        else if (ch == ';')
            ch = ',';
    }
    return text;
}

void print_heading_line(Session& s, int c) {
    GridLine line(s.console.measure(), "", s.row_label_width);
    for (int i = c; i <= s.column_count; ++i)
        line.cell(s.col_headings[at(i)], s.col_widths[at(i)], Align::left);
    s.console.print_text(line.cut(s.console_cols - 1));
}

// The row from column c on; with show_saved an empty cell shows the value it had.
void print_row_line(Session& s, int c, bool show_saved) {
    GridLine line(s.console.measure(), std::to_string(s.edit_row), s.row_label_width);
    for (int i = c; i <= s.column_count; ++i) {
        const std::string& cell =
            show_saved && s.cells[at(i)].empty() ? s.saved_cells[at(i)] : s.cells[at(i)];
        line.cell(cell, s.col_widths[at(i)], Align::left);
    }
    s.console.print_text(line.cut(s.console_cols - 1));
}

// cells as one quoted record in f_16_3.txt.
void write_edited_row(Session& s) {
    TextWriter out(s.files, kRowFile);
    for (int k = 1; k <= s.column_count; ++k) out.write_value(s.cells[at(k)], k == s.column_count);
}

// f_16_1.txt with row edit_row taken from f_16_3.txt, into f_16_4.txt.
void merge_row(Session& s) {
    TextReader in(s.files, kRewriteFile);
    TextReader edited(s.files, kRowFile);
    TextWriter out(s.files, kMergedFile);
    int count = 0;
    while (row_available(in, s.column_count)) {
        read_row(in, s.cells, s.column_count);
        ++count;
        if (count == s.edit_row) read_row(edited, s.cells, s.column_count);
        write_row(out, s.cells, s.column_count);
    }
}

// Puts cells into the working file as row edit_row. False when a step failed: the
// working file is then as it was, and the screen has said so.
bool write_back(Session& s) {
    const long before = s.faults.failures();
    s.shell.run_command(kCopyToBuffer);
    if (s.faults.failures() == before) write_edited_row(s);
    if (s.faults.failures() == before) merge_row(s);
    // Only a whole merged file goes over the working file.
    if (s.faults.failures() == before && copy_over_working_file(s, kCopyMerged)) return true;
    report_working_file_failure(s);
    return false;
}

void intermediate_view(Session& s) {
    // The merge and the viewer use cells; the row being edited comes back into them.
    const std::vector<std::string> row = s.cells;
    const bool written = write_back(s);
    view_table(s, s.edit_row);
    const long before = s.faults.failures();
    if (written) {
        TextReader edited(s.files, kRowFile);
        read_row(edited, s.cells, s.column_count);
    }
    // The row typed so far is never lost to a file that could not be read back.
    if (!written || s.faults.failures() != before) s.cells = row;
    if (written && s.faults.failures() != before) report_working_file_unread(s);
}

// The cell in the text editor; its lines come back joined.
void edit_with_notepad(Session& s, int c) {
    s.console.print_text(kRule);
    // The cell keeps its text unless the editor's file went there and back whole.
    const long before = s.faults.failures();
    {
        TextWriter out(s.files, kCellFile);
        out.print_text(s.cells[at(c)]);
    }
    if (s.faults.failures() != before) {
        report_working_file_failure(s);
        return;
    }
    s.shell.run_command("notepad.exe cell.edit.txt");
    TextReader in(s.files, kCellFile);
    std::string joined;
    while (!in.at_end()) joined += in.read_line();
    if (s.faults.failures() != before) {
        report_working_file_unread(s);
        return;
    }
    s.cells[at(c)] = clean_cell(std::move(joined));
}

// Copies the working file aside and reads the names row and the row to edit into cells
// (saved_cells keeps it). False when either failed: the screen has said so, and a row
// that could not be read, or a disk too full for the copy, would only lose the edits
// typed, so nothing is asked then.
bool read_edited_row(Session& s) {
    const long before = s.faults.failures();
    s.shell.run_command(kCopyToBuffer);
    if (s.faults.failures() != before) {
        report_working_file_failure(s);
        return false;
    }
    s.shell.run_command("cls");
    {
        s.in_file_name = std::string(kWorkingFile);
        TextReader in(s.files, kWorkingFile);
        if (!in.is_open() && s.faults.failures() == before) working_file_missing(s);
        int record = 0;
        while (row_available(in, s.column_count)) {
            read_row(in, s.cells, s.column_count);
            ++record;
            if (record == 1)
                for (int k = 1; k <= s.column_count; ++k) s.column_names[at(k)] = s.cells[at(k)];
            if (record == s.edit_row) {
                for (int k = 1; k <= s.column_count; ++k) s.saved_cells[at(k)] = s.cells[at(k)];
                break;
            }
        }
    }
    if (s.faults.failures() != before) {
        report_working_file_unread(s);
        return false;
    }
    return true;
}

// The row from column c on, as the cell menu shows it above its block: an empty answer
// shows the value the cell had.
void show_answered_row(Session& s, int c) {
    s.shell.run_command("cls");
    print_heading_line(s, c);
    print_row_line(s, c, true);
    s.console.print_newline();
}

// The cell menu below the row of column c, the cell's answer empty: the key pressed moves
// c, or ends the row's editing (false). A resize while the menu waits draws the row and
// the menu again at the new size.
bool cell_menu(Session& s, int& c, unsigned drawn_at) {
    bool go_on = true;
    std::vector<MenuEntry> entries = {
        {"", kRule},
        {"\r", "<Enter>      continue"},  // the same column again
        {"1", "<1> next     column", then_leave([&] { ++c; })},
        {"2", "<2> previous column", then_leave([&] { c = std::max(c - 1, 1); })},
        {"3", "<3> intermediate view", then_leave([&] { intermediate_view(s); })},
    };
    if (c > 1)
        entries.push_back({"8", "<8> cancel last edit cell", then_leave([&] {
                               s.cells[at(c - 1)] = s.saved_cells[at(c - 1)];
                               --c;
                           })});
    entries.insert(entries.end(), {{"9", "<9> exit", then_leave([&] { go_on = false; })},
                                   {"", ""},
                                   {"nN", "<N/n> edit with Notepad.exe",
                                    then_leave([&] { edit_with_notepad(s, c); })}});
    const auto redraw = [&] {
        std::tie(s.console_cols, s.console_rows) = s.console.console_size();
        s.cells[at(c)].clear();  // shown as it was typed: empty
        show_answered_row(s, c);
        s.cells[at(c)] = s.saved_cells[at(c)];
    };
    // "1" and every other key: the next column.
    run_menu(s.console, {.entries = entries,
                         .other = Next::leave,
                         .other_action = [&] { ++c; },
                         .redraw = redraw,
                         .drawn_at = drawn_at});
    return go_on;
}

}  // namespace

void row_editor(Session& s) {
    if (s.column_count < 1) {
        s.edit_mode = EditMode::none;
        return;
    }
    s.size_arrays();
    if (!read_edited_row(s)) {
        s.edit_mode = EditMode::none;
        return;
    }
    s.col_width = s.default_col_width;
    std::fill(s.col_widths.begin(), s.col_widths.end(), s.col_width);
    for (int k = 1; k <= s.column_count; ++k) {
        s.col_headings[at(k)] = column_heading(k, s.column_names[at(k)]);
    }

    Console& con = s.console;
    int c = 1;
    while (c <= s.column_count) {
        s.saved_cells[at(c)] = s.cells[at(c)];
        s.shell.run_command("cls");
        print_heading_line(s, c);
        print_row_line(s, c, false);
        con.print_text(std::string(at(std::max(s.row_label_width - 1, 0)), ' ') + "= ",
                       Ending::stay);
        s.cells[at(c)] = clean_cell(con.line_input());

        const unsigned drawn_at = con.size_changes();
        show_answered_row(s, c);
        if (!s.cells[at(c)].empty()) {
            ++c;
            continue;
        }
        s.cells[at(c)] = s.saved_cells[at(c)];
        if (!cell_menu(s, c, drawn_at)) break;
    }

    write_back(s);
    s.edit_mode = EditMode::none;
    s.shell.run_command("cls");
}

}  // namespace rowkeep
