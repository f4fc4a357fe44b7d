// The HTML output of a save: the table page, the code page check, the keyword
// extraction, and the anchored, index and search pages.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Needs the working file in place and table_name, column_count, code_page set. Deletes
// every *.txt and *.htm of the folder; leaves the results in htm_out and shows where
// they are. When a step fails it stops there, says which step and why, waits for a key
// and returns false.
bool html_export(Session& s);

}  // namespace rowkeep
