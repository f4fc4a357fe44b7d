// The sort engine on lines of about 40 bytes in mixed case, beside LC_ALL=C sort of the
// same lines lower-cased. Sizes (line counts) from the command line, else 10^5 and 10^6.
#include <cstdio>
#include <fstream>
#include <string>

#include "bench_common.h"
#include "console/tokens.h"
#include "viewer/sort_engine.h"

using namespace rowkeep;
using namespace rowkeep::bench;

namespace {

// The input as the engine reads it, and lower-cased for the standard tool.
void write_lines(const fs::path& dir, long lines) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> length(30, 50);
    std::ofstream mixed(dir / "input.txt", std::ios::binary);
    std::ofstream lower(dir / "lower.txt", std::ios::binary);
    for (long i = 0; i < lines; ++i) {
        std::string line = random_text(random, length(random));
        mixed << line << "\r\n";
        lower << lower_az(line) << "\n";
    }
}

// The engine writes CR LF; the standard tool LF.
bool same_lines(const fs::path& ours, const fs::path& theirs) {
    std::ifstream a(ours, std::ios::binary), b(theirs, std::ios::binary);
    std::string x, y;
    for (;;) {
        bool more_a = static_cast<bool>(std::getline(a, x));
        bool more_b = static_cast<bool>(std::getline(b, y));
        if (more_a != more_b) return false;
        if (!more_a) return true;
        if (!x.empty() && x.back() == '\r') x.pop_back();
        if (x != y) return false;
    }
}

// Sorts the given files one after another in one folder, as the export sorts its word
// records: for profiling the engine on inputs captured from the program.
int sort_files(int argc, char** argv) {
    ScratchDir dir;
    for (int i = 2; i < argc; ++i)
        fs::copy_file(argv[i], dir.path() / ("input_" + std::to_string(i) + ".txt"));
    Measured ours = measure_child([&] {
        BenchSession b(dir.path(), "");
        for (int i = 2; i < argc; ++i)
            sort_file(b.session, {"input_" + std::to_string(i) + ".txt", "output.txt", "bench"});
    });
    std::printf("sort of %d files: rowkeep %.3f s (peak %ld KiB)\n", argc - 2, ours.seconds,
                ours.peak_kib);
    return ours.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "file") return sort_files(argc, argv);
    for (long lines : sizes(argc, argv, {100000, 1000000})) {
        ScratchDir dir;
        write_lines(dir.path(), lines);
        Measured ours = measure_child([&] {
            BenchSession b(dir.path(), "");
            sort_file(b.session, {"input.txt", "output.txt", "bench"});
        });
        Measured theirs = measure_tool({"sort"}, dir.path() / "lower.txt", dir.path() / "std.txt");
        bool same = same_lines(dir.path() / "output.txt", dir.path() / "std.txt");
        std::printf(
            "sort %ld lines: rowkeep %.3f s (peak %ld KiB), LC_ALL=C sort %.3f s (peak %ld "
            "KiB), ratio %.2f, same order: %s\n",
            lines, ours.seconds, ours.peak_kib, theirs.seconds, theirs.peak_kib,
            ours.seconds / theirs.seconds, same ? "yes" : "NO");
        result("sort_file", lines, ours.seconds, ours.peak_kib, theirs.seconds, theirs.peak_kib,
               "LC_ALL=C sort");
        if (!ours.ok || !theirs.ok || !same) return 1;
    }
    return 0;
}
