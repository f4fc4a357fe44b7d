#include "html/html_export.h"

namespace rowkeep {

// Placeholder until the HTML output lands.
void html_export(Session&) {}

}  // namespace rowkeep
