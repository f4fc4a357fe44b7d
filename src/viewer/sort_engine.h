// The sort engine: sorts the lines of sort_in_name, lower-cased, into sort_out_name.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Leaves the sorted lines in sort_out_name and sort_output.txt, and the run files
// file_03_<n>.txt. Ends the program on an empty sort_in_name or an order error.
void sort_file(Session& s);

}  // namespace rowkeep
