#include "html/background_trace.h"

#include <cstring>
#include <utility>

namespace rowkeep {

namespace {

// Pieces of nearly a megabyte waiting for the thread: a thread that waits for a core is
// not waited for at once.
constexpr std::size_t kPieces = 2;

}  // namespace

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

void BackgroundTrace::settle(std::size_t waiting) {
    const int error = behind_.settle(waiting);
    if (error != 0 && !failed_) {
        failed_ = true;
        files_.fail(error, std::strerror(error));
    }
}

void BackgroundTrace::write(std::string_view bytes) {
    if (!writable()) return;
    settle(0);
    if (failed_) return;
    if (const int error = WriteBehind::write_all(fileno(file_), bytes)) {
        failed_ = true;
        files_.fail(error, std::strerror(error));
    }
}

void BackgroundTrace::take(TraceBuffer& bytes, std::size_t used) {
    if (!writable()) return;
    settle(kPieces - 1);
    if (failed_) return;
    const std::string_view piece(bytes.bytes.get(), used);
    if (!behind_.start(fileno(file_), piece)) {
        write(piece);
        return;
    }
    // The scanner goes on in the oldest buffer already written, else in a new one (made
    // by the scanner, without a fill).
    const bool written = held_.size() >= behind_.pending();
    held_.push_back(std::move(bytes));
    bytes = TraceBuffer();
    if (written) {
        bytes = std::move(held_.front());
        held_.pop_front();
    }
}

bool BackgroundTrace::close() {
    settle(0);
    held_.clear();
    if (!file_) return !failed_;
    // As a TextWriter closes: no flush after a failed write, a close in any case.
    if (!failed_ && !files_.flush(file_, path_, false)) failed_ = true;
    if (!files_.close(file_, path_)) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace rowkeep
