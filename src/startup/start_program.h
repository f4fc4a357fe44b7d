// The program's entry procedure: start screen, terms and notice, code page, main menu.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Runs until the program ends, which it does by throwing ProgramEnd.
void start_program(Session& s);

}  // namespace rowkeep
