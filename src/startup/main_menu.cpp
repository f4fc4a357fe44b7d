#include "startup/main_menu.h"

#include "console/console.h"
#include "table/create_table.h"
#include "table/edit_table.h"

namespace rowkeep {

void main_menu(Session& s) {
    for (;;) {
        std::string key = menu_key(s.console,
                                   {"-------------------------------", "<1> edit   table",
                                    "<2> create table", "<8> exit,  end"},
                                   "128");
        if (key == "1") {
            edit_table(s);
        } else if (key == "2") {
            create_table(s);
        } else {
            s.console.print_text("End");
            throw ProgramEnd{};
        }
    }
}

}  // namespace rowkeep
