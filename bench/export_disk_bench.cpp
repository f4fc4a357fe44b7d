// The disk the save's HTML export uses: the peak of all files in the folder during the
// export, and the largest single file, beside what the export hands the user (htm_out).
// A sampler thread walks the folder every few milliseconds; the step hook samples too,
// so no step's files are missed between samples.
//
// Two kinds of table: generated tables of 10 columns (10^4 and 10^5 rows by default, or
// the row counts given), and one-cell tables whose cell is 1 MiB or 10 MiB long, with
// blanks between words and without any blank. For the long cells the export's time is
// set beside the same-size cell without blanks, and the largest file beside the cell.
//
//   export_disk_bench                 tables of 10^4 and 10^5 rows, then the long cells
//   export_disk_bench 10000           that table only
//   export_disk_bench cell 1048576    the long cells of that size only
//   export_disk_bench cell 1048576 random   the cell without blanks and one kind only
//                                     ("random" or "short"), for a profiler
//
// With ROWKEEP_BENCH_SNAPSHOTS=<folder> set, every file of the export's folder is listed
// there after each step with its size and a hash of its bytes, a file for each table:
// two builds' lists compared with diff show that every file, scratch files included, is
// the same at every step. The hashing costs time, so the figures of such a run mean
// nothing.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "console/table_file.h"
#include "html/html_export.h"

using namespace rowkeep;
using namespace rowkeep::bench;

namespace {

struct DiskUse {
    std::uintmax_t peak_total = 0;
    std::uintmax_t largest_file = 0;
    std::string largest_name;
};

// Sums the regular files under dir; files that vanish while it walks count as gone.
void sample(const fs::path& dir, DiskUse& use) {
    std::uintmax_t total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code size_ec;
        if (!it->is_regular_file(size_ec)) continue;
        const std::uintmax_t size = it->file_size(size_ec);
        if (size_ec) continue;
        total += size;
        if (size > use.largest_file) {
            use.largest_file = size;
            use.largest_name = it->path().filename().string();
        }
    }
    if (total > use.peak_total) use.peak_total = total;
}

std::uintmax_t folder_size(const fs::path& dir) {
    DiskUse use;
    sample(dir, use);
    return use.peak_total;
}

double thread_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct ExportRun {
    double seconds = 0;
    DiskUse disk;
    std::uintmax_t table_bytes = 0, output_bytes = 0;
    std::string steps;  // each step's seconds
    // Each step's CPU seconds on the export's own thread (user and system): on a loaded
    // machine the step's time less the time it waited for a core, and what a step moved
    // to another thread no longer counts.
    std::string thread_cpu;
    double thread_cpu_total = 0;
    bool ok = false;
};

// Loads t.csv of dir and runs the export on it, sampling the folder's size meanwhile.
// The table file and the load's working file are not counted: they are there before.
// Each file of the folder as it stands, its size and a hash of its bytes, as a line of
// the snapshot file (when one is asked for).
class Snapshots {
  public:
    explicit Snapshots(const std::string& table) {
        if (const char* root = std::getenv("ROWKEEP_BENCH_SNAPSHOTS"))
            out_.open(fs::path(root) / (table + ".txt"));
    }
    void take(const fs::path& dir, std::string_view step) {
        if (!out_.is_open()) return;
        std::vector<std::string> lines;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), {});
            lines.push_back(fs::relative(entry.path(), dir).string() + " " +
                            std::to_string(bytes.size()) + " " +
                            std::to_string(std::hash<std::string>{}(bytes)));
        }
        std::sort(lines.begin(), lines.end());
        out_ << "after " << step << "\n";
        for (const auto& line : lines) out_ << "  " << line << "\n";
    }

  private:
    std::ofstream out_;
};

