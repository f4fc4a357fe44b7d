// Whole-program runs on tables no one should write: each is selected, loaded, paged
// through, saved with its HTML page, and the program ended. None may crash, hang, or write
// anything outside the program's folder; the tables the load can keep are saved unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "console/table_file.h"
#include "harness.h"
#include "viewer/sort_engine.h"

namespace rowkeep::testing {
namespace {

// Select table 1, page down, right and down again, leave the viewer, save (with its
// HTML page), continue past the HTML results and the summary, and end from the end menu.
const std::string kWholeRun = std::string(kStartKeys) +
                              "1"
                              "31\r"
                              "3+13"
                              "9"
                              "9"
                              "1  "
                              "89";

struct BadRun {
    RunResult result;
    std::string saved;                 // the table file after the run
    std::vector<std::string> outside;  // anything that appeared beside the program's folder
};

// Runs the whole program in a folder of its own inside another, so that a file written
// outside the program's folder shows up beside it.
BadRun run_on(std::string_view table_bytes, Options options = {}) {
    TempDir outer;
    fs::path dir = outer.path() / "prog";
    fs::create_directories(dir);
    {
        std::ofstream(dir / "bad.csv", std::ios::binary)
            .write(table_bytes.data(), static_cast<std::streamsize>(table_bytes.size()));
    }
    BadRun run;
    run.result = run_program(dir, kWholeRun, options);
    std::ifstream in(dir / "bad.csv", std::ios::binary);
    run.saved.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    for (const auto& entry : fs::directory_iterator(outer.path()))
        if (entry.path().filename() != "prog") run.outside.push_back(entry.path().filename());
    return run;
}

void expect_whole_run(const BadRun& run) {
    EXPECT_FALSE(run.result.input_ended) << "the keys ran out before the program ended";
    auto lines = screen_lines(run.result.screen);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "End");
    EXPECT_NE(run.result.screen.find("bad.csv"), std::string::npos);
    EXPECT_NE(run.result.screen.find("copy/save ========== bad.csv"), std::string::npos);
    EXPECT_TRUE(run.outside.empty()) << "written outside: " << run.outside.front();
}

// The table as the program writes it back: the same lines, each ended CR LF.
std::string crlf_lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

TEST(BadInput, BinaryFile) {
    std::mt19937 random(7);
    std::string bytes(64 * 1024, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xff);
    BadRun run = run_on(bytes);
    expect_whole_run(run);
    EXPECT_FALSE(run.saved.empty());
}

TEST(BadInput, MebibyteSingleLine) {
    // 1 MiB keeps the suite quick.
    std::string line(1024 * 1024, 'x');
    for (std::size_t i = 997; i < line.size(); i += 1009) line[i] = ' ';
    BadRun run = run_on(line);
    expect_whole_run(run);
    // A cell far longer than a typed value stays one cell: the table comes back whole.
    EXPECT_EQ(run.saved, line + "\r\n");
}

TEST(BadInput, NulBytesInCells) {
    using namespace std::string_literals;
    std::vector<std::string> lines = {"a\0b;c"s, "1;\0"s, "\0\0;x\0y"s};
    BadRun run = run_on("a\0b;c\r\n1;\0\n\0\0;x\0y"s);
    expect_whole_run(run);
    EXPECT_EQ(run.saved, crlf_lines(lines));
}

TEST(BadInput, CarriageReturnLineEnds) {
    BadRun run = run_on("name;price\rapple;1\rpear;2\r");
    expect_whole_run(run);
    EXPECT_EQ(run.saved, crlf_lines({"name;price", "apple;1", "pear;2"}));
}

TEST(BadInput, ThousandColumns) {
    std::vector<std::string> lines;
    for (int row = 0; row < 30; ++row) {
        std::string line;
        for (int col = 1; col <= 1000; ++col) {
            if (col > 1) line += ';';
            line += (row == 0 ? "c" : "v" + std::to_string(row) + "_") + std::to_string(col);
        }
        lines.push_back(line);
    }
    BadRun run = run_on(crlf_lines(lines), {.cols = 200, .rows = 60});
    expect_whole_run(run);
    EXPECT_EQ(run.saved, crlf_lines(lines));
}

TEST(BadInput, OnlySemicolons) {
    std::vector<std::string> lines(3, std::string(50, ';'));
    BadRun run = run_on(crlf_lines(lines));
    expect_whole_run(run);
    EXPECT_EQ(run.saved, crlf_lines(lines));
    // A single line of them: a header of empty names and no data row.
    BadRun one = run_on(";");
    expect_whole_run(one);
    EXPECT_EQ(one.saved, ";\r\n");
}

TEST(BadInput, EmptyFile) {
    BadRun run = run_on("");
    expect_whole_run(run);
}

}  // namespace
}  // namespace rowkeep::testing
