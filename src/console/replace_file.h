// Replacing a file whole: the new content goes to a temporary beside the file, which then
// takes the file's place by rename. The file keeps its identity as far as the system lets
// it: mode, owner and group carry over, and a table reached through a symbolic link is
// replaced at the link's target, so the link stays a link. A read-only file is not replaced.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace rowkeep {

// ".rowkeep-" + the process id as 10 digits + "-" + 6 letters or digits + ".tmp": short and
// of one length whatever the file replaced, so a name near the system's limit can still be
// replaced, and a user's file never looks like one.
std::string temporary_name(long pid, std::string_view suffix);
// True only for a name of exactly that form; its process id goes to pid.
bool is_temporary_name(std::string_view name, long* pid = nullptr);

// The file a path leads to after following symbolic links; a link whose target is missing
// gives the target's path, so a replace creates the file there. 0 or an errno in error.
std::filesystem::path follow_links(const std::filesystem::path& path, int& error);

// Gives the file `from` the name `to` as well, on the terms of a replace: an existing `to`
// must be a regular file not marked read-only, and is replaced through a temporary name and
// a rename. 0 or an errno; nothing has changed on failure.
int link_replacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Gives the file `from` one more name: a fresh temporary beside it. The new path, or an
// empty one when none could be made.
std::filesystem::path link_temporary(const std::filesystem::path& from);

// Makes a new empty file under a fresh temporary name in `folder`, as writing a new file
// there would make it. Its path, or an empty one when none could be made.
std::filesystem::path new_temporary(const std::filesystem::path& folder);

// Where a replace lands: at the file a symbolic link leads to, or at the name itself.
enum class ReplaceAt { target, name };

class ReplacingFile {
  public:
    ReplacingFile() = default;
    ~ReplacingFile() { abandon(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Makes a temporary beside the file to be replaced (the link's target with
    // ReplaceAt::target, else the name itself) with that file's mode, owner and group, and
    // returns its descriptor, open for writing; the caller writes, syncs and closes it.
    // -1 with error() set when the file is read-only or not a regular file, or no
    // temporary can be made; nothing has changed then.
    int begin(const std::filesystem::path& target, ReplaceAt at);
    // Renames the closed temporary over the file; on failure removes it (the old file
    // stays as it was).
    bool commit();
    // Removes the temporary, if any; the old file stays as it was.
    void abandon();
    int error() const { return error_; }

  private:
    int error_ = 0;
    std::filesystem::path final_, temp_;
};

}  // namespace rowkeep
