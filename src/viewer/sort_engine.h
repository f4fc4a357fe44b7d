// The sort engine: sorts the lines of a file, lower-cased, into another.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "console/session.h"

namespace rowkeep {

class SpareFiles;

// What to sort: the lines of sort_in_name into sort_out_name, sort_label starting each
// progress line (empty when the caller gives none). Runs of run_lines lines are merged
// merge_width at a time; tests make them small to reach several passes quickly. While the
// runs hold keep_bytes or less together, they are kept in memory for the first merge. A
// pass of split_lines lines or more is merged by two threads, each the lines on one side
// of a key; every sample_lines-th line of a run is noted to find that key.
struct SortJob {
    SortJob(std::string in, std::string out, std::string label = "")
        : sort_in_name(std::move(in)),
          sort_out_name(std::move(out)),
          sort_label(std::move(label)) {}
    std::string sort_in_name, sort_out_name, sort_label;
    std::size_t run_lines = 2000;
    std::size_t merge_width = 200;
    std::size_t keep_bytes = std::size_t{8} << 20;
    std::size_t split_lines = 8192;
    std::size_t sample_lines = 128;
    std::size_t* passes_split = nullptr;  // when set, counts the passes merged by two threads
    // Files for the runs and the output, kept from one sort for the next or made ahead;
    // when null, the sort keeps the last sort's run files for its own, and no longer.
    SpareFiles* spares = nullptr;
    // sort_out_name becomes a second name of sort_output.txt instead of a copy: for a caller
    // that never writes to it (a later sort moves its own name aside before writing).
    bool share_output = false;
    // A sort of ahead_runs runs or more, given no spares, has its run files made ahead on a
    // thread of their own (SpareFiles::make_ahead).
    std::size_t ahead_runs = 8;
    // When set, called before each merge pass: tests change the run files there.
    std::function<void()> before_pass;
};

// Has `spares` make ahead, on its thread, the run files a sort of `lines` lines needs beyond
// the spares it holds (the last sort's run files, once kept).
void make_run_files_ahead(SpareFiles& spares, std::size_t lines, std::size_t run_lines = 2000);

// Leaves the sorted lines in sort_out_name and sort_output.txt, and the run files
// file_03_<n>.txt. Ends the program on an empty sort_in_name or an order error.
void sort_file(Session& s, const SortJob& job);

}  // namespace rowkeep
