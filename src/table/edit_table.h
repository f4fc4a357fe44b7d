// Table management: choosing a table, loading it and the edit loop.
#pragma once

#include "console/session.h"

namespace rowkeep {

// The main menu's "<1> edit   table". Returns only when no table was chosen.
void edit_table(Session& s);

}  // namespace rowkeep