ExportRun run_export(const fs::path& dir, long rows, const std::string& table) {
    ExportRun run;
    Snapshots snapshots(table);
    BenchSession b(dir, "xx");
    b.session.table_name = b.session.selected_table = "t.csv";
    b.session.code_page = "Windows-1250";
    b.session.program_file_name = "rowkeep.exe";
    load_table(b.session);
    if (b.session.row_count != rows + 1) return run;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename() != "t.csv" && entry.path().filename() != "f_15_1.txt")
            fs::remove(entry.path());
    run.table_bytes = fs::file_size(dir / "t.csv");
    const std::uintmax_t before = folder_size(dir);

    std::atomic<bool> done{false};
    DiskUse sampled;
    std::thread sampler([&] {
        while (!done.load()) {
            sample(dir, sampled);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    DiskUse at_steps;
    auto step_start = std::chrono::steady_clock::now();
    double cpu_start = thread_cpu_seconds();
    const double cpu_first = cpu_start;
    b.session.step_done = [&](std::string_view name) {
        const double cpu = thread_cpu_seconds();
        run.thread_cpu += std::string(name) + " " + std::to_string(cpu - cpu_start) + "; ";
        sample(dir, at_steps);
        snapshots.take(dir, name);
        run.steps += std::string(name) + " " + std::to_string(seconds_since(step_start)) + "; ";
        step_start = std::chrono::steady_clock::now();
        cpu_start = thread_cpu_seconds();
    };
    const auto start = std::chrono::steady_clock::now();
    html_export(b.session);
    run.seconds = seconds_since(start);
    snapshots.take(dir, "end");
    run.thread_cpu_total = thread_cpu_seconds() - cpu_first;
    done = true;
    sampler.join();

    run.disk = sampled.peak_total >= at_steps.peak_total ? sampled : at_steps;
    if (at_steps.largest_file > run.disk.largest_file) {
        run.disk.largest_file = at_steps.largest_file;
        run.disk.largest_name = at_steps.largest_name;
    }
    run.disk.peak_total -= std::min(run.disk.peak_total, before);
    run.output_bytes = folder_size(dir / "htm_out");
    run.ok =
        fs::exists(dir / "htm_out" / "index.htm") && fs::exists(dir / "htm_out" / "page_1.htm");
    return run;
}

double mib(std::uintmax_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

void report(const std::string& label, const ExportRun& r) {
    std::printf(
        "%s: export %.3f s; htm_out %.2f MiB; peak disk %.2f MiB (%.1fx htm_out); "
        "largest file %.2f MiB (%s)\n",
        label.c_str(), r.seconds, mib(r.output_bytes), mib(r.disk.peak_total),
        r.output_bytes
            ? static_cast<double>(r.disk.peak_total) / static_cast<double>(r.output_bytes)
            : 0.0,
        mib(r.disk.largest_file), r.disk.largest_name.c_str());
    std::printf("  steps (s): %s\n", r.steps.c_str());
    std::printf("  export thread CPU %.3f s (less the sampling at each step); by step (s): %s\n",
                r.thread_cpu_total, r.thread_cpu.c_str());
    std::fflush(stdout);
}

bool table_export(long rows) {
    if (rows > 100000) {
        std::printf("table %ld rows: skipped (above 100000 rows)\n", rows);
        return true;
    }
    ScratchDir dir;
    write_table(dir.path() / "t.csv", rows, 10);
    ExportRun r = run_export(dir.path(), rows, "rows" + std::to_string(rows));
    if (!r.ok) {
        std::printf("table %ld rows: export FAILED\n", rows);
        return false;
    }
    report("table " + std::to_string(rows) + " rows x 10 (" + std::to_string(r.table_bytes) +
               " bytes)",
           r);
    result("export disk peak KiB, rows", rows, static_cast<double>(r.disk.peak_total) / 1024, 0);
    return true;
}

// The cell's text: words of 2 to 12 letters with one blank between them (a page of
// short words, the most markup per byte), or the generators' random text of letters,
// digits and blanks (words of about 15 characters); without blanks, the same length of
// letters alone.
enum class Text { short_words, random_text, no_blanks };

std::string long_cell(std::size_t length, Text kind) {
    std::mt19937 random(11);
    if (kind == Text::random_text) return random_text(random, length);
    std::uniform_int_distribution<int> word_length(2, 12), letter(0, 25);
    std::string cell;
    cell.reserve(length);
    while (cell.size() < length) {
        int n = word_length(random);
        for (int i = 0; i < n && cell.size() < length; ++i)
            cell += static_cast<char>('a' + letter(random));
        if (cell.size() < length) cell += kind == Text::short_words ? ' ' : 'x';
    }
    return cell;
}

ExportRun cell_export(std::size_t length, Text kind) {
    ScratchDir dir;
    std::FILE* f = std::fopen((dir.path() / "t.csv").c_str(), "wb");
    const std::string text = "cell\r\n" + long_cell(length, kind) + "\r\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return run_export(
        dir.path(), 1,
        "cell" + std::to_string(length) + "_" + std::to_string(static_cast<int>(kind)));
}

bool cell_exports(std::size_t length, std::string_view only) {
    const std::string size = std::to_string(length) + " bytes";
    ExportRun plain = cell_export(length, Text::no_blanks);
    if (!plain.ok) {
        std::printf("cell %s: export FAILED\n", size.c_str());
        return false;
    }
    report("cell " + size + " without blanks", plain);
    result("export long cell, no blanks", static_cast<long>(length), plain.seconds, 0);
    for (auto [kind, name] : {std::pair{Text::short_words, "short words"},
                              std::pair{Text::random_text, "random text"}}) {
        if (!only.empty() && !std::string_view(name).starts_with(only)) continue;
        ExportRun spaced = cell_export(length, kind);
        if (!spaced.ok) {
            std::printf("cell %s, %s: export FAILED\n", size.c_str(), name);
            return false;
        }
        report("cell " + size + " with blanks, " + name, spaced);
        std::printf(
            "cell %s, %s: with blanks / without = %.2fx time; largest file / cell = "
            "%.1fx\n",
            size.c_str(), name, spaced.seconds / plain.seconds,
            static_cast<double>(spaced.disk.largest_file) / static_cast<double>(length));
        result(std::string("export long cell, ") + name, static_cast<long>(length), spaced.seconds,
               0);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool ok = true;
    if (argc >= 2 && std::strcmp(argv[1], "cell") == 0) {
        std::string_view only;
        for (int i = 2; i < argc; ++i)
            if (argv[i][0] < '0' || argv[i][0] > '9') only = argv[i];
        for (int i = 2; i < argc; ++i)
            if (argv[i][0] >= '0' && argv[i][0] <= '9')
                ok = cell_exports(std::strtoul(argv[i], nullptr, 10), only) && ok;
        return ok ? 0 : 1;
    }
    for (long rows : sizes(argc, argv, {10000, 100000})) ok = table_export(rows) && ok;
    if (argc < 2)
        for (std::size_t length : {std::size_t{1} << 20, std::size_t{10} << 20})
            ok = cell_exports(length, {}) && ok;
    return ok ? 0 : 1;
}
