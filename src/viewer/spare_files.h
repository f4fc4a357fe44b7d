// Files of the folder kept under hidden temporary names, each to become a new scratch file
// by a rename. On ext4 without a journal a new file is given an inode only after a search
// past every inode freed in the last minute or so, anyone's: making hundreds of files in a
// row (a sort's runs) costs more than the bytes written to them. A spare is a file that a
// delete would leave with no name (the last sort's run files, a run file a merge pass
// removes), or one made ahead on a thread of its own while the caller does other work.
// A spare is only ever a regular file with the mode, owner and group a new file of the
// folder would get, and no other name; it is written over and cut to what was written
// (TextWriter::open_over). What is not used is removed at the end.
// Where the file system allows, a spare is made without a name first and named after: the
// search for its inode then holds no lock of the folder, so the files the caller makes and
// renames there meanwhile do not wait for it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace rowkeep {

class SpareFiles {
  public:
    explicit SpareFiles(std::filesystem::path folder);
    // Stops making spares and removes the ones not given.
    ~SpareFiles();
    SpareFiles(const SpareFiles&) = delete;
    SpareFiles& operator=(const SpareFiles&) = delete;

    // Before the delete of the run files (file_03_*.txt): each whose names are all run-file
    // names gets one more, a temporary one, so the delete frees nothing.
    void keep_run_files();
    // Before `path` is removed: when that is the file's only name, it gets a temporary one.
    void keep(const std::filesystem::path& path);
    // Makes spares on a thread of its own until `count` have been made, or asked for and
    // not found ready (the caller then made its file itself). A later call may raise it.
    void make_ahead(std::size_t count);
    // Gives a spare the name `path`, which no file has; false when none is ready.
    bool give(const std::filesystem::path& path);
    // The spares ready now.
    std::size_t ready() const;
    // Waits until the spares asked for from make_ahead are made (for tests).
    void wait_made() const;

  private:
    void make_spares();
    // One new spare under a fresh temporary name; empty when none could be made.
    std::filesystem::path make_one();
    // A fresh temporary name of the folder for a spare (not yet taken when made).
    std::filesystem::path fresh_name();
    // `from` under one more name, a fresh temporary one; empty when none could be made.
    std::filesystem::path linked_name(const std::filesystem::path& from);
    // True when the file is one a new file of the folder would be, with no other name.
    bool like_new(const struct stat& st) const;

    std::filesystem::path folder_;
    long pid_;  // for the temporary names, asked once
    // Spares are given by a rename that fails where the name is taken (until the file
    // system refuses that kind once).
    std::atomic<bool> no_replace_{true};
    bool known_ = false;  // what a new file would be is known
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::filesystem::path> spares_;
    std::size_t wanted_ = 0, counted_ = 0;  // counted: made ahead, or asked for and missed
    bool stop_ = false, making_ = false;
    bool unnamed_ = true;  // spares are made without a name first (until that fails once)
    std::uint64_t seed_ = 0;
    std::atomic<std::uint64_t> named_{0};  // names handed out, for the next fresh one
    std::thread maker_;
};

}  // namespace rowkeep
