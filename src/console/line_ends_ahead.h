// The line ends of the latter half of a working file (or of its next 16 MiB), found on a
// second thread while the reader indexes the former half. Which of them end rows depends on how
// many values the former half leaves the row at the split, known only when the reader gets there;
// so the thread keeps the line ends of every 64 bytes as a bit mask (an eighth of the bytes read),
// and the reader counts rows through the masks afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

#include "console/byte_kinds.h"
#include "console/row_starts.h"

namespace rowkeep {

class LineEndsAhead {
  public:
    struct Split {
        std::uint64_t over = std::uint64_t{8} << 20;  // the least left that is split
        // The most the thread takes on at a time, so its masks stay within 1 MiB however
        // long the file; a longer file is split again where the reader gets to.
        // (They come on top of the viewer's row index, and of a sort set-up's memory when
        // the viewer is entered from it.)
        std::uint64_t most = std::uint64_t{8} << 20;
    };
    ~LineEndsAhead() { stop(); }
    // Starts the thread on the file open as fd when at least split.over bytes are left
    // after `from`; it looks from the first line start after the middle of what is left
    // (of at most twice split.most), to at most split.most on. A thread not waited for is
    // stopped; it compares bytes as `scan` says. False (and no thread) where there is
    // nothing to split. The same object starts again and again over one file: its memory
    // is taken once.
    bool start(int fd, std::uint64_t from, const Split& split, byte_kinds::Scan scan);
    // Stops the thread and waits for it (before the file closes).
    void stop();
    // Where the thread's part begins: a line start, which must also be a value start for
    // its line ends to be values' ends.
    std::uint64_t split() const { return split_; }
    // Waits for the thread; then, for a reader that stands at split() with `need` values
    // still to take in the current row (0: a row starts there), notes the start of each
    // row that ends before the last plain line the thread found, and counts `need` on.
    // Returns where the reader reads on: after that line (split() when it found none).
    std::uint64_t take_rows(int columns, int& need, RowStarts& starts);

  private:
    void find(const std::stop_token& stop);

    int fd_ = -1;
    byte_kinds::Scan scan_ = byte_kinds::Scan::narrow;
    std::uint64_t split_ = 0, to_ = 0;
    // Written by the thread, read after it ends.
    std::vector<std::uint64_t> masks_;  // LF bits of each 64 bytes from split_ on
    std::uint64_t resume_ = 0;          // after the last line end in masks_
    std::unique_ptr<char[]> buffer_;    // what the thread reads into
    std::jthread thread_;
};

}  // namespace rowkeep
