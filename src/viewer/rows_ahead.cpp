#include "viewer/rows_ahead.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "console/table_file.h"

namespace rowkeep {

namespace {

// A batch is handed over after this many rows or bytes: few hand-overs for a long table,
// and the reading never far ahead of its use.
constexpr std::size_t kBatchRows = 4096;
constexpr std::size_t kBatchBytes = std::size_t{1} << 16;
constexpr std::size_t kBatchesAhead = 2;

}  // namespace

RowsAhead::RowsAhead(TextReader& in, int columns, int column, long rows_max)
    : in_(in), columns_(columns), column_(column), left_(std::max(rows_max, 0L)) {
    if (left_ == 0 || columns_ <= 0) {
        done_ = true;
        return;
    }
    // Rows that fit in one batch are read when they are asked for: no thread for a short table.
    if (left_ <= static_cast<long>(kBatchRows)) return;
    try {
        thread_ = std::thread([this] { read_ahead(); });
    } catch (const std::system_error&) {
        // No thread to be had: next() reads each batch when it needs it.
    }
}

RowsAhead::~RowsAhead() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

// The rows as the set-up's own loops read them: none where no byte is left, and a row cut
// short by the file's end has empty values.
void RowsAhead::read_batch(Batch& batch) {
    batch.bytes.clear();
    batch.ends.clear();
    batch.last = false;
    while (batch.ends.size() < kBatchRows && batch.bytes.size() < kBatchBytes) {
        if (left_ == 0 || !row_available(in_, columns_)) {
            batch.last = true;
            return;
        }
        --left_;
        for (int k = 1; k <= columns_; ++k) {
            if (column_ == 0 || k == column_) {
                if (column_ == 0 && k > 1) batch.bytes += ';';
                in_.read_value(value_);
                batch.bytes += value_;
            } else {
                in_.skip_value();
            }
        }
        batch.ends.push_back(batch.bytes.size());
    }
    batch.last = left_ == 0;
}

void RowsAhead::read_ahead() {
    try {
        for (;;) {
            Batch batch;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return stop_ || ready_.size() < kBatchesAhead; });
                if (stop_) return;
                if (!spare_.empty()) {
                    batch = std::move(spare_.front());
                    spare_.pop_front();
                }
            }
            read_batch(batch);
            const bool last = batch.last;
            {
                std::lock_guard lock(mutex_);
                ready_.push_back(std::move(batch));
            }
            changed_.notify_all();
            if (last) return;
        }
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
        }
        changed_.notify_all();
    }
}

void RowsAhead::take_batch() {
    if (!thread_.joinable()) {
        read_batch(current_);
    } else {
        {
            std::unique_lock lock(mutex_);
            spare_.push_back(std::move(current_));
            changed_.wait(lock, [this] { return !ready_.empty() || failure_; });
            if (ready_.empty()) std::rethrow_exception(failure_);
            current_ = std::move(ready_.front());
            ready_.pop_front();
        }
        changed_.notify_all();
    }
    bytes_ = current_.bytes.data();
    ends_ = current_.ends.data();
    rows_ = current_.ends.size();
    row_ = from_ = 0;
}

bool RowsAhead::next_batch(std::string_view& text) {
    while (row_ == rows_) {
        if (done_) return false;
        if (current_.last) {
            // The reader's last row is given: it is the caller's again.
            if (thread_.joinable()) thread_.join();
            done_ = true;
            return false;
        }
        take_batch();
    }
    return next(text);
}

}  // namespace rowkeep
