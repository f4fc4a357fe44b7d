// The whole program on random keys, in a fresh folder holding a small table: no fault,
// no signed overflow, no hang. Each input byte picks one key (or a typed number) from a
// table of the keys the menus, prompts and the viewer take, so the run spends its time
// inside the program rather than at the start screens. The first byte chooses whether the
// run starts at the start screens, at the main menu or with the table already chosen.
//
// Files are limited to kFileLimit bytes (RLIMIT_FSIZE): an insert of millions of rows
// meets a failed write long before the disk fills, which is a path worth driving too.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/session.h"
#include "console/shell.h"
#include "console/terminal.h"
#include "console/tokens.h"
#include "startup/start_program.h"

using namespace rowkeep;
namespace fs = std::filesystem;

namespace {

constexpr rlim_t kFileLimit = 1 << 20;
constexpr std::size_t kMaxKeys = 1500;

// Each entry is one key press, or a typed answer's characters.
const std::vector<std::string_view> kKeys = {
    "0",          "1",           "2",          "3",      "4",        "5",           "6",
    "7",          "8",           "9",          "\r",     "\r",       "\r",          "a",
    "A",          "y",           "Y",          "f",      "F",        "s",           "S",
    "+",          "-",           "x",          " ",      ",",        "\"",          ";",
    ".",          "e",           "&h",         "&b",     "&o",       "\x7f",        "\x1b",
    "\x1b[A",     "\x1b[B",      "\x1b[C",     "\x1b[D", "\x1b[5~",  "\x1b[6~",     "\x1b[H",
    "\x1b[F",     "\x1bOP",      "\xe8",       "ab",     "http://x", "99999999999", "-99999999999",
    "2147483647", "-2147483648", "2147483646", "1e10",   "-1e10",    "&HFFFFFFFF",  "&H7FFFFFFF",
    "32767",      "32768",       "65535",      "1000",   "40",       "12",          "link_location",
    "<b>",        "</b>",        "<script>",   "t",      "t2",       "..\\x",       "9\r",
    "1\r",        "3\r",         "2\r",        "0\r",    "-1\r",     "\r9",         "\r8"};

const std::string kTable =
    "name;price;link_location;note\r\n"
    "apple;1,5;http://a.example/x y;\"quoted\" text\r\n"
    "pear;-2;;<b>bold</b> word\r\n"
    "plum;+3.25;http://b.example;\r\n"
    "fig;;;a b c d e f g h i j k l m n o p q r s t u v w x y z\r\n";

// The editor of the row editor: appends to the cell instead of starting a program.
class FuzzShell : public Shell {
  public:
    using Shell::Shell;

  protected:
    void notepad(const Words& args, std::string&) override {
        if (args.empty()) return;
        std::ofstream(path_of(args[0]), std::ios::binary | std::ios::app) << " edited";
    }
};

fs::path fresh_dir() {
    std::string pattern = (fs::temp_directory_path() / "rowkeep-keys-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    return fs::path(pattern);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rlimit limit{kFileLimit, kFileLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A write past the limit must fail with EFBIG, for the program to handle. libFuzzer
    // installs its own SIGXFSZ handler (which ends the run) after initialisation, so the
    // signal is ignored again here, before every run.
    signal(SIGXFSZ, SIG_IGN);
    if (size == 0) return 0;
    // Past the start screens with Windows-1250, then edit table, select, the first table.
    std::string keys;
    if (data[0] % 3 >= 1) keys += "1123";
    if (data[0] % 3 == 2) keys += "131\r";
    for (std::size_t i = 1; i < size && i <= kMaxKeys; ++i) keys += kKeys[data[i] % kKeys.size()];

    const fs::path dir = fresh_dir();
    std::ofstream(dir / "t.csv", std::ios::binary) << kTable;
    {
        ScriptedTerminal terminal(keys, 80, 25);
        Console console(terminal);
        FuzzShell shell(dir, console);
        FixedClock clock("14:03:59", "05-22-2017");
        std::mt19937 random(1);
        Session s(console, shell, dir, clock, random);
        try {
            start_program(s);
        } catch (const ProgramEnd&) {
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
