// The line naming the open table above the edit and structure menus.
#pragma once

#include "console/session.h"

namespace rowkeep {

// table_name, in_file_name, rows and columns on one line.
void print_header_line(Session& s);

}  // namespace rowkeep
