#include "html/background_trace.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace rowkeep {

BackgroundTrace::BackgroundTrace(const FileSystem& files, std::string_view name) : files_(files) {
    path_ = files_.resolve(name);
    file_ = files_.open_write(path_);
    if (!file_) failed_ = true;
}

bool BackgroundTrace::writable() {
    if (!file_ || failed_) return false;
    if (!written_) {
        written_ = true;
        if (!files_.first_write(path_)) failed_ = true;
    }
    return !failed_;
}

int BackgroundTrace::write_all(std::string_view bytes) const {
    const int fd = fileno(file_);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

void BackgroundTrace::settle() {
    int error = 0;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        error = std::exchange(thread_error_, 0);
    }
    if (error != 0 && !failed_) {
        failed_ = true;
        files_.fail(error, std::strerror(error));
    }
}

void BackgroundTrace::write(std::string_view bytes) {
    if (!writable()) return;
    settle();
    if (failed_) return;
    if (const int error = write_all(bytes)) {
        failed_ = true;
        files_.fail(error, std::strerror(error));
    }
}

void BackgroundTrace::take(std::string& bytes, std::size_t used) {
    if (!writable()) return;
    settle();
    if (failed_) return;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { serve(); });
        } catch (const std::system_error&) {
            // No thread to be had: the bytes are written here.
            write(std::string_view(bytes.data(), used));
            return;
        }
    }
    {
        std::lock_guard lock(mutex_);
        std::swap(held_, bytes);
        held_used_ = used;
        busy_ = true;
    }
    changed_.notify_all();
}

void BackgroundTrace::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || busy_; });
        if (!busy_) return;
        const std::string_view bytes(held_.data(), held_used_);
        lock.unlock();
        const int error = write_all(bytes);
        lock.lock();
        thread_error_ = error;
        busy_ = false;
        changed_.notify_all();
    }
}

bool BackgroundTrace::close() {
    if (thread_.joinable()) {
        settle();
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    if (!file_) return !failed_;
    // As a TextWriter closes: no flush after a failed write, a close in any case.
    if (!failed_ && !files_.flush(file_, path_, false)) failed_ = true;
    if (!files_.close(file_, path_)) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace rowkeep
