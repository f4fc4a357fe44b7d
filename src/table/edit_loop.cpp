#include "table/edit_loop.h"

#include <string>

#include "console/menu.h"
#include "console/shell.h"
#include "console/tokens.h"
#include "rowedit/row_editor.h"
#include "table/header_line.h"
#include "table/insert_delete_rows.h"
#include "table/save_copy.h"
#include "table/table_structure.h"
#include "viewer/view_table.h"

namespace rowkeep {

namespace {

void view_table_here(Session& s) {
    s.edit_mode = EditMode::none;
    view_table(s, s.edit_row);
    s.shell.run_command("cls");
}

void view_next_row(Session& s) {
    // No upper bound: the viewer turns a row beyond the table back into 1.
    view_table(s, clamp_rows(s.top_row + 1LL));
    s.shell.run_command("cls");
}

// Shown below the edit loop's block; every key goes back to the loop, which shows its
// block again. "9" and "5" work here too, unlisted.
void edit_menu(Session& s) {
    s.edit_mode = EditMode::editing;
    run_menu(
        s.console,
        {{
             {"", kRule},
             {"1", "<1> insert rows (after selected row)", then_leave([&] { insert_rows(s); })},
             {"2", "<2> delete rows", then_leave([&] { delete_rows(s); })},
             {"3", "<3> view   table", then_leave([&] { view_table_here(s); })},
             {"4", "<4> edit   table structure", then_leave([&] { table_structure(s); })},
             {"8", "<8> exit", then_leave([&] { s.edit_mode = EditMode::none; })},
             {"", ""},
             {"9", std::nullopt, then_leave([&] { save_menu(s); })},
             {"5", std::nullopt, then_leave([&] { view_next_row(s); })},
         },
         Next::leave});
}

// "1" and Enter: the top row in the row editor.
void edit_top_row(Session& s) {
    s.edit_mode = EditMode::editing;
    s.console.print_text(kRule);
    if (s.top_row == 1) s.top_row = 2;
    s.edit_row = s.top_row;
    row_editor(s);
}

void draw_heading(Session& s) {
    s.shell.run_command("cls");
    print_header_line(s);
    s.first_col = 1;
}

}  // namespace

void edit_loop(Session& s) {
    for (;;) {
        if (s.edit_mode == EditMode::end_edit) throw ProgramEnd{};
        s.edit_mode = EditMode::none;
        // A resize while the menu waits shows it again at once, at the new size.
        const unsigned drawn_at = s.console.size_changes();
        draw_heading(s);
        // Row 1 holds the column names; it is never offered for editing.
        if (s.top_row == 1) s.top_row = 2;
        // Every key leads back here, and the screen is drawn afresh; "3" is not listed.
        run_menu(
            s.console,
            {.entries = {{"", kRule},
                         {"1\r", "<1> or <Enter> edit top row (" + number_text(s.top_row) + ")",
                          then_leave([&] { edit_top_row(s); })},
                         {"2", "<2> edit menu", then_leave([&] { edit_menu(s); })},
                         {"5", "<5> edit next row", then_leave([&] { view_next_row(s); })},
                         {"9", "<9> save/copy, exit, end", then_leave([&] { save_menu(s); })},
                         {"3", std::nullopt, then_leave([&] { view_table_here(s); })}},
             .other = Next::leave,
             .redraw = [&] { draw_heading(s); },
             .drawn_at = drawn_at});
    }
}

}  // namespace rowkeep
