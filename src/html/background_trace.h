// A page's trace file written on a thread of its own: the scanner hands over nearly a
// megabyte of trace at a time and goes on scanning while the kernel takes the bytes. The
// file's failure points (open, first write, flush, close) are passed on the caller's thread, in
// the order and at the moments a TextWriter passes them; a write that fails on the thread
// is recorded, as the TextWriter records it, at the next hand-over or at the close.
#pragma once

#include <cstdio>
#include <deque>
#include <string>
#include <string_view>

#include "console/file_system.h"
#include "console/write_behind.h"
#include "html/keyword_scanner.h"

namespace rowkeep {

class BackgroundTrace final : public TraceFile {
  public:
    // Creates or empties the file of that name.
    BackgroundTrace(const FileSystem& files, std::string_view name);
    ~BackgroundTrace() { close(); }
    BackgroundTrace(const BackgroundTrace&) = delete;
    BackgroundTrace& operator=(const BackgroundTrace&) = delete;

    // Written here, after the pieces handed over before it.
    void write(std::string_view bytes) override;
    // The first `used` bytes go to the thread with the buffer; `bytes` gets an idle one.
    void take(TraceBuffer& bytes, std::size_t used) override;
    // False when anything could not be written.
    bool close();

  private:
    // The first write's failure point; false when nothing more is to be written.
    bool writable();
    // Waits until at most `waiting` pieces are still to be written, and records a failed
    // write.
    void settle(std::size_t waiting);

    FileSystem files_;
    fs::path path_;
    std::FILE* file_ = nullptr;
    bool failed_ = false, written_ = false;
    std::deque<TraceBuffer> held_;  // the buffers handed over, oldest first
    WriteBehind behind_;
};

}  // namespace rowkeep
