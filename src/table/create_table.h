// The create-table screen of the main menu.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Makes a new two-line table file from a typed name and column names; returns on "8".
void create_table(Session& s);

}  // namespace rowkeep
