// The cell-fitting rule and the column letters, shared by the viewer, the row-deletion
// display, the listings and the row editor.
#pragma once

#include <string>
#include <string_view>

namespace rowkeep {

enum class Align { by_content, left };

// A cell longer than the width shows width - 1 characters and "-"; otherwise it is
// padded to the width, right-aligned when numeric and align is by_content.
std::string fit_cell(std::string_view text, int width, Align align = Align::by_content);

// The spreadsheet letters of column k: A for 1, Z for 26, AA for 27, AZ for 52, BA for 53.
std::string column_letters(int k);

// "C" + k + "(" + letters + ") " + name: the heading over a column.
std::string column_heading(int k, std::string_view name);

// Right-aligns text in width characters; longer text stays whole.
std::string right_align(std::string_view text, int width);

// The first n characters of a line (all of it when shorter).
std::string cut_line(std::string_view line, int n);

}  // namespace rowkeep
