// Whole-program runs whose every file and screen must stay the same byte for byte while
// the program's internals get faster: load, the viewer's page and row moves, save with
// the export, and a sort set-up with two keys, on generated tables and on the real tables
// by others. Each run's folder (scratch files included) and screen are reduced to a
// manifest of name, size and hash, compared with the reference checked in under
// tests/sessions/byte_exact/.
//
// A change that is meant to alter a screen or a file recaptures the references with
//   ROWKEEP_CAPTURE_REFERENCE=1 build/rowkeep_tests --gtest_filter='ByteExact*'
// and the reference's diff then shows which files changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "file_manifest.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// A cell as users type them: words of both cases, numbers in the forms the sort key
// right-aligns, blanks around, letters of the code page's upper half, commas, double
// quotes, now and then empty or long.
std::string generated_cell(Lcg& g) {
    static const std::string kLetters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\xe1\xe8\xe9\xec\xed\xf3\xfa\xc1\xc8"
        "\xd8\x8a\x9a";
    switch (g.below(12)) {
        case 0:
            return "";
        case 1:
            return std::to_string(g.below(100000));
        case 2:
            return "-" + std::to_string(g.below(1000)) + "." + std::to_string(g.below(100));
        case 3:
            return "  " + std::to_string(g.below(50)) + " ";
        case 4:
            return "a,b \"c\" " + std::to_string(g.below(10));
        case 5:
            if (g.below(40) == 0) return std::string(300 + g.below(5000), 'L');
            [[fallthrough]];
        default: {
            std::string text;
            const int length = 1 + g.below(14);
            for (int i = 0; i < length; ++i)
                text += g.below(7) == 0 ? ' '
                                        : kLetters[static_cast<std::size_t>(
                                              g.below(static_cast<int>(kLetters.size())))];
            return text;
        }
    }
}

// A table file: a heading and rows of columns cells; some rows shorter, line ends mostly
// CR LF, some LF, the last line without one.
std::string generated_table(std::uint64_t seed, int rows, int columns) {
    Lcg g(seed);
    std::string table;
    for (int k = 1; k <= columns; ++k)
        table += (k > 1 ? ";" : "") + std::string("Col ") + char('A' + k - 1);
    table += "\r\n";
    for (int r = 1; r <= rows; ++r) {
        const int cells = g.below(15) == 0 ? 1 + g.below(columns) : columns;
        for (int k = 1; k <= cells; ++k) table += (k > 1 ? ";" : "") + generated_cell(g);
        if (r < rows) table += g.below(9) == 0 ? "\n" : "\r\n";
    }
    return table;
}

// Every file under the folder (by its path inside it), then the screen, where the
// folder's own name (in the interpreter's messages) differs from run to run.
std::vector<std::string> manifest(const fs::path& dir, std::string screen) {
    const std::string folder = dir.string();
    for (std::size_t at = screen.find(folder); at != std::string::npos;
         at = screen.find(folder, at))
        screen.replace(at, folder.size(), "<folder>");
    std::vector<std::string> lines = folder_manifest(dir);
    lines.push_back(manifest_line("<screen>", screen));
    return lines;
}

void compare_with_reference(const std::string& name, const std::vector<std::string>& lines) {
    rowkeep::testing::compare_with_reference(
        fs::path(ROWKEEP_SOURCE_DIR) / "tests/sessions/byte_exact" / (name + ".txt"), lines,
        "files or screen of " + name);
}

// From the start screen: the table chosen from the list loads into the viewer; then the
// keys given.
RunResult run_on_table(const TempDir& dir, const std::string& table_name, const std::string& table,
                       const std::string& keys) {
    dir.write(table_name, table);
    return run_program(dir.path(), std::string(kStartKeys) + "131\r" + keys);
}

// Viewer: down, down, moves of the top row down and up, a page down and up, columns
// right and left, wider and back. The keys then run out in the viewer, so the scratch
// files of the load and the moves stay for the manifest.
const std::string kViewMoves = "33yya+ya-412556";
// The same, then out of the viewer and the save with the export.
const std::string kViewAndSave = kViewMoves +
                                 "9"
                                 "9"
                                 "1"
                                 "x"
                                 "x";

// Viewer: sort set-up, columns 2 and 3 picked (as many as the table has), positions 1 to
// 6 and 2 to 9, the sort.
std::string sort_two_keys(const std::string& table) {
    int columns = 0;
    std::size_t start = 0;
    while (start < table.size()) {
        std::size_t end = table.find_first_of("\r\n", start);
        if (end == std::string::npos) end = table.size();
        const auto line = std::string_view(table).substr(start, end - start);
        columns =
            std::max(columns, static_cast<int>(std::count(line.begin(), line.end(), ';')) + 1);
        start = end + 1;
    }
    std::string keys = "s2";
    for (int k = 1; k <= columns; ++k) keys += k == 2 || k == 3 ? "3" : "x";
    keys += "8";
    if (columns >= 2) keys += "1\r6\rx";
    if (columns >= 3) keys += "2\r9\rx";
    return keys + "8";
}

// The sort set-up's keys, made for each table by sort_two_keys.
const std::string kSortTwoKeys;

void check_run(const std::string& name, const std::string& table_name, const std::string& table,
               std::string keys) {
    if (keys.empty()) keys = sort_two_keys(table);
    TempDir dir;
    RunResult r = run_on_table(dir, table_name, table, keys);
    compare_with_reference(name, manifest(dir.path(), r.screen));
}

TEST(ByteExact, GeneratedTableViewedAndSavedWithTheExport) {
    const std::string table = generated_table(11, 90, 5);
    check_run("generated_view", "Mixed.csv", table, kViewMoves);
    check_run("generated_view_save", "Mixed.csv", table, kViewAndSave);
}

// More than one run of the sort engine, so the merge has work to do.
TEST(ByteExact, GeneratedTableSortedOnTwoKeys) {
    check_run("generated_sort", "Mixed.csv", generated_table(12, 4500, 4), kSortTwoKeys);
}

TEST(ByteExact, SmallTablesKeepTheirEdges) {
    check_run("one_cell_view_save", "one.csv", "x", kViewAndSave);
    check_run("heading_only_sort", "head.csv", "A;B;C\r\n", kSortTwoKeys);
    check_run("empty_rows_sort", "gaps.csv", "A;B;C\r\n\r\n;;\r\n\r\nb;a\r\n", kSortTwoKeys);
}

fs::path real_folder() {
    return realdata_dir() / "csv";
}

TEST(ByteExact, RealTables) {
    if (!fs::exists(real_folder())) GTEST_SKIP() << realdata_absent(real_folder());
    // The small ones whole (the export writes pages a row); the sort on the larger ones.
    for (const std::string name :
         {"pl_nbp_archiwum_tab_a_2020.csv", "de_datev-export.csv", "de_bank_ing-mit-saldo.csv",
          "de_bank_dkb.csv", "de_bank_commerzbank.csv", "de_bank_deutsche-bank.csv"}) {
        SCOPED_TRACE(name);
        const std::string table = file_bytes(real_folder() / name);
        check_run("real_view_" + name, name, table, kViewMoves);
        check_run("real_view_save_" + name, name, table, kViewAndSave);
        check_run("real_sort_" + name, name, table, kSortTwoKeys);
    }
    for (const std::string name :
         {"de_bundeswahlleiter_btw17_kerg.csv", "it_istat_Elenco-comuni-italiani.csv"}) {
        SCOPED_TRACE(name);
        check_run("real_sort_" + name, name, file_bytes(real_folder() / name), kSortTwoKeys);
    }
}

}  // namespace
}  // namespace rowkeep::testing
