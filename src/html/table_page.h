// The table page: the working file written as one HTML table, <table name>.htm, and
// its copy into htm_in, where the keyword index finds its input pages.
#pragma once

#include <string>
#include <string_view>

#include "console/session.h"

namespace rowkeep {

// prices.csv gives prices.htm; a name without ".csv" gets ".htm" appended, so the page
// can never replace the table file.
std::string table_page_name(std::string_view table_name);

// True when the cell is right-aligned on the page: only "+", ",", "-", ".", digits.
bool right_aligned_cell(std::string_view text);

// Writes the page from f_15_1.txt, sets column_names and leaves htm_in holding exactly this
// page.
void write_table_page(Session& s);

}  // namespace rowkeep
