// The table viewer: the working file as a scrolling grid, with row moves, find, go-to,
// the listing and the sort set-up.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Shows the working file from row from_row. Needs column_count, table_name and edit_mode set
// and f_15_1.txt complete. Leaves top_row at the row last shown at the top, row_count
// counted, first_col as saved.
void view_table(Session& s, int from_row);

}  // namespace rowkeep
