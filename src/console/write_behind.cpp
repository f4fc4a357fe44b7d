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
        changed_.wait(lock, [this] { return queue_.empty(); });
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
        queue_.push_back({fd, bytes});
    }
    changed_.notify_all();
    return true;
}

int WriteBehind::settle(std::size_t waiting) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() <= waiting; });
    return std::exchange(error_, 0);
}

std::size_t WriteBehind::pending() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void WriteBehind::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        const Piece piece = queue_.front();
        const bool write = !broken_;
        lock.unlock();
        const int error = write ? write_all(piece.fd, piece.bytes) : 0;
        lock.lock();
        if (error != 0) {
            broken_ = true;
            error_ = error;
        }
        queue_.pop_front();
        changed_.notify_all();
    }
}

}  // namespace rowkeep
