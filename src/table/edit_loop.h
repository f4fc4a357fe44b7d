// The edit loop over a loaded table and its edit menu.
#pragma once

#include "console/session.h"

namespace rowkeep {

// The loop menu: row editor, edit menu, save menu, viewer moves. Never returns; the
// program ends in the save menu.
void edit_loop(Session& s);

}  // namespace rowkeep
