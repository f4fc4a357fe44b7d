// The cell-fitting rule and the column letters, shared by the viewer, the row-deletion
// display, the listings and the row editor.
#pragma once

#include <string>
#include <string_view>

#include "console/text_measure.h"

namespace rowkeep {

enum class Align { by_content, left };

// Widths are screen columns, measured in the active code page. A cell wider than the width
// shows what fits in width - 1 columns and "-" (a wide character that does not fit whole
// leaves a blank before the "-"); otherwise it is padded to the width, right-aligned when
// numeric and align is by_content.
std::string fit_cell(const TextMeasure& m, std::string_view text, int width,
                     Align align = Align::by_content);

// The spreadsheet letters of column k: A for 1, Z for 26, AA for 27, AZ for 52, BA for 53.
std::string column_letters(int k);

// "C" + k + "(" + letters + ") " + name: the heading over a column.
std::string column_heading(int k, std::string_view name);

// Right-aligns text in width columns; wider text stays whole.
std::string right_align(std::string_view text, int width);

// The start of a line that fills at most n screen columns, never part of a character.
std::string cut_line(const TextMeasure& m, std::string_view line, int n);

// One line of the table's grid, as the viewer, the listing, the row editor and the row
// deletion show it: the row label right-aligned in label_width and "|", then each
// column's text fitted to its width and "|". A heading line has the label "".
class GridLine {
  public:
    GridLine(const TextMeasure& m, std::string_view label, int label_width)
        : m_(m), line_(right_align(label, label_width) + "|") {}

    GridLine& cell(std::string_view text, int width, Align align = Align::by_content) {
        line_ += fit_cell(m_, text, width, align);
        line_ += "|";
        return *this;
    }
    const std::string& text() const { return line_; }
    // As far as a screen line of n columns shows it.
    std::string cut(int n) const { return cut_line(m_, line_, n); }

  private:
    const TextMeasure& m_;
    std::string line_;
};

}  // namespace rowkeep
