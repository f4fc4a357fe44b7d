#include "table/edit_table.h"

namespace rowkeep {

// Placeholder until table management lands.
void edit_table(Session&) {}

}  // namespace rowkeep
