// Small helpers shared by the steps of the HTML output.
#pragma once

#include <string>
#include <string_view>

namespace rowkeep {

// The maker's link line and, with a sponsor, the sponsor line, as the pages show them.
std::string maker_link_line();
std::string sponsor_line(std::string_view sponsor_address);

// "Windows-1250" gives "1250"; the part after "Windows-".
std::string code_page_number(std::string_view code_page);
// The number, with "65001" declared as "UTF-8".
std::string charset_name(std::string_view number);

// True when the text holds the piece.
inline bool contains(std::string_view text, std::string_view piece) {
    return text.find(piece) != std::string_view::npos;
}

// True when the character just before the first occurrence of the word is "<".
bool opens_with_bracket(std::string_view lower_line, std::string_view word);

}  // namespace rowkeep
