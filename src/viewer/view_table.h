// The table viewer: the working file as a scrolling grid, with row moves, find, go-to,
// the listing and the sort set-up.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Needs column_count, table_name, top_row and edit_mode set and f_15_1.txt complete.
// Leaves top_row at the row last shown at the top, row_count counted, first_col as saved.
void view_table(Session& s);

}  // namespace rowkeep
