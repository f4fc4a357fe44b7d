#include "viewer/sort_setup.h"

namespace rowkeep {

// Placeholder until the sort set-up lands.
void sort_setup(Session&, int&) {}

}  // namespace rowkeep
