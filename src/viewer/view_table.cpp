#include "viewer/view_table.h"

namespace rowkeep {

// Placeholder until the viewer lands.
void view_table(Session&) {}

}  // namespace rowkeep
