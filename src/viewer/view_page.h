// One page of the table viewer, drawn from an index of row offsets into the working file.
#pragma once

#include <cstdint>
#include <vector>

#include "console/records.h"
#include "console/session.h"

namespace rowkeep {

struct RowIndex {
    std::vector<std::uint64_t> offsets;  // offsets[r - 1] is where row r starts
};

// Opens f_15_1.txt into in, counts row_count, indexes the rows, and takes row 1 into
// column_names and column_list.
void open_working_file(Session& s, TextReader& in, RowIndex& index);

// Clears the screen and shows the heading, the rows from top_row on and the status block.
// row_moved puts "*" before the number of the top row.
void show_page(Session& s, TextReader& in, const RowIndex& index, bool row_moved);

}  // namespace rowkeep
