// Table management: choosing a table, loading it and the edit loop.
#pragma once

#include "console/session.h"

namespace rowkeep {

// The main menu's "<1> edit   table". Returns only when no table was chosen.
void edit_table(Session& s);

// Loads selected_table into the working file (table_name lower-cased, console size,
// widths, sort keys) and shows it in the viewer. False when the load failed (the screen
// has said so and a key was pressed): nothing is open.
bool load_selected_table(Session& s);

}  // namespace rowkeep
