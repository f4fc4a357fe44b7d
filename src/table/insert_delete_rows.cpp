#include "table/insert_delete_rows.h"

#include "console/console.h"
#include "console/index.h"
#include "console/menu.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "viewer/cell_fit.h"
#include "viewer/view_table.h"

namespace rowkeep {

namespace {

// Stops at the first failed write: a count of millions must not go on once the disk is full.
void write_blank_rows(TextWriter& out, int column_count, int count) {
    const std::vector<std::string> blank(idx(column_count + 1));
    for (int i = 0; i < count && !out.failed(); ++i) write_row(out, blank, column_count);
}

}  // namespace

std::string display_line(const Session& s, const std::string& label,
                         const std::vector<std::string>& cells) {
    GridLine line(s.console.measure(), label, s.row_label_width);
    for (int k = 1; k <= s.column_count; ++k) {
        const auto i = idx(k);
        int width = i < s.col_widths.size() ? s.col_widths[i] : s.col_width;
        line.cell(i < cells.size() ? cells[i] : std::string(), width);
    }
    return line.cut(s.console_cols - 1);
}

void insert_rows(Session& s) {
    Console& c = s.console;
    c.print_text(kRule);
    s.edit_mode = EditMode::editing;
    view_table(s, s.edit_row);
    c.print_newline();
    s.edit_row = clamp_rows(c.prompt_integer("select row for insert (after slected row) = "));
    int count = 0;
    if (s.edit_row >= 1)
        count = clamp_rows(c.prompt_integer("number inserted rows                      = "));
    if (s.edit_row <= 0 || count <= 0) return;
    // The viewer has just counted row_count from the working file.
    if (static_cast<long long>(s.row_count) + count > kMaxRows) {
        c.print_text("number inserted rows is too large: a table holds at most " +
                     plain_number(kMaxRows) + " rows");
        c.print_text("<> any key to continue");
        c.wait_any_key();
        return;
    }

    s.top_row = s.edit_row;
    const int typed_row = s.edit_row;
    int n = 0;
    const bool written = rewrite_working_file(s, [&](TextReader& in, TextWriter& out) {
        std::vector<std::string> cells;
        while (row_available(in, s.column_count)) {
            read_row(in, cells, s.column_count);
            ++n;
            if (n == s.edit_row + 1LL) write_blank_rows(out, s.column_count, count);
            write_row(out, cells, s.column_count);
        }
        if (s.edit_row >= n) {
            // After the last row, or a number beyond it: the rows go at the end.
            write_blank_rows(out, s.column_count, count);
            s.edit_row = n;
        }
    });
    if (written)
        s.row_count = clamp_rows(static_cast<long long>(n) + count);
    else
        s.edit_row = typed_row;
    s.first_col = 1;
    view_table(s, s.edit_row);
}

void delete_rows(Session& s) {
    Console& c = s.console;
    c.print_text(kRule);
    s.edit_mode = EditMode::editing;
    view_table(s, s.edit_row);
    int start = clamp_rows(c.prompt_integer("start row for delete (row > 1) = "));
    int end = clamp_rows(c.prompt_integer("end   row for delete           = "));
    if (end < start || start <= 1) return;
    if (start > s.row_count) start = s.row_count;
    if (end > s.row_count) end = s.row_count;

    int written = 0;
    const bool rewritten = rewrite_working_file(s, [&](TextReader& in, TextWriter& out) {
        std::vector<std::string> cells;
        for (int n = 1; row_available(in, s.column_count); ++n) {
            read_row(in, cells, s.column_count);
            if (n == 1) {
                c.print_text(display_line(s, "", cells));
            } else if (start <= n && n <= end) {
                c.print_text(display_line(s, plain_number(n), cells));
                continue;
            }
            write_row(out, cells, s.column_count);
            ++written;
        }
    });
    // Counted from the rows kept, so a table of the name row alone keeps its count.
    if (rewritten) s.row_count = written;
    view_table(s, s.edit_row);
}

}  // namespace rowkeep
