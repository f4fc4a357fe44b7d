// The viewer on a working file of 10 columns: the time of its entry (row index and first
// page) and of each page for 200 keys "+", "3", "1", "5", "-", at 10^3 rows beside 10^6
// rows. Sizes (data rows) from the command line, else 10^3, 10^4, 10^5 and 10^6.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_common.h"
#include "viewer/view_table.h"

using namespace rowkeep;
using namespace rowkeep::bench;

namespace {

struct PageTimes {
    double entry = 0, mean = 0, median = 0, worst = 0;
    double bytes_per_page = 0;
};

PageTimes view(const fs::path& dir, int top_row) {
    std::string keys;
    for (int i = 0; i < 200; ++i) keys += "+315-"[i % 5];
    keys += "9";
    BenchSession b(dir, keys);
    b.session.table_name = "t.csv";
    b.session.column_count = 10;
    b.session.first_col = 1;
    auto start = std::chrono::steady_clock::now();
    view_table(b.session, top_row);
    const auto& at = b.terminal.deliveries;
    PageTimes t;
    t.entry = std::chrono::duration<double>(at.front() - start).count();
    std::vector<double> pages;
    for (std::size_t i = 1; i < at.size(); ++i)
        pages.push_back(std::chrono::duration<double>(at[i] - at[i - 1]).count());
    for (double p : pages) t.mean += p / static_cast<double>(pages.size());
    std::sort(pages.begin(), pages.end());
    t.median = pages[pages.size() / 2];
    t.worst = pages.back();
    t.bytes_per_page = static_cast<double>(b.terminal.written) / static_cast<double>(at.size());
    return t;
}

// Runs the viewer in a child (its own peak memory); the figures come back through a file.
bool measure(const fs::path& dir, int top_row, PageTimes& t, long& peak_kib) {
    const fs::path figures = dir / "figures.bin";
    Measured m = measure_child([&] {
        PageTimes got = view(dir, top_row);
        std::FILE* f = std::fopen(figures.c_str(), "wb");
        std::fwrite(&got, sizeof got, 1, f);
        std::fclose(f);
    });
    peak_kib = m.peak_kib;
    std::FILE* f = std::fopen(figures.c_str(), "rb");
    if (!f) return false;
    bool read = std::fread(&t, sizeof t, 1, f) == 1;
    std::fclose(f);
    return m.ok && read;
}

}  // namespace

int main(int argc, char** argv) {
    double first_mean = 0;
    for (long rows : sizes(argc, argv, {1000, 10000, 100000, 1000000})) {
        ScratchDir dir;
        write_working_file(dir.path() / "f_15_1.txt", rows, 10);
        // From the first row, and from the middle of the table, where a viewer that
        // reads from the start would pay for every row before the page.
        for (int top_row : {1, static_cast<int>(rows / 2)}) {
            PageTimes t;
            long peak_kib = 0;
            if (!measure(dir.path(), top_row, t, peak_kib)) return 1;
            if (first_mean == 0) first_mean = t.mean;
            std::printf(
                "viewer %ld rows x 10 from row %d: entry %.3f ms, per page mean %.4f ms, "
                "median %.4f ms, worst %.4f ms, %.0f bytes a page, mean / first mean "
                "%.2f, peak %ld KiB\n",
                rows, top_row, t.entry * 1e3, t.mean * 1e3, t.median * 1e3, t.worst * 1e3,
                t.bytes_per_page, t.mean / first_mean, peak_kib);
            std::string where = top_row == 1 ? " (top)" : " (middle)";
            result("view_table entry" + where, rows, t.entry, peak_kib);
            result("view_table page" + where, rows, t.mean, peak_kib);
        }
    }
    return 0;
}
