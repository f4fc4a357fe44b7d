// Writes a file's bytes on a thread of its own while the caller makes the next ones: a
// large file then costs the caller no time in the kernel. One piece at a time: the caller
// keeps the bytes it started unchanged until settle() returns.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>

namespace rowkeep {

class WriteBehind {
  public:
    WriteBehind() = default;
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Starts writing the bytes to the file after the piece before (settle() first). False,
    // with nothing started, when no thread is to be had: the caller writes them itself.
    bool start(int fd, std::string_view bytes);
    // Waits until the piece started last is written: 0, or the errno of a write that
    // failed (given once).
    int settle();

    // Writes all the bytes: 0, or the errno of the write that failed.
    static int write_all(int fd, std::string_view bytes);

  private:
    void serve();

    std::mutex mutex_;
    std::condition_variable changed_;
    int fd_ = -1;
    std::string_view bytes_;
    bool busy_ = false, stop_ = false;
    int error_ = 0;
    std::thread thread_;  // started with the first piece
};

}  // namespace rowkeep
