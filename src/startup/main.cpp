// Builds the real terminal and the session, and runs the program until it ends.
#include <clocale>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <random>

#include "console/console.h"
#include "console/session.h"
#include "console/shell.h"
#include "console/terminal.h"
#include "startup/start_program.h"

int main() {
    // Only the character set: numbers typed in a decimal-comma locale must still read
    // "3.7" as three point seven.
    std::setlocale(LC_CTYPE, "");
    rowkeep::RealTerminal terminal;
    rowkeep::Console console(terminal);
    std::filesystem::path dir = std::filesystem::current_path();
    rowkeep::Shell shell(dir, console);
    rowkeep::SystemClock clock;
    std::mt19937 random(std::random_device{}());
    rowkeep::Session session(console, shell, dir, clock, random);
    try {
        rowkeep::start_program(session);
    } catch (const rowkeep::ProgramEnd&) {
    } catch (const std::exception& e) {
        // Unwinding has restored the terminal by now; say what went wrong.
        terminal.flush();
        std::fprintf(stderr, "rowkeep: %s\n", e.what());
        return 1;
    }
    terminal.flush();
    return 0;
}
