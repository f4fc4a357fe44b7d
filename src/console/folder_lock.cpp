#include "console/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rowkeep {

FolderLock::FolderLock(const std::filesystem::path& folder) {
    const std::filesystem::path path = folder / std::string(kLockFile);
    // Never through a link, never blocking on a FIFO planted under the name.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        reason_ = std::string(kLockFile) + ": " + std::strerror(errno);
        return;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason_ = std::string(kLockFile) + ": not a regular file";
        return;
    }
    int result;
    while ((result = flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result == 0) {
        state_ = State::held;
    } else if (errno == EWOULDBLOCK) {
        state_ = State::busy;
    } else {
        reason_ = std::string(kLockFile) + ": " + std::strerror(errno);
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace rowkeep
