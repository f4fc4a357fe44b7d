#include "table/table_structure.h"

#include <algorithm>
#include <vector>

#include "console/index.h"
#include "console/menu.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "table/header_line.h"
#include "viewer/view_table.h"

namespace rowkeep {

namespace {

void ensure_names(Session& s) {
    if (static_cast<int>(s.column_names.size()) < s.column_count + 1)
        s.column_names.resize(idx(s.column_count + 1));
}

void print_column(Session& s, int k) {
    s.console.print_number(k, Ending::zone);
    s.console.print_text(s.column_names[idx(k)]);
}

void list_columns(Session& s) {
    Console& c = s.console;
    c.print_text(kRule);
    s.edit_mode = EditMode::editing;
    c.print_text("list columns name");
    c.print_newline();
    ensure_names(s);
    for (int k = 1; k <= s.column_count; ++k) print_column(s, k);
    c.print_text("<> any key to continue");
    c.wait_any_key();
}

void rename_columns(Session& s) {
    Console& c = s.console;
    c.print_text(kRule);
    s.edit_mode = EditMode::editing;
    c.print_text("edit column name");
    c.print_newline();
    // With no columns there is nothing to cycle through.
    if (s.column_count < 1) return;
    ensure_names(s);
    const std::vector<std::string> old_names = s.column_names;
    for (int k = 1;; ++k) {
        if (k > s.column_count) {
            c.print_text(kRule);
            k = 1;
        }
        c.print_text(kRule);
        print_column(s, k);
        const std::string key =
            menu_key(c, {"<> any key to continue, <3> edit column name, <8> end edit names"});
        if (key == "8") break;
        if (key == "3") {
            c.print_number(k, Ending::stay);
            s.column_names[idx(k)] = clean_column_name(c.prompt_input("  column name = "));
        }
    }
    const bool written = rewrite_working_file(s, [&](TextReader& in, TextWriter& out) {
        std::vector<std::string> cells;
        for (int n = 1; row_available(in, s.column_count); ++n) {
            read_row(in, cells, s.column_count);
            write_row(out, n == 1 ? s.column_names : cells, s.column_count);
        }
    });
    // The names the working file holds are the ones the program knows.
    if (!written) s.column_names = old_names;
}

void insert_column(Session& s) {
    Console& c = s.console;
    s.edit_mode = EditMode::editing;
    c.print_text(kRule);
    view_table(s, s.edit_row);
    print_header_line(s);
    int position = c.prompt_integer("position column, insert (before) = ");
    if (position < 1) position = 1;
    std::string name = clean_column_name(c.prompt_input("new (inserted) column name       = "));
    if (name.empty()) name = " ";

    const int old_count = s.column_count;
    const bool written = rewrite_working_file(s, [&](TextReader& in, TextWriter& out) {
        if (old_count < 1) {
            // A table without columns has no rows left: the new column starts it afresh
            // with its name, so the name is not lost.
            out.write_value(name, true);
            return;
        }
        std::vector<std::string> cells, widened;
        for (int n = 1; row_available(in, old_count); ++n) {
            read_row(in, cells, old_count);
            widened.assign(1, std::string());
            for (int k = 1; k <= old_count; ++k) {
                if (k == position) widened.push_back(n == 1 ? name : " ");
                widened.push_back(cells[idx(k)]);
            }
            if (position > old_count) widened.push_back(n == 1 ? name : " ");
            write_row(out, widened, old_count + 1);
        }
    });
    if (written) {
        // The names follow the working file at once, not only once the viewer reads it.
        ensure_names(s);
        auto at = s.column_names.begin() + std::min(position, old_count + 1);
        s.column_names.insert(at, name);
        s.column_count = old_count + 1;
        s.size_arrays();
    }
    view_table(s, s.edit_row);
}

void delete_column(Session& s) {
    Console& c = s.console;
    s.edit_mode = EditMode::editing;
    c.print_text(kRule);
    view_table(s, s.edit_row);
    print_header_line(s);
    int position = c.prompt_integer("position column for delete = ");
    if (position >= s.column_count) position = s.column_count;
    if (s.column_count <= 0 || position <= 0) return;

    const int old_count = s.column_count;
    const bool written = rewrite_working_file(s, [&](TextReader& in, TextWriter& out) {
        std::vector<std::string> cells, narrowed;
        while (row_available(in, old_count)) {
            read_row(in, cells, old_count);
            narrowed.assign(1, std::string());
            for (int k = 1; k <= old_count; ++k)
                if (k != position) narrowed.push_back(cells[idx(k)]);
            write_row(out, narrowed, old_count - 1);
        }
    });
    if (written) {
        ensure_names(s);
        s.column_names.erase(s.column_names.begin() + position);
        s.column_count = old_count - 1;
        s.size_arrays();
    }
    view_table(s, s.edit_row);
}

}  // namespace

std::string clean_column_name(std::string_view typed) {
    return replace_char(replace_char(typed, ';', ','), '"', '\'');
}

void table_structure(Session& s) {
    s.edit_mode = EditMode::editing;
    run_menu(s.console,
             {{
                  {"", kRule},
                  {"1", "<1> list column names", then_show([&] { list_columns(s); })},
                  {"2", "<2> edit column name", then_show([&] { rename_columns(s); })},
                  {"3", "<3> insert/append column", then_show([&] { insert_column(s); })},
                  {"4", "<4> delete        column", then_show([&] { delete_column(s); })},
                  {"8", "<8> exit", then_leave([&] { s.edit_mode = EditMode::none; })},
                  {"", ""},
              },
              Next::show});
}

}  // namespace rowkeep
