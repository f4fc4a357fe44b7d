// Builds the real terminal and the session, and runs the program until it ends.
#include <malloc.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <random>
#include <string_view>

#include "console/console.h"
#include "console/session.h"
#include "console/shell.h"
#include "console/terminal.h"
#include "startup/start_program.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: rowkeep [--help | --version]\n"
    "Create, view and edit tables kept as semicolon-separated *.csv files, through numbered\n"
    "key menus and typed prompts in the terminal.\n"
    "\n"
    "Rowkeep works in the current folder: it lists and edits the *.csv tables there and\n"
    "writes its scratch files there (f_*.txt, file_*.txt, wrd_*.txt, dir_*.txt,\n"
    "sort_output.txt, out_null.txt, cell.edit.txt and others), the folders txt_in, htm_in\n"
    "and htm_out, listings <table>.txt and <table>_sum.txt, and sorted tables\n"
    "<table>_sort.csv. Saving deletes *.txt and *.htm scratch files of the folder, so start\n"
    "it in a folder that holds only tables.\n"
    "\n"
    "Environment:\n"
    "  COLUMNS, LINES          the console size when the terminal reports none\n"
    "  LC_ALL, LC_CTYPE, LANG  a UTF-8 locale converts the screen, the keys and the file\n"
    "                          names between the chosen code page and UTF-8\n"
    "  VISUAL, EDITOR          the text editor of the row editor (else nano or vi)\n"
    "\n"
    "Other arguments are ignored. The manual: man rowkeep\n";

// A seed from the system's entropy pool. std::random_device asks the processor what it
// offers first, which under a virtual machine costs more than the rest of the start.
std::mt19937::result_type seed() {
    std::mt19937::result_type value = 0;
    if (getentropy(&value, sizeof value) != 0)
        value = static_cast<std::mt19937::result_type>(std::time(nullptr));
    return value;
}

// Buffers the program frees stay with it for the next file. By default a buffer of 128 KiB
// or more is handed back to the system when freed, so every file's buffers started on pages
// the system had to fault in and clear again, and under a virtual machine a fault costs
// microseconds. Kept, they spare a save at 10^4 rows a third of its faults. Larger blocks
// (the viewer's row index, a sort's runs) still come and go whole, which keeps peak memory
// as it was: one arena for all threads, or keeping those too, cost up to 4 MiB more.
void keep_freed_buffers() {
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
}

}  // namespace

int main(int argc, char** argv) {
    // These two only print: the folder and the terminal stay untouched.
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg == "--version") {
            std::printf("rowkeep %s\n", ROWKEEP_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    keep_freed_buffers();
    // Only the character set: numbers typed in a decimal-comma locale must still read
    // "3.7" as three point seven.
    std::setlocale(LC_CTYPE, "");
    rowkeep::RealTerminal terminal;
    rowkeep::Console console(terminal);
    std::filesystem::path dir = std::filesystem::current_path();
    rowkeep::Shell shell(dir, console);
    rowkeep::SystemClock clock;
    std::mt19937 random(seed());
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
