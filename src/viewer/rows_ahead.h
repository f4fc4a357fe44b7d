// The rows of the working file read a batch ahead on a thread of their own, while the
// caller works on the rows before: the sort set-up's passes over a long table spend as
// much on parsing values as on the rest of a row.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/records.h"
#include "console/short_copy.h"

namespace rowkeep {

class RowsAhead {
  public:
    // Reads from where `in` stands rows of `columns` values, at most rows_max of them. A
    // row's text is the value in `column` (the others passed over), or with column 0 all
    // its values joined by ";". The reader is not to be used until next() said false.
    RowsAhead(TextReader& in, int columns, int column, long rows_max);
    ~RowsAhead();
    RowsAhead(const RowsAhead&) = delete;
    RowsAhead& operator=(const RowsAhead&) = delete;

    // The next row's text, valid until the next call. False once rows_max rows were given
    // or when no row is left where the next would start (as row_available tells): from
    // then on the reader stands after the last row given and is the caller's again.
    bool next(std::string_view& text) {
        if (row_ == rows_) return next_batch(text);
        const std::size_t end = ends_[row_++];
        text = std::string_view(bytes_ + from_, end - from_);
        from_ = end;
        return true;
    }

  private:
    struct Batch {
        std::string bytes;  // the rows' texts: the first size bytes
        std::size_t size = 0;
        std::vector<std::size_t> ends;  // where each row's text ends in bytes
        bool last = false;              // no rows follow this batch's
        void put(const char* text, std::size_t n) {
            if (size + n > bytes.size()) grow(n);
            // A value is mostly a few bytes.
            copy_short(bytes.data() + size, text, n);
            size += n;
        }
        void put(char c) {
            if (size == bytes.size()) grow(1);
            bytes[size++] = c;
        }
        void grow(std::size_t n) { bytes.resize(std::max(size + n, 2 * bytes.size() + 256)); }
    };
    void read_batch(Batch& batch);
    void read_row(std::string_view ahead, Batch& batch);
    void read_ahead();
    void take_batch();
    bool next_batch(std::string_view& text);

    TextReader& in_;
    const int columns_, column_;
    long left_;  // rows not yet read
    Batch current_;
    // current_ as next() reads it: its bytes, the ends of its rows, the next row and where
    // it starts.
    const char* bytes_ = nullptr;
    const std::size_t* ends_ = nullptr;
    std::size_t rows_ = 0, row_ = 0, from_ = 0;
    bool done_ = false;  // the reader's last row was given
    std::string value_;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> ready_, spare_;
    bool stop_ = false;
    std::exception_ptr failure_;
};

}  // namespace rowkeep
