// How the program ends from anywhere: below every screen, so that the console can end it
// when the input runs out.
#pragma once

namespace rowkeep {

// Thrown to end the program from anywhere; main catches it and returns 0.
struct ProgramEnd {
    bool input_ended = false;  // the keyboard input ran out (pipe closed, terminal gone)
};

}  // namespace rowkeep
