// Steps the real-terminal tests share: waiting for a text with the screen's end in the
// failure message, and the start screens up to the main menu and the first table.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "pty_driver.h"

namespace rowkeep::testing {

// Keys as a terminal sends them.
inline constexpr const char* kUp = "\x1b[A";
inline constexpr const char* kDown = "\x1b[B";
inline constexpr const char* kRight = "\x1b[C";
inline constexpr const char* kLeft = "\x1b[D";
inline constexpr const char* kHome = "\x1b[H";
inline constexpr const char* kEnd = "\x1b[F";
inline constexpr const char* kDelete = "\x1b[3~";
inline constexpr const char* kPgUp = "\x1b[5~";
inline constexpr const char* kPgDn = "\x1b[6~";

// Waits for the text; on failure says what the screen showed last.
::testing::AssertionResult shows(PtyProgram& p, std::string_view text);

// The start screens up to the main menu, with Windows-1250 chosen.
void reach_main_menu(PtyProgram& p);
// The same with Windows-65001, the entry after the ten, chosen.
void reach_main_menu_in_utf8(PtyProgram& p);

// Main menu to the viewer of the first table of the list.
void open_first_table(PtyProgram& p);

}  // namespace rowkeep::testing
