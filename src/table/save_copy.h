// The save menu: save with the HTML page, copy under another name, and the end menu.
#pragma once

#include <string_view>

#include "console/session.h"

namespace rowkeep {

// Returns to the edit loop with edit_mode editing, or ends the program after deleting
// every f_*.txt.
void save_menu(Session& s);

// True when a typed copy name names a file of the program's folder and nothing else.
bool safe_copy_name(std::string_view name);

}  // namespace rowkeep
