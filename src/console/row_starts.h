// Where the rows of a working file start, as the row index notes them: the start of every
// stride-th row only, how many rows there are and where the last one starts. A million
// rows noted one by one took 8 MB, fresh memory that cost more to obtain than the reading.
#pragma once

#include <cstdint>
#include <vector>

namespace rowkeep {

class RowStarts {
  public:
    static constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

    // Keeps the starts of rows 1, 1 + stride, 1 + 2 * stride ... (none for a stride of 0).
    // After `limit` rows the start of the next one is refused: a reader that skips rows
    // stops there.
    explicit RowStarts(std::uint64_t stride = 1, std::uint64_t limit = kNoLimit)
        : stride_(stride), limit_(limit), next_kept_(stride > 0 ? 0 : kNoLimit) {}

    // Forgets the rows, keeping the memory for the next count.
    void clear() {
        kept_.clear();
        count_ = 0;
        last_ = 0;
        next_kept_ = stride_ > 0 ? 0 : kNoLimit;
    }

    // A row starts at byte `at`. False (and nothing noted) once `limit` rows are counted.
    bool add(std::uint64_t at) {
        if (count_ == limit_) return false;
        if (count_ == next_kept_) {
            kept_.push_back(at);
            next_kept_ += stride_;
        }
        last_ = at;
        ++count_;
        return true;
    }

    std::uint64_t stride() const { return stride_; }
    // kept()[k] is where row k * stride + 1 starts.
    const std::vector<std::uint64_t>& kept() const { return kept_; }
    std::uint64_t count() const { return count_; }
    std::uint64_t last() const { return last_; }  // 0 while count() is 0

  private:
    std::uint64_t stride_, limit_;
    std::uint64_t next_kept_;  // the row (from 0) whose start is kept next
    std::vector<std::uint64_t> kept_;
    std::uint64_t count_ = 0, last_ = 0;
};

}  // namespace rowkeep
