#include "html/word_records.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace rowkeep {

// The records split on the feed's thread, a batch of some hundred kilobytes at a time,
// handed to the reader through a few batches in turn, each record a FedHead and its bytes.
class WordFileReader::Feed {
  public:
    Feed(WordFileReader& reader, std::size_t values) : reader_(reader), values_(values) {
        thread_ = std::thread([this] { serve(); });
    }
    ~Feed() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Feed(const Feed&) = delete;
    Feed& operator=(const Feed&) = delete;

    // Hands back the batch read before, if any (the caller is done with its records), and
    // gives the next one's bytes; false at the end.
    bool next_batch(const char*& at, const char*& end) {
        std::unique_lock lock(mutex_);
        if (holding_) {
            holding_ = false;
            ++taken_;
            changed_.notify_all();
        }
        at = end = nullptr;
        changed_.wait(lock, [this] { return filled_ > taken_ || ended_; });
        if (filled_ == taken_) return false;
        const Batch& batch = batches_[taken_ % kBatches];
        at = batch.bytes.get();
        end = at + batch.used;
        holding_ = true;
        return true;
    }

  private:
    // Room for a batch, past which the record that fills it is put whole.
    static constexpr std::size_t kBatchBytes = 1 << 18;
    static constexpr std::size_t kBatches = 3;
    // The batch as first made: its room and a line or two past it.
    static constexpr std::size_t kFirstBytes = kBatchBytes + (1 << 16);

    struct Batch {
        // Below the heap's threshold for memory of its own: taken from and given back to
        // memory the program keeps, as fresh pages cost a fault each.
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0, used = 0;
        void put(const void* from, std::size_t size) {
            if (used + size > capacity) {
                const std::size_t grown = std::max({used + size, 2 * capacity, kFirstBytes});
                auto larger = std::make_unique_for_overwrite<char[]>(grown);
                if (used > 0) std::memcpy(larger.get(), bytes.get(), used);
                bytes = std::move(larger);
                capacity = grown;
            }
            if (size > 0) std::memcpy(bytes.get() + used, from, size);
            used += size;
        }
    };

    void put_record(Batch& batch, const Split& split) {
        FedHead head{};
        const std::string_view plain = split.plain_line;
        std::size_t size = 0;
        for (std::size_t k = 0; k < values_; ++k) {
            const std::string_view v = split.values[k];
            head.at[k] = static_cast<std::uint32_t>(
                plain.empty() ? size : static_cast<std::size_t>(v.data() - plain.data()));
            head.length[k] = static_cast<std::uint32_t>(v.size());
            size += v.size();
        }
        head.size = static_cast<std::uint32_t>(plain.empty() ? size : plain.size());
        head.plain = plain.empty() ? 0 : 1;
        batch.put(&head, sizeof head);
        if (!plain.empty()) {
            batch.put(plain.data(), plain.size());
        } else {
            for (std::size_t k = 0; k < values_; ++k)
                batch.put(split.values[k].data(), split.values[k].size());
        }
    }

    void serve() {
        for (std::uint64_t n = 0;; ++n) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || n - taken_ < kBatches; });
                if (stop_) return;
            }
            Batch& batch = batches_[n % kBatches];
            batch.used = 0;
            bool more = true;
            while (batch.used < kBatchBytes && (more = reader_.read_into(split_, values_)))
                put_record(batch, split_);
            {
                std::lock_guard lock(mutex_);
                filled_ = n + 1;
                ended_ = !more;
            }
            changed_.notify_all();
            if (!more) return;
        }
    }

    WordFileReader& reader_;
    const std::size_t values_;
    Split split_;  // the thread's
    std::array<Batch, kBatches> batches_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Batches filled by the thread, and handed back by the reader (the one it reads from
    // is the next).
    std::uint64_t filled_ = 0, taken_ = 0;
    bool ended_ = false, stop_ = false;
    bool holding_ = false;  // the reader reads from batch number taken_
    std::thread thread_;    // last: it starts once everything else is made
};

WordFileReader::WordFileReader(const FileSystem& files, std::string_view name) : in_(files, name) {}

WordFileReader::~WordFileReader() = default;

bool WordFileReader::read_on(std::size_t values) {
    if (ahead_) {
        ahead_ = false;
        try {
            feed_ = std::make_unique<Feed>(*this, values);
        } catch (const std::system_error&) {
            // No thread to be had: the records are read here.
        }
    }
    if (feed_) {
        do {
            if (!feed_->next_batch(fed_at_, fed_end_)) return false;
        } while (fed_at_ == fed_end_);
        take_fed();
        return true;
    }
    return read_into(shown_, values);
}

bool WordFileReader::read_into(Split& split, std::size_t values) {
    split.plain_line = {};
    const std::string_view bytes = in_.ahead();
    if (bytes.empty()) return false;
    if (split_in_buffer(split, bytes, values)) return true;
    const std::uint64_t start = in_.tell();
    in_.read_line(split.line);
    if (split_plain(split, split.line, values)) return true;
    in_.seek(start);
    for (std::size_t k = 0; k < values; ++k) {
        in_.read_value(split.read_apart[k]);
        split.values[k] = split.read_apart[k];
    }
    return true;
}

