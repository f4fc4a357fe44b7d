#include "console/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rowkeep {

FolderLock::FolderLock(const FileSystem& files) {
    const std::filesystem::path path = files.dir() / std::string(kLockFile);
    auto fail = [&](int error, const std::string& why) {
        reason_ = std::string(kLockFile) + ": " + why;
        files.fail(error, reason_);
    };
    if (!files.allow(FileOp::open, path)) {
        reason_ = std::string(kLockFile) + ": " + std::strerror(errno);
        return;
    }
    // Never through a link, never blocking on a FIFO planted under the name.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        const int error = errno;
        fail(error, std::strerror(error));
        return;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(EINVAL, "not a regular file");
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
        const int error = errno;
        fail(error, std::strerror(error));
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace rowkeep
