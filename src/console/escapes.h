// Every control sequence the program writes to the screen, named in one place:
//   ESC [ H ESC [ 2 J   clear the screen and put the cursor at the top left
//   ESC [ n A           cursor up n rows
//   ESC [ n B           cursor down n rows
//   ESC [ n C           cursor right n columns
//   ESC [ J             erase from the cursor to the end of the screen
//   BEL                 the bell, for a key the line entry refuses
// CR and LF are written as text. The sequences the terminal sends for keys are decoded in
// keys.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rowkeep {

inline constexpr std::string_view kClearScreen = "\x1b[H\x1b[2J";
inline constexpr std::string_view kEraseBelow = "\x1b[J";
inline constexpr std::string_view kBell = "\a";

inline std::string cursor_up(std::size_t rows) {
    return "\x1b[" + std::to_string(rows) + "A";
}
inline std::string cursor_down(std::size_t rows) {
    return "\x1b[" + std::to_string(rows) + "B";
}
inline std::string cursor_right(std::size_t columns) {
    return "\x1b[" + std::to_string(columns) + "C";
}

}  // namespace rowkeep
