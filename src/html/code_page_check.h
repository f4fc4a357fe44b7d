// The code page check: makes sure the interpreter answers "chcp", fixes the charset and
// display settings of the index pages, switches the console's code page for the index
// run and clears the folder of old scratch and page files.
#pragma once

#include <string>
#include <string_view>

#include "console/session.h"
#include "html/html_names.h"  // code_page_number, charset_name

namespace rowkeep {

// What the index and search pages declare and how they highlight the named element.
struct IndexSettings {
    std::string charset;
    std::string highlight_colour = "red";
    std::string highlight_size = "120%";
    int show_navigation = 1;
};

// Counts the lines of check_01.txt that hold more than blanks into row_count. With none,
// shows the unreachable dialogue, which ends the program on "9". Deletes every *.txt and
// *.htm of the folder.
IndexSettings check_code_page(Session& s);

}  // namespace rowkeep
