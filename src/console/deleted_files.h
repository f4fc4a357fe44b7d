// Deleted files whose storage is still being given back. The delete of a file's last name
// frees its cached pages and its blocks inside the call, which for a large scratch file
// costs the deleting thread milliseconds (a save ends by deleting hundreds of megabytes).
// Here a large file is held by a handle that opens nothing (O_PATH) across the delete of
// its name, and a thread of its own lets go of the handle: the freeing happens there.
// The name goes, and the delete succeeds or fails, on the caller's thread as before.
// Whatever may take space waits for the freeing first (settle), so a nearly full disk
// offers a write the space it would have had; so does the end of the program.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

namespace rowkeep {

class DeletedFiles {
  public:
    DeletedFiles() = default;
    // Waits for every freeing handed over.
    ~DeletedFiles();
    DeletedFiles(const DeletedFiles&) = delete;
    DeletedFiles& operator=(const DeletedFiles&) = delete;

    // Before `path` is deleted: a handle keeping the file alive past the delete of its
    // name, or -1 where that saves nothing (a small file, one with other names, no file)
    // or no thread can run; the delete then frees as it always did.
    int hold(const std::filesystem::path& path);
    // After the delete, whether it succeeded or not: the handle is let go of on the thread.
    void release(int handle);
    // Returns once every file deleted so far is freed, freeing some here meanwhile.
    void settle();
    // True while a freeing handed over is not done (for tests).
    bool pending() const { return pending_.load(std::memory_order_acquire); }

    // Files smaller than this are freed by the delete itself: their freeing costs less
    // than handing them over.
    static constexpr long long kHeldFrom = 256 * 1024;

  private:
    void free_handed();

    std::mutex mutex_;
    std::condition_variable work_, done_;
    std::deque<int> handles_;
    int closing_ = 0;  // handles the thread is letting go of now
    bool stop_ = false, no_thread_ = false;
    std::atomic<bool> pending_{false};
    std::thread thread_;
};

}  // namespace rowkeep
