#include "startup/main_menu.h"

#include "console/menu.h"
#include "table/create_table.h"
#include "table/edit_table.h"

namespace rowkeep {

void main_menu(Session& s) {
    run_menu(s.console, {{
                            {"", "-------------------------------"},
                            {"1", "<1> edit   table", then_show([&] { edit_table(s); })},
                            {"2", "<2> create table", then_show([&] { create_table(s); })},
                            {"8", "<8> exit,  end", [&]() -> Next { end_program(s.console); }},
                        }});
}

}  // namespace rowkeep
