// The table load on arbitrary table files: no fault, arrays that hold every column, and
// for a table whose lines all have the same number of cells and no double quotes, a save
// that writes the same lines back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/records.h"
#include "console/session.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "console/terminal.h"
#include "console/tokens.h"

using namespace rowkeep;
namespace fs = std::filesystem;

namespace {

fs::path fresh_dir() {
    std::string pattern = (fs::temp_directory_path() / "rowkeep-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    return fs::path(pattern);
}

std::vector<std::string> lines_of(std::string_view bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// True when the load must keep every cell where it was: equal cell counts, no quotes,
// no cell the record reader would cut or trim.
bool well_formed(const std::vector<std::string>& lines) {
    if (lines.empty()) return false;
    std::size_t cells = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.find('"') != std::string::npos) return false;
        std::size_t n = 1, start = 0;
        for (std::size_t j = 0; j <= l.size(); ++j) {
            if (j == l.size() || l[j] == ';') {
                if (j - start > kMaxTextToken) return false;
                start = j + 1;
                if (j < l.size()) ++n;
            }
        }
        if (i == 0) cells = n;
        if (n != cells) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    fs::path dir = fresh_dir();
    {
        std::ofstream out(dir / "t.csv", std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ScriptedTerminal terminal("");
    Console console(terminal);
    Shell shell(dir, console);
    FixedClock clock("14:03:59", "05-22-2017");
    std::mt19937 random(1);
    Session s(console, shell, dir, clock, random);
    s.selected_table = "t.csv";
    s.table_name = "t.csv";

    load_table(s);
    if (s.column_count < 0) std::abort();
    if (s.cells.size() < static_cast<std::size_t>(s.column_count) + 1) std::abort();
    if (s.column_names.size() < static_cast<std::size_t>(s.column_count) + 1) std::abort();

    int rows_written = 0;
    bool saved = save_table(s, "out.csv", rows_written);
    std::vector<std::string> lines = lines_of(bytes);
    if (saved && well_formed(lines)) {
        std::ifstream in(dir / "out.csv", std::ios::binary);
        std::ostringstream got;
        got << in.rdbuf();
        std::string want;
        for (const std::string& l : lines) want += l + "\r\n";
        if (got.str() != want) std::abort();
        if (rows_written != static_cast<int>(lines.size())) std::abort();
    }

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
