// The choice of a Windows code page before the main menu.
#pragma once

#include <array>
#include <string_view>

#include "console/session.h"

namespace rowkeep {

struct CodePageEntry {
    std::string_view name;
    std::string_view description;
};

extern const std::array<CodePageEntry, 11> kCodePages;

// Returns with code_page set, or ends the program ("8" in its menu).
void choose_code_page(Session& s);

}  // namespace rowkeep
