// The main menu: edit table, create table, end.
#pragma once

#include "console/session.h"

namespace rowkeep {

// The main menu loop; the program ends from it or below it.
void main_menu(Session& s);

}  // namespace rowkeep
