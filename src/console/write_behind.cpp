#include "console/write_behind.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace rowkeep {

WriteBehind::~WriteBehind() {
    if (!thread_.joinable()) return;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

int WriteBehind::write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

bool WriteBehind::start(int fd, std::string_view bytes) {
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { serve(); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    {
        std::lock_guard lock(mutex_);
        fd_ = fd;
        bytes_ = bytes;
        busy_ = true;
    }
    changed_.notify_all();
    return true;
}

int WriteBehind::settle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    return std::exchange(error_, 0);
}

void WriteBehind::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || busy_; });
        if (!busy_) return;
        const int fd = fd_;
        const std::string_view bytes = bytes_;
        lock.unlock();
        const int error = write_all(fd, bytes);
        lock.lock();
        if (error_ == 0) error_ = error;
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace rowkeep
