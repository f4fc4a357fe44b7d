// The table structure menu: list, rename, insert or append, and delete columns.
#pragma once

#include <string>
#include <string_view>

#include "console/session.h"

namespace rowkeep {

// Runs until "<8> exit"; each change rewrites the working file and column_count.
void table_structure(Session& s);

// A typed column name made safe for the files: ";" separates cells and a double quote
// would end the quoted record early.
std::string clean_column_name(std::string_view typed);

}  // namespace rowkeep
