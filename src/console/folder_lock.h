// One program per folder: an exclusive flock on a lock file of the folder, held as long as
// the program runs. The system drops it when the program ends in any way, so a killed
// program never leaves the folder locked.
#pragma once

#include <string>
#include <string_view>

#include "console/file_system.h"

namespace rowkeep {

inline constexpr std::string_view kLockFile = ".rowkeep.lock";

class FolderLock {
  public:
    enum class State { held, busy, failed };

    // Tries the lock on the lock file of the file system's folder at once, without waiting
    // for it. The open is a failure point of the file system, and a failure is recorded
    // there.
    explicit FolderLock(const FileSystem& files);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    State state() const { return state_; }
    // Why the lock could not be taken, when state() is failed.
    const std::string& reason() const { return reason_; }

  private:
    int fd_ = -1;
    State state_ = State::failed;
    std::string reason_;
};

}  // namespace rowkeep
