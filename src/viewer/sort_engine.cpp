#include "viewer/sort_engine.h"

namespace rowkeep {

// Placeholder until the sort engine lands.
void sort_file(Session&) {}

}  // namespace rowkeep
