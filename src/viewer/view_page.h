// One page of the table viewer, drawn from an index of row offsets into the working file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/records.h"
#include "console/row_starts.h"
#include "console/session.h"
#include "console/text_measure.h"

namespace rowkeep {

// Where every 16th row starts (every row's start with a stride of 1): a page reads on from
// the kept start at or before its top row, past at most 15 rows.
struct RowIndex {
    RowStarts starts{16};
};

// Opens f_15_1.txt into in, counts row_count, indexes the rows, and takes row 1 into
// column_names and column_list.
void open_working_file(Session& s, TextReader& in, RowIndex& index);

// How a page fits the console: the status block's lines as they are printed (a line may
// hold the CR LF of a print zone), and how many rows of the table the page holds.
struct PageLayout {
    std::vector<std::string> block;
    int rows = 0;
};

// The page at top_row on a console of console_cols x console_rows. Where long lines wrap,
// the page is shortened by the screen lines the block takes beyond its six; where that
// would leave fewer than three rows, the block's lines are cut at the right edge instead.
PageLayout page_layout(const Session& s);

// The step of "+", "-" and an empty go-to: the rows of the page, less one of overlap.
int page_step(const Session& s);

// Screen lines that a line printed with CR LF takes on a console width columns wide.
int lines_taken(const TextMeasure& m, std::string_view line, int width);

// Clears the screen and shows the heading, the rows from top_row on and the status block.
// row_moved puts "*" before the number of the top row. Returns the layout shown.
PageLayout show_page(Session& s, TextReader& in, const RowIndex& index, bool row_moved);

}  // namespace rowkeep
