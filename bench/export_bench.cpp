// The save's HTML export of a generated table of 10 columns: the table is loaded into the
// working file, then the export runs and each of its steps is timed through the session's
// step hook (table page, code page check, extraction, the two sorts, numbering, anchored,
// index and search pages, results). The first sort is set beside `LC_ALL=C sort` of the
// same word file. Peak memory is the child's own. Sizes (data rows) from the command
// line, else 10^4; sizes above 10^5 are skipped (their word files run into gigabytes).
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bench_common.h"
#include "console/table_file.h"
#include "html/html_export.h"

using namespace rowkeep;
using namespace rowkeep::bench;

namespace {

constexpr long kLargest = 100000;

struct Step {
    std::string name;
    double seconds;
};

// Runs the export in this process, printing each step as it ends; keeps wrd_01.txt aside
// for the standard sort.
bool export_table(const fs::path& dir, long rows, const fs::path& words_copy) {
    BenchSession b(dir, "xx");
    b.session.table_name = b.session.selected_table = "t.csv";
    b.session.code_page = "Windows-1250";
    b.session.program_file_name = "rowkeep.exe";
    auto start = std::chrono::steady_clock::now();
    load_table(b.session);
    if (b.session.row_count != rows + 1) return false;
    std::printf("  %-22s %9.3f s\n", "load", seconds_since(start));

    std::vector<Step> steps;
    auto step_start = std::chrono::steady_clock::now();
    const auto export_start = step_start;
    b.session.step_done = [&](std::string_view name) {
        steps.push_back({std::string(name), seconds_since(step_start)});
        std::printf("  %-22s %9.3f s\n", std::string(name).c_str(), steps.back().seconds);
        std::fflush(stdout);
        if (name == "extraction") fs::copy_file(dir / "wrd_01.txt", words_copy);
        step_start = std::chrono::steady_clock::now();
    };
    html_export(b.session);
    const double total = seconds_since(export_start);
    std::printf("  %-22s %9.3f s\n", "export total", total);
    for (const Step& s : steps) result("export " + s.name, rows, s.seconds, 0);
    result("export total", rows, total, 0);
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("  peak RSS (getrusage)   %9ld KiB\n", self.ru_maxrss);
    return fs::exists(dir / "htm_out" / "index.htm") && fs::exists(dir / "htm_out" / "page_1.htm");
}

}  // namespace

int main(int argc, char** argv) {
    for (long rows : sizes(argc, argv, {10000})) {
        if (rows > kLargest) {
            std::printf("export %ld rows: skipped (above %ld rows)\n", rows, kLargest);
            continue;
        }
        ScratchDir dir;
        ScratchDir aside;
        write_table(dir.path() / "t.csv", rows, 10);
        const fs::path words = aside.path() / "wrd_01.txt";
        std::printf("export %ld rows x 10 (%ju bytes):\n", rows,
                    static_cast<std::uintmax_t>(fs::file_size(dir.path() / "t.csv")));
        Measured whole = measure_child([&] {
            if (!export_table(dir.path(), rows, words)) throw std::runtime_error("export failed");
        });
        if (!whole.ok) {
            std::printf("export %ld rows: FAILED\n", rows);
            return 1;
        }
        Measured sort = measure_tool({"sort"}, words, aside.path() / "sorted.txt");
        std::printf("  load and export %.3f s, peak %ld KiB (wait4 of the child)\n", whole.seconds,
                    whole.peak_kib);
        std::printf("  word file %ju bytes; LC_ALL=C sort of it %.3f s (peak %ld KiB)\n",
                    static_cast<std::uintmax_t>(fs::file_size(words)), sort.seconds, sort.peak_kib);
        result("load and export", rows, whole.seconds, whole.peak_kib);
        result("export wrd_01 sort (tool)", rows, sort.seconds, sort.peak_kib);
    }
    return 0;
}
