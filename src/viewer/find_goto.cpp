#include "viewer/find_goto.h"

#include "console/console.h"
#include "console/records.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "viewer/view_page.h"

namespace rowkeep {

void find_text(Session& s) {
    Console& con = s.console;
    const std::string wanted = lower_az(con.prompt_input("find string = "));
    con.print_newline();
    s.edit_row = s.top_row;

    // A reader of its own: the viewer's position in the working file stays untouched.
    TextReader in(s.files, kWorkingFile);
    int row = 0;
    while (row_available(in, s.column_count)) {
        ++row;
        for (int k = 1; k <= s.column_count; ++k) {
            std::string cell = in.read_value();
            // An empty search text would match everywhere; it lists nothing instead.
            if (wanted.empty() || lower_az(cell).find(wanted) == std::string::npos) continue;
            con.print_text("row : column = ", Ending::stay);
            con.print_number(row, Ending::stay);
            con.print_text(" :", Ending::stay);
            con.print_number(k, Ending::zone);
            con.print_text(cell);
        }
    }

    s.first_col = 1;
    con.print_newline();
    con.print_text("<> any key to continue");
    con.wait_any_key();
}

void go_to_row(Session& s) {
    const int old_top = s.top_row;
    const int step = page_step(s);  // the page as it was shown
    // Taken as typed; the viewer shows whatever page that row gives.
    s.top_row = clamp_rows(s.console.prompt_integer("go to row = "));
    if (s.top_row == 0) s.top_row = clamp_rows(old_top + static_cast<long long>(step));
}

}  // namespace rowkeep
