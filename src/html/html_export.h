// The HTML output of a save: the table page, the code page check, the keyword
// extraction, and the anchored, index and search pages.
#pragma once

#include "console/session.h"

namespace rowkeep {

// Needs the working file in place and table_name, column_count, code_page set. Deletes
// every *.txt and *.htm of the folder; leaves the results in htm_out.
void html_export(Session& s);

}  // namespace rowkeep
