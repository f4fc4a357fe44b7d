#include "viewer/rows_ahead.h"

#include <algorithm>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <system_error>
#include <utility>

#include "console/index.h"
#include "console/table_file.h"

namespace rowkeep {

namespace {

// A batch is handed over after this many rows or bytes: few hand-overs for a long table,
// and the reading never far ahead of its use.
constexpr std::size_t kBatchRows = 4096;
constexpr std::size_t kBatchBytes = std::size_t{1} << 16;
constexpr std::size_t kBatchesAhead = 2;

// A value as the program writes every value, a quoted text followed by "," or CR LF, when
// it lies whole in the bytes the reader has ahead: its text and the bytes it takes (0 when
// it is not such a value). read_value takes such a value the same way; it is left the rest.
std::size_t quoted_value(std::string_view ahead, std::string_view& value) {
    const char* const p = ahead.data();
    const char* const end = p + ahead.size();
    if (ahead.size() < 3 || p[0] != '"') return 0;
    const char* q = p + 1;
#ifdef __SSE2__
    // Sixteen bytes a step: most values end within the first.
    const __m128i quote = _mm_set1_epi8('"'), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; end - q >= 16; q += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, cr)), _mm_cmpeq_epi8(x, lf));
        if (const int mask = _mm_movemask_epi8(hit)) {
            q += __builtin_ctz(static_cast<unsigned>(mask));
            break;
        }
    }
    if (end - q < 16)
#endif
        while (q < end && *q != '"' && *q != '\r' && *q != '\n') ++q;
    if (q + 1 >= end || *q != '"') return 0;
    value = std::string_view(p + 1, idx(q - p - 1));
    if (q[1] == ',') return idx(q - p + 2);
    if (q + 2 < end && q[1] == '\r' && q[2] == '\n') return idx(q - p + 3);
    return 0;
}

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
    batch.size = 0;
    batch.ends.clear();
    batch.last = false;
    while (batch.ends.size() < kBatchRows && batch.size < kBatchBytes) {
        if (left_ == 0) {
            batch.last = true;
            return;
        }
        const std::string_view ahead = in_.ahead();
        if (ahead.empty()) {  // as row_available tells
            batch.last = true;
            return;
        }
        --left_;
        read_row(ahead, batch);
        batch.ends.push_back(batch.size);
    }
    batch.last = left_ == 0;
}

// The values of a row that lie whole in the reader's buffer, as the program writes them,
// are taken where they lie; the reader takes any other with its own rules.
void RowsAhead::read_row(std::string_view ahead, Batch& batch) {
    const char* start = ahead.data();
    const char* p = start;
    const char* end = start + ahead.size();
    for (int k = 1; k <= columns_; ++k) {
        const bool keep = column_ == 0 || k == column_;
        if (column_ == 0 && k > 1) batch.put(';');
        std::string_view value;
        if (const std::size_t used = quoted_value(std::string_view(p, idx(end - p)), value)) {
            if (keep) batch.put(value.data(), value.size());
            p += used;
            continue;
        }
        in_.take(idx(p - start));
        if (keep) {
            in_.read_value(value_);
            batch.put(value_.data(), value_.size());
        } else {
            in_.skip_value();
        }
        const std::string_view rest = in_.ahead();
        start = p = rest.data();
        end = start + rest.size();
    }
    in_.take(idx(p - start));
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
