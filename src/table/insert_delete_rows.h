// Blank rows inserted after a chosen row, and a range of data rows deleted.
#pragma once

#include <string>
#include <vector>

#include "console/session.h"

namespace rowkeep {

// Asks for the row and the count; rewrites the working file; leaves edit_row at the row
// the blank rows follow and row_count updated.
void insert_rows(Session& s);

// Asks for the first and last row; shows the rows removed; row 1 is never removed.
void delete_rows(Session& s);

// A row as the deletion shows it: the label right-aligned in row_label_width, then each
// cell fitted to its col_widths entry and "|"; cut to console_cols - 1.
std::string display_line(const Session& s, const std::string& label,
                         const std::vector<std::string>& cells);

}  // namespace rowkeep
