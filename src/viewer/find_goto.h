// Find ("F"/"f") and go-to ("7") of the table viewer.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Lists every cell of the working file holding the typed text; waits for a key.
// Sets edit_row to top_row and first_col to 1; top_row is unchanged.
void find_text(Session& s);

// Asks the row for the top of the page into top_row.
void go_to_row(Session& s);

}  // namespace rowkeep
