#include "console/deleted_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

namespace rowkeep {

DeletedFiles::~DeletedFiles() {
    settle();
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    if (thread_.joinable()) thread_.join();
}

int DeletedFiles::hold(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_size < kHeldFrom)
        return -1;
    {
        std::lock_guard lock(mutex_);
        if (no_thread_ || stop_) return -1;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { free_handed(); });
            } catch (const std::system_error&) {
                no_thread_ = true;
                return -1;
            }
        }
    }
    // Opens nothing, whatever the name has become since: a FIFO or a device put there
    // meanwhile is neither waited on nor woken.
    return ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

void DeletedFiles::release(int handle) {
    if (handle < 0) return;
    {
        std::lock_guard lock(mutex_);
        handles_.push_back(handle);
        pending_.store(true, std::memory_order_release);
    }
    work_.notify_one();
}

void DeletedFiles::free_handed() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stop_ || !handles_.empty(); });
        if (handles_.empty()) return;
        const int handle = handles_.front();
        handles_.pop_front();
        ++closing_;
        lock.unlock();
        ::close(handle);
        lock.lock();
        --closing_;
        if (handles_.empty() && closing_ == 0) {
            pending_.store(false, std::memory_order_release);
            done_.notify_all();
        }
    }
}

void DeletedFiles::settle() {
    if (!pending()) return;
    std::unique_lock lock(mutex_);
    // The newest first: the thread takes the oldest, so the two meet without waiting.
    while (!handles_.empty()) {
        const int handle = handles_.back();
        handles_.pop_back();
        ++closing_;
        lock.unlock();
        ::close(handle);
        lock.lock();
        --closing_;
    }
    done_.wait(lock, [this] { return handles_.empty() && closing_ == 0; });
    pending_.store(false, std::memory_order_release);
}

}  // namespace rowkeep
