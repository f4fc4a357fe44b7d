#include "html/html_names.h"

#include "console/program_names.h"

namespace rowkeep {

std::string maker_link_line() {
    return "<br> <a href=\"" + std::string(kMakerAddress) +
           "\">More information: " + maker_address_without_scheme() + "</a>";
}

std::string sponsor_line(std::string_view sponsor_address) {
    return "<br> <a href=\"http://" + std::string(sponsor_address) +
           "\">Sponsored by:     " + std::string(sponsor_address) + "</a>";
}

std::string code_page_number(std::string_view code_page) {
    return code_page.size() > 8 ? std::string(code_page.substr(8)) : std::string();
}

std::string charset_name(std::string_view number) {
    return number == "65001" ? std::string("UTF-8") : std::string(number);
}

bool opens_with_bracket(std::string_view lower_line, std::string_view word) {
    std::size_t at = lower_line.find(word);
    return at != std::string_view::npos && at > 0 && lower_line[at - 1] == '<';
}

}  // namespace rowkeep
