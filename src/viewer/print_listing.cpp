#include "viewer/print_listing.h"

namespace rowkeep {

// Placeholder until the listing lands.
void print_listing(Session&, int&) {}

}  // namespace rowkeep
