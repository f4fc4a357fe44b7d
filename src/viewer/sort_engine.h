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

// Files made ahead for the runs of a sort of `lines` lines, on a thread of their own, while
// the caller goes on with other work. On ext4 without a journal a new file's inode is
// found only after a search past every inode freed in the last minutes, so making the
// hundreds of run files of a long sort can take longer than sorting it; made ahead, under
// temporary names, they only need to be named. What the sort does not take is removed.
class FilesAhead {
  public:
    // `have`: files the sort has already for its runs.
    FilesAhead(const FileSystem& files, std::size_t lines, std::size_t run_lines = 2000,
               std::size_t have = 0);
    ~FilesAhead();
    FilesAhead(const FilesAhead&) = delete;
    FilesAhead& operator=(const FilesAhead&) = delete;
    // Gives the next file made the name `path`, which no file has; false when none is left
    // (or the name is taken).
    bool give(const std::filesystem::path& path);

  private:
    struct Making;
    std::unique_ptr<Making> making_;
};

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
    // The run files are taken from files_ahead first, when set; else a sort of ahead_runs
    // runs or more makes its own.
    FilesAhead* files_ahead = nullptr;
    std::size_t ahead_runs = 8;
    // When set, called before each merge pass: tests change the run files there.
    std::function<void()> before_pass;
};

// Leaves the sorted lines in sort_out_name and sort_output.txt, and the run files
// file_03_<n>.txt. Ends the program on an empty sort_in_name or an order error.
void sort_file(Session& s, const SortJob& job);

}  // namespace rowkeep
