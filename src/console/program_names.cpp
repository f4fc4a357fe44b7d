#include "console/program_names.h"

namespace rowkeep {

ProgramNames derive_program_names(std::string_view source_name) {
    ProgramNames names;
    if (source_name.size() >= 3)
        names.program_file_name =
            std::string(source_name.substr(0, source_name.size() - 3)) + "exe";
    auto p = source_name.find("www");
    if (p != std::string_view::npos && source_name.size() >= p + 4) {
        std::string address(source_name.substr(p, source_name.size() - p - 4));
        if (address.find("www") != std::string::npos) names.sponsor_address = address;
    }
    return names;
}

std::string maker_address_without_scheme() {
    std::string_view a = kMakerAddress;
    auto scheme = a.find("://");
    return std::string(scheme == std::string_view::npos ? a : a.substr(scheme + 3));
}

}  // namespace rowkeep
