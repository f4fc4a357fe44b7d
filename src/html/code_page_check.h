// The code page check: makes sure the interpreter answers "chcp", fixes the charset and
// display settings of the index pages, switches the console's code page for the index
// run and clears the folder of old scratch and page files.
#pragma once

#include <string>
#include <string_view>

#include "console/session.h"

namespace rowkeep {

// What the index and search pages declare and how they highlight the named element.
struct IndexSettings {
    std::string charset;
    std::string highlight_colour = "red";
    std::string highlight_size = "120%";
    int show_navigation = 1;
};

// "Windows-1250" gives "1250"; the part after "Windows-".
std::string code_page_number(std::string_view code_page);
// The number, with "65001" declared as "UTF-8".
std::string charset_name(std::string_view number);

// Counts the lines of check_01.txt that hold more than blanks into row_count. With none,
// shows the unreachable dialogue, which ends the program on "9". Deletes every *.txt and
// *.htm of the folder.
IndexSettings check_code_page(Session& s);

}  // namespace rowkeep
