// The printed listing ("8" of the viewer): <name>.txt and, for one column, <name>_sum.txt.
#pragma once

#include "console/session.h"

namespace rowkeep {

// saved_first_col is the viewer's saved first_col: set from first_col on start, put back
// into first_col at the end.
void print_listing(Session& s, int& saved_first_col);

}  // namespace rowkeep
