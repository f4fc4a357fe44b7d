#include "rowedit/row_editor.h"

namespace rowkeep {

// Placeholder until the row editor lands.
void row_editor(Session&) {}

}  // namespace rowkeep
