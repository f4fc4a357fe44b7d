// The program's built-in names: its source name, maker line and maker's address, and
// the names derived from the source name at start-up.
#pragma once

#include <string>
#include <string_view>

namespace rowkeep {

inline constexpr std::string_view kSourceFileName = "rowkeep_www.example.org.bas";
inline constexpr std::string_view kMakerLine = "Made by the Rowkeep developers.";
inline constexpr std::string_view kMakerAddress = "https://www.example.com";

struct ProgramNames {
    std::string program_file_name;
    std::string sponsor_address;
};

// program_file_name: the source name with "bas" turned into "exe"; sponsor_address: the
// text from the first "www" up to ".bas", or "" when there is no "www".
ProgramNames derive_program_names(std::string_view source_name);

// The maker's address without its scheme ("www.example.com").
std::string maker_address_without_scheme();

}  // namespace rowkeep
