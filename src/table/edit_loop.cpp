#include "table/edit_loop.h"

#include <string>

#include "console/console.h"
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

const std::string kRule(30, '-');

void view_next_row(Session& s) {
    // No upper bound: the viewer turns a row beyond the table back into 1.
    s.top_row = clamp_rows(s.top_row + 1LL);
    view_table(s);
    s.shell.run_command("cls");
}

void edit_menu(Session& s) {
    s.edit_mode = "edit menu";
    Console& c = s.console;
    for (auto line :
         {std::string_view(kRule), std::string_view("<1> insert rows (after selected row)"),
          std::string_view("<2> delete rows"), std::string_view("<3> view   table"),
          std::string_view("<4> edit   table structure"), std::string_view("<8> exit"),
          std::string_view("")})
        c.print_text(line);
    std::string key = c.wait_key();
    if (key == "1") {
        insert_rows(s);
    } else if (key == "2") {
        delete_rows(s);
    } else if (key == "3") {
        s.edit_mode.clear();
        s.top_row = s.edit_row;
        view_table(s);
        s.shell.run_command("cls");
    } else if (key == "4") {
        table_structure(s);
    } else if (key == "8") {
        s.edit_mode.clear();
    } else if (key == "9") {
        save_menu(s);
    } else if (key == "5") {
        view_next_row(s);
    }
}

}  // namespace

void edit_loop(Session& s) {
    Console& c = s.console;
    for (;;) {
        if (s.edit_mode == "end edit") throw ProgramEnd{};
        s.edit_mode.clear();
        // A resize while the menu waits shows it again at once, at the new size.
        const unsigned drawn_at = c.size_changes();
        s.shell.run_command("cls");
        print_header_line(s);
        s.first_col = 1;
        c.print_text(kRule);
        // Row 1 holds the column names; it is never offered for editing.
        if (s.top_row == 1) s.top_row = 2;
        c.print_text("<1> or <Enter> edit top row (" + number_text(s.top_row) + ")");
        c.print_text("<2> edit menu");
        c.print_text("<5> edit next row");
        c.print_text("<9> save/copy, exit, end");
        std::string key = c.wait_key_or_resize(drawn_at);
        if (key == "1" || key == "\r") {
            s.edit_mode = "edit row";
            c.print_text(kRule);
            if (s.top_row == 1) s.top_row = 2;
            s.edit_row = s.top_row;
            row_editor(s);
        } else if (key == "2") {
            edit_menu(s);
        } else if (key == "9") {
            save_menu(s);
        } else if (key == "3") {
            s.top_row = s.edit_row;
            view_table(s);
            s.shell.run_command("cls");
        } else if (key == "5") {
            view_next_row(s);
        }
    }
}

}  // namespace rowkeep
