#include "table/edit_table.h"

#include "console/console.h"
#include "console/index.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "table/edit_loop.h"
#include "table/table_selection.h"
#include "viewer/view_table.h"

namespace rowkeep {

bool load_selected_table(Session& s) {
    s.selected_table = lower_az(s.selected_table);
    s.table_name = s.selected_table;
    auto [cols, rows] = s.console.console_size();
    s.console_cols = cols;
    s.console_rows = rows;
    s.row_label_width = 7;
    s.col_width = s.default_col_width;
    if (!load_table(s)) return false;
    s.size_arrays();
    // A fresh key list for every table: keys of another table name other columns.
    s.sort_keys.assign(idx(s.sort_keys_max + 1), SortKey{});
    view_table(s, s.top_row);
    s.shell.run_command("cls");
    s.edit_mode = EditMode::none;
    return true;
}

void edit_table(Session& s) {
    // A table that could not be loaded is not opened: the selection comes again.
    for (;;) {
        if (!select_table(s)) return;
        if (load_selected_table(s)) break;
    }
    edit_loop(s);
}

}  // namespace rowkeep
