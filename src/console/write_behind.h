// Writes a file's bytes on a thread of its own while the caller makes the next ones: a
// large file then costs the caller no time in the kernel. Pieces are written in the order
// they were started; the caller keeps each one's bytes unchanged until it is written
// (settle() tells). After a write fails, the pieces still waiting are dropped.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
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

    // Queues the bytes to be written to the file after the pieces before. False, with
    // nothing queued, when no thread is to be had: the caller writes them itself.
    bool start(int fd, std::string_view bytes);
    // Waits until at most `waiting` pieces are still to be written: 0, or the errno of a
    // write that failed (given once).
    int settle(std::size_t waiting = 0);
    // Pieces not yet written; the ones started before them are.
    std::size_t pending();

    // Writes all the bytes: 0, or the errno of the write that failed.
    static int write_all(int fd, std::string_view bytes);

  private:
    struct Piece {
        int fd;
        std::string_view bytes;
    };
    void serve();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> queue_;  // the first one is being written
    bool stop_ = false, broken_ = false;
    int error_ = 0;
    std::thread thread_;  // started with the first piece
};

}  // namespace rowkeep
