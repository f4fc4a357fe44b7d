// Loading a table file of 10 columns into the working file (with every intermediate file),
// and saving it back, beside awk doing the same conversion to one quoted cell per line.
// Sizes (data rows) from the command line, else 10^4, 10^5 and 10^6.
#include <cstdio>
#include <string>

#include "bench_common.h"
#include "console/table_file.h"

using namespace rowkeep;
using namespace rowkeep::bench;

int main(int argc, char** argv) {
    for (long rows : sizes(argc, argv, {10000, 100000, 1000000})) {
        ScratchDir dir;
        write_table(dir.path() / "t.csv", rows, 10);
        auto bytes = fs::file_size(dir.path() / "t.csv");
        Measured load = measure_child([&] {
            BenchSession b(dir.path(), "");
            b.session.table_name = "t.csv";
            load_table(b.session);
            if (b.session.row_count != rows + 1) throw std::runtime_error("rows lost");
        });
        Measured awk = measure_tool(
            {"awk", "-F;",
             "{sub(/\\r$/, \"\"); for (i = 1; i <= NF; i++) printf \"\\\"%s\\\"\\r\\n\", $i}"},
            dir.path() / "t.csv", dir.path() / "awk.txt");
        bool same =
            fs::file_size(dir.path() / "awk.txt") == fs::file_size(dir.path() / "f_15_1.txt");
        Measured save = measure_child([&] {
            BenchSession b(dir.path(), "");
            b.session.table_name = "t.csv";
            b.session.row_count = rows + 1;  // the save writes only a whole working file
            b.session.column_count = 10;
            b.session.size_arrays();
            int written = 0;
            if (!save_table(b.session, "saved.csv", written)) throw std::runtime_error("not saved");
        });
        std::printf(
            "load %ld rows x 10 (%ju bytes): rowkeep %.3f s (peak %ld KiB), awk %.3f s "
            "(peak %ld KiB), ratio %.2f, same working file size: %s\n",
            rows, static_cast<std::uintmax_t>(bytes), load.seconds, load.peak_kib, awk.seconds,
            awk.peak_kib, load.seconds / awk.seconds, same ? "yes" : "NO");
        std::printf("save %ld rows x 10: rowkeep %.3f s (peak %ld KiB)\n", rows, save.seconds,
                    save.peak_kib);
        result("load_table", rows, load.seconds, load.peak_kib, awk.seconds, awk.peak_kib, "awk");
        result("save_table", rows, save.seconds, save.peak_kib);
        if (!load.ok || !save.ok || !awk.ok || !same) return 1;
    }
    return 0;
}
