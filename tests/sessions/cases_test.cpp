// Whole-program cases kept as data: each folder of tests/sessions/cases/ holds
//   keys       the keys typed: line breaks of the file are left out, and \r (Enter), \e
//              (Esc), \\ and \xNN stand for their bytes
//   console    optional: "<cols> <rows>" (80 25 when absent)
//   before/    the working folder's files before the run
//   screen.txt everything the screen showed, CR LF written as a line break, a clear-screen
//              as "\e[H\e[2J", other control bytes as \r, \n, \e or \xNN, "\" as "\\"
//   after/     every file of the folder after the run, byte for byte
// The program must end itself (the keys must not run out). A change that is meant to alter
// a screen or a file rewrites the expectations from a run, for review in the diff:
//   ROWKEEP_REWRITE_CASES=1 build/rowkeep_tests --gtest_filter='Cases*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace rowkeep::testing {
namespace {

const fs::path kCases = fs::path(ROWKEEP_SOURCE_DIR) / "tests" / "sessions" / "cases";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spill(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The keys file's text as the bytes typed.
std::string decode_keys(const std::string& text) {
    std::string keys;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n' || c == '\r') continue;
        if (c != '\\' || i + 1 == text.size()) {
            keys += c;
            continue;
        }
        char e = text[++i];
        if (e == 'r') {
            keys += '\r';
        } else if (e == 'e') {
            keys += '\x1b';
        } else if (e == 'x' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 &&
                   hex_digit(text[i + 2]) >= 0) {
            keys += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
            i += 2;
        } else {
            keys += e;
        }
    }
    return keys;
}

// The screen as screen.txt keeps it: readable in a diff, every byte accounted for.
std::string encode_screen(const std::string& screen) {
    static const char* kHex = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < screen.size(); ++i) {
        const auto c = static_cast<unsigned char>(screen[i]);
        if (c == '\r' && i + 1 < screen.size() && screen[i + 1] == '\n') {
            text += '\n';
            ++i;
        } else if (c == '\\') {
            text += "\\\\";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == 0x1b) {
            text += "\\e";
        } else if (c < 0x20 || c == 0x7f) {
            text += "\\x";
            text += kHex[c >> 4];
            text += kHex[c & 15];
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

// Every file below the folder, by its relative name.
std::map<std::string, std::string> files_below(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(folder).generic_string()] = slurp(entry.path());
    return files;
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    if (fs::exists(kCases))
        for (const auto& entry : fs::directory_iterator(kCases))
            if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Cases : public ::testing::TestWithParam<std::string> {};

TEST_P(Cases, ScreenAndFilesAsRecorded) {
    const fs::path here = kCases / GetParam();
    TempDir dir;
    for (const auto& [name, bytes] : files_below(here / "before")) spill(dir.path() / name, bytes);
    Options options;
    if (fs::exists(here / "console")) {
        std::istringstream size(slurp(here / "console"));
        size >> options.cols >> options.rows;
    }
    RunResult r = run_program(dir.path(), decode_keys(slurp(here / "keys")), options);
    const std::string screen = encode_screen(r.screen);
    const auto after = files_below(dir.path());

    const char* rewrite = std::getenv("ROWKEEP_REWRITE_CASES");
    if (rewrite && *rewrite) {
        spill(here / "screen.txt", screen);
        fs::remove_all(here / "after");
        for (const auto& [name, bytes] : after) spill(here / "after" / name, bytes);
        GTEST_SKIP() << "expectations of " << GetParam() << " rewritten from this run";
    }
    EXPECT_FALSE(r.input_ended) << "the keys ran out before the program ended";
    EXPECT_EQ(screen, slurp(here / "screen.txt"));
    const auto expected = files_below(here / "after");
    for (const auto& [name, bytes] : expected) {
        auto found = after.find(name);
        if (found == after.end())
            ADD_FAILURE() << name << " is missing after the run";
        else
            EXPECT_EQ(found->second, bytes) << "in " << name;
    }
    for (const auto& [name, bytes] : after)
        EXPECT_TRUE(expected.count(name)) << name << " was left behind by the run";
}

INSTANTIATE_TEST_SUITE_P(Sessions, Cases, ::testing::ValuesIn(case_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace rowkeep::testing
