// The edit loop over a loaded table and its edit menu.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Loads selected_table into the working file (table_name lower-cased, console size,
// widths, sort keys) and shows it in the viewer. False when the load failed (the screen
// has said so and a key was pressed): nothing is open.
bool load_selected_table(Session& s);

// The loop menu: row editor, edit menu, save menu, viewer moves. Never returns; the
// program ends in the save menu.
void edit_loop(Session& s);

// table_name, in_file_name, rows and columns on one line.
void print_header_line(Session& s);

}  // namespace rowkeep