// The token rules read a line of the plain form as exactly these values and then take
// its line end, just as the line reader does: the record ends where the line does.
bool WordFileReader::split_plain(Split& split, std::string_view line, std::size_t values) {
    std::size_t at = 0;
    for (std::size_t k = 0; k < values; ++k) {
        if (k > 0) {
            if (at >= line.size() || line[at] != ',') return false;
            ++at;
        }
        if (at >= line.size() || line[at] != '"') return false;
        const void* close = std::memchr(line.data() + at + 1, '"', line.size() - at - 1);
        if (!close) return false;
        const auto end = static_cast<std::size_t>(static_cast<const char*>(close) - line.data());
        split.values[k] = line.substr(at + 1, end - at - 1);
        at = end + 1;
    }
    if (at != line.size()) return false;
    split.plain_line = line;
    return true;
}

namespace {

// The first double quote or line end at or after `at`, or the end of the bytes.
std::size_t quote_or_line_end(const char* bytes, std::size_t at, std::size_t size) {
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"'), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; at + 16 <= size; at += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        const __m128i hits = _mm_or_si128(
            _mm_cmpeq_epi8(x, quote), _mm_or_si128(_mm_cmpeq_epi8(x, cr), _mm_cmpeq_epi8(x, lf)));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits)))
            return at + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    for (; at < size; ++at)
        if (bytes[at] == '"' || bytes[at] == '\r' || bytes[at] == '\n') return at;
    return size;
}

}  // namespace

// The line at the start of the bytes, when it ends there and has the plain form: its
// values taken where they lie, the line and its end taken from the reader. Each value
// runs to the next double quote, which must not come after a line end; the quotes
// between values have a comma between them, the last one the line end right after it.
bool WordFileReader::split_in_buffer(Split& split, std::string_view bytes, std::size_t values) {
    const char* p = bytes.data();
    const std::size_t size = bytes.size();
    if (size == 0 || p[0] != '"') return false;
    std::size_t at = 1;  // where the value starts
    for (std::size_t k = 0; k < values; ++k) {
        const std::size_t close = quote_or_line_end(p, at, size);
        if (close == size || p[close] != '"') return false;
        split.values[k] = bytes.substr(at, close - at);
        at = close + 1;
        if (k + 1 == values) break;
        if (at + 1 >= size || p[at] != ',' || p[at + 1] != '"') return false;
        at += 2;
    }
    // A CR that ends the bytes may have its LF still unread.
    const std::size_t end = at;
    if (end >= size || (p[end] != '\r' && p[end] != '\n')) return false;
    if (p[end] == '\r' && end + 1 == size) return false;
    split.plain_line = bytes.substr(0, end);
    const bool crlf = p[end] == '\r' && p[end + 1] == '\n';
    in_.take(end + (crlf ? 2 : 1));
    return true;
}

bool file_at_least(const TextReader& in, std::uint64_t bytes) {
    struct stat st {};
    const int fd = in.descriptor();
    return fd >= 0 && fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) >= bytes;
}

bool WordFileReader::many_records() {
    constexpr std::uint64_t kShortLine = 4096;
    if (!file_at_least(in_, kWriteBehindRecords * 64)) return false;
    const std::string_view ahead = in_.ahead();
    return ahead.substr(0, kShortLine).find('\n') != std::string_view::npos;
}

void copy_record(TextWriter& out, const WordFileReader& in, std::size_t values) {
    if (!in.plain_line().empty()) {
        out.write_raw(in.plain_line());
        out.print_newline();
        return;
    }
    for (std::size_t k = 0; k < values; ++k) out.write_value(in[k], k + 1 == values);
}

long long leading_number(std::string_view text) {
    // The word files' numbers: right-aligned in blanks, a few digits, nothing after.
    std::size_t blanks = 0;
    while (blanks < text.size() && text[blanks] == ' ') ++blanks;
    if (text.size() - blanks - 1 < 18) {
        long long value = 0;
        std::size_t at = blanks;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
            value = value * 10 + (text[at] - '0');
        if (at == text.size()) return value;
    }
    std::size_t at = 0;
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (at < text.size() && space(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    unsigned long long value = 0;
    bool over = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const auto digit = static_cast<unsigned long long>(text[at] - '0');
        over = over || __builtin_mul_overflow(value, 10ULL, &value) ||
               __builtin_add_overflow(value, digit, &value);
    }
    // Out of range the library's reading saturates.
    const unsigned long long limit = negative ? 1ULL + LLONG_MAX : LLONG_MAX;
    if (over || value > limit) return negative ? LLONG_MIN : LLONG_MAX;
    if (negative) return value == limit ? LLONG_MIN : -static_cast<long long>(value);
    return static_cast<long long>(value);
}

void WordId::set(long long number) {
    std::memcpy(text_, "id000000", 8);
    if (number >= 0 && number <= 999999) {  // a word's place in all but the largest exports
        char* out = text_ + 8;
        do {
            *--out = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number > 0);
        size_ = 8;
        return;
    }
    char* digits_at = text_ + 2;
    char digits[24];
    const auto count = static_cast<std::size_t>(
        std::to_chars(digits, digits + sizeof digits, number).ptr - digits);
    if (count < 6) digits_at += 6 - count;
    std::memcpy(digits_at, digits, count);
    size_ = static_cast<std::size_t>(digits_at + count - text_);
}

bool contains_id_any_case(std::string_view text) {
    for (std::size_t k = 0; k + 1 < text.size(); ++k)
        if ((text[k] == 'i' || text[k] == 'I') && (text[k + 1] == 'd' || text[k + 1] == 'D'))
            return true;
    return false;
}

}  // namespace rowkeep
