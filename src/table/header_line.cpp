#include "table/header_line.h"

#include "console/console.h"

namespace rowkeep {

void print_header_line(Session& s) {
    Console& c = s.console;
    c.print_text(s.table_name, Ending::zone);
    c.print_text(s.in_file_name, Ending::stay);
    c.print_text("  rows = ", Ending::stay);
    c.print_number(s.row_count, Ending::stay);
    c.print_text("  columns = ", Ending::stay);
    c.print_number(s.column_count);
}

}  // namespace rowkeep
