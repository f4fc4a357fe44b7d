#include "table/create_table.h"

namespace rowkeep {

// Placeholder until create table lands.
void create_table(Session&) {}

}  // namespace rowkeep
