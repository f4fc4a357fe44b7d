// The sort set-up ("S"/"s" of the viewer): key columns and positions, the sorted table.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Saves first_col into saved_first_col and sets it to 1. Returns only when the user left
// with no sort column chosen (the viewer then leaves as on "9"); a completed sort writes
// <name>_sort.csv and ends the program.
void sort_setup(Session& s, int& saved_first_col);

}  // namespace rowkeep
