// How a print ends and the print zones: pure rules of the console's output columns, for
// the console and for the files that imitate its printing (listings, the keyword trace).
#pragma once

#include <string>
#include <string_view>

namespace rowkeep {

// How a print ends: CR LF, nothing, or padding to the next print zone.
enum class Ending { newline, stay, zone };

constexpr int kZoneWidth = 14;

// Blanks that the zone ending writes at the given 0-based output column.
int zone_padding(int column);

// The output column after writing text at the given column: CR or LF restarts it.
int advance_column(int column, std::string_view text);

// What the zone ending writes at the given output column on a console of the given width:
// blanks up to the next zone, or CR LF when that zone lies too near the right edge.
std::string zone_ending(int column, int width);

}  // namespace rowkeep
