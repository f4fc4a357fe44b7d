// The table list: the directory's tables, sorted and lower-cased, listed, paged and
// chosen by number.
#pragma once

#include <string>

#include "console/session.h"

namespace rowkeep {

// Builds f_03.txt, f_04.txt and f_05.txt and runs the list menu. True with
// selected_table set when a table was chosen; false after "<8> exit", "no select" or a
// listing that failed (the screen has said so and a key was pressed).
bool select_table(Session& s);

// Says that the folder could not be read or written, and why, and waits for a key.
void report_folder_failure(Session& s);

// A list line: the number ending in column 9, two blanks, the name.
std::string numbered_line(int n, const std::string& name);

}  // namespace rowkeep
