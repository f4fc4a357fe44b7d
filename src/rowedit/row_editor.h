// The row editor: the cells of row edit_row edited one column after the other.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Needs edit_row and column_count; always writes the row back into f_15_1.txt.
void row_editor(Session& s);

}  // namespace rowkeep
