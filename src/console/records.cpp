#include "console/records.h"

#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "console/byte_kinds.h"
#include "console/index.h"
#include "console/tokens.h"

namespace rowkeep {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;

// The position of the first byte equal to a, b or c (or n): sixteen bytes a step where
// the processor allows, since every value and line of a record file is found this way.
template <char A, char B, char C>
std::size_t find_first(const char* p, std::size_t n) {
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i a = _mm_set1_epi8(A), b = _mm_set1_epi8(B), c = _mm_set1_epi8(C);
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, a), _mm_cmpeq_epi8(x, b)),
                                         _mm_cmpeq_epi8(x, c));
        if (const int mask = _mm_movemask_epi8(hit))
            return i + idx(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    while (i < n && p[i] != A && p[i] != B && p[i] != C) ++i;
    return i;
}

// The length of the longest start of `bytes` made of whole lines each ended by CR LF, with
// no other CR or LF in them.
std::size_t plain_lines(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t done = 0, i = 0;
#ifdef __SSE2__
    // Sixteen bytes a step while each LF has a CR right before it and each CR an LF right
    // after it (the block's last CR is matched in the next block).
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    unsigned carry = 0;  // 1 when the byte before the block is a CR
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const auto crs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, cr)));
        const auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, lf)));
        if ((((crs << 1) | carry) & 0xffffU) != lfs) break;
        if (lfs != 0) done = i + idx(32 - __builtin_clz(lfs));
        carry = crs >> 15;
    }
#endif
    // The rest byte by byte from the last line end found: up to the first line end that is
    // not a CR LF, or the end of the bytes.
    for (std::size_t j = done; j < n; ++j) {
        if (p[j] == '\n') break;
        if (p[j] == '\r') {
            if (j + 1 >= n || p[j + 1] != '\n') break;
            done = ++j + 1;
        }
    }
    return done;
}

}  // namespace

bool matches_pattern(std::string_view pattern, std::string_view name) {
    // Iterative glob with backtracking on the last "*".
    std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || lower_letter(pattern[p]) == lower_letter(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    // "*.*" (and "*.") match names without a dot too, as on the program's platform.
    if (p > 0 && pattern[p - 1] == '*' && p < pattern.size() && pattern[p] == '.' &&
        pattern.find_first_not_of('*', p + 1) == std::string_view::npos)
        return true;
    return p == pattern.size();
}

// ---------------------------------------------------------------- reader

bool TextReader::open(const FileSystem& files, std::string_view name, Links links) {
    close();
    files_ = files;
    return open_path(files_.resolve(name), links);
}

bool TextReader::open_path(const fs::path& path, Links links) {
    close();
    file_ = files_.open_read(path, links);
    if (!file_) return false;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
    pos_ = len_ = 0;
    base_ = 0;
    return true;
}

void TextReader::close() {
    forget_plain_run();
    if (file_) std::fclose(file_);
    file_ = nullptr;
    pos_ = len_ = 0;
    base_ = 0;
}

bool TextReader::fill() {
    if (!file_) return false;
    forget_plain_run();
    base_ += len_;
    pos_ = 0;
    len_ = std::fread(buffer_.get(), 1, kBufferSize, file_);
    return len_ > 0;
}

int TextReader::peek() {
    if (pos_ >= len_ && !fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
}

int TextReader::get() {
    int c = peek();
    if (c >= 0) ++pos_;
    return c;
}

bool TextReader::at_end() {
    return peek() < 0;
}

void TextReader::rewind() {
    if (!file_) return;
    seek(0);
}

void TextReader::seek(std::uint64_t offset) {
    if (!file_) return;
    forget_plain_run();
    if (offset >= base_ && offset <= base_ + len_) {
        pos_ = static_cast<std::size_t>(offset - base_);
        return;
    }
    fseeko(file_, static_cast<off_t>(offset), SEEK_SET);
    base_ = offset;
    pos_ = len_ = 0;
}

void TextReader::skip_line_end_after_cr() {
    if (peek() == '\n') get();
}

std::string TextReader::read_line() {
    std::string line;
    read_line(line);
    return line;
}

void TextReader::read_line(std::string& line) {
    std::string_view found;
    if (next_line(found))
        line.assign(found);
    else
        line.clear();
}

// Most lines lie whole in the buffer, their line end seen: they are handed out where they
// are. A line that reaches the buffer's end, or a CR at its very end that may have its LF
// in the next block, is gathered across the refills.
bool TextReader::next_line(std::string_view& line) {
    if (pos_ >= len_ && !fill()) return false;
    const char* start = buffer_.get() + pos_;
    const std::size_t avail = len_ - pos_;
    const std::size_t i = find_first<'\n', '\r', '\r'>(start, avail);
    if (i + 1 < avail || (i + 1 == avail && start[i] == '\n')) {
        line = std::string_view(start, i);
        pos_ += i + (start[i] == '\r' && start[i + 1] == '\n' ? 2 : 1);
        return true;
    }
    long_line_.clear();
    if (take_until<'\n', '\r', '\r', true>(long_line_) >= 0) take_line_end();
    line = long_line_;
    return true;
}

void TextReader::skip_blanks() {
    for (;;) {
        if (pos_ >= len_ && !fill()) return;
        const char c = buffer_[pos_];
        if (c != ' ' && c != '\t') return;
        ++pos_;
    }
}

bool TextReader::take_line_end() {
    const int c = peek();
    if (c == '\r') {
        ++pos_;
        skip_line_end_after_cr();
        return true;
    }
    if (c == '\n') {
        ++pos_;
        return true;
    }
    return false;
}

// Appends the bytes up to the first of the stops (or the end of the file) to value, when
// keep, and returns that stop, not taken; -1 at the end of the file.
template <char A, char B, char C, bool keep>
int TextReader::take_until(std::string& value) {
    for (;;) {
        if (pos_ >= len_ && !fill()) return -1;
        const char* start = buffer_.get() + pos_;
        const std::size_t avail = len_ - pos_;
        const std::size_t i = find_first<A, B, C>(start, avail);
        if constexpr (keep) value.append(start, i);
        pos_ += i;
        if (i < avail) return static_cast<unsigned char>(start[i]);
    }
}

template <bool keep>
void TextReader::take_value(std::string& value) {
    // A value as the program writes it, a quoted text followed by "," or CR LF, lying whole
    // in the buffer, is taken at once; the rules below take it the same way.
    if (len_ - pos_ >= 3 && buffer_[pos_] == '"') {
        const char* text = buffer_.get() + pos_ + 1;
        const std::size_t avail = len_ - pos_ - 1;
        const std::size_t i = find_first<'"', '\r', '\n'>(text, avail);
        if (i + 1 < avail && text[i] == '"' &&
            (text[i + 1] == ',' || (i + 2 < avail && text[i + 1] == '\r' && text[i + 2] == '\n'))) {
            if constexpr (keep) value.append(text, i);
            pos_ += i + (text[i + 1] == ',' ? 3 : 4);
            return;
        }
    }
    skip_blanks();
    int c = peek();
    if (c < 0) return;
    if (c == '"') {
        ++pos_;
        c = take_until<'"', '\r', '\n', keep>(value);
        if (c != '"') {
            // A quote left open ends with its line (or the file).
            if (c >= 0) take_line_end();
            return;
        }
        ++pos_;
        skip_blanks();
        if (peek() == ',')
            ++pos_;
        else
            take_line_end();
        return;
    }
    c = take_until<',', '\r', '\n', keep>(value);
    if (c == ',')
        ++pos_;
    else if (c >= 0)
        take_line_end();
}

std::string TextReader::read_value() {
    std::string value;
    take_value<true>(value);
    return value;
}

void TextReader::read_value(std::string& value) {
    value.clear();
    take_value<true>(value);
}

void TextReader::skip_value() {
    std::string none;
    take_value<false>(none);
}

#ifdef __SSE2__
// Takes whole plain lines from the buffer up to `end`, 64 bytes a step, counting values
// down in `left` and noting each row start. True when a row ended at `end` (left is 0);
// false where the bytes stop being plain lines or run short, after which the token rules
// read on.
template <class Bytes>
[[gnu::always_inline]] inline bool TextReader::scan_plain_lines(int columns, int& left,
                                                                RowStarts& starts,
                                                                std::size_t end) {
    using namespace byte_kinds;
    PlainLines plain;
    // Kept in a register: through the reference it would be stored at every line end, as
    // push_back could alias it.
    int need = left;
    std::size_t at = pos_;
    for (; end - at >= 64; at += 64) {
        const ByteKinds k = Bytes::kinds(buffer_.get() + at);
        if (!plain.take(k)) break;
        const bool more = take_rows<Bytes>(k.lfs, Bytes::count(k.lfs), columns, need, [&](int bit) {
            const std::size_t next = at + idx(bit) + 1;
            if (next >= end || !starts.add(base_ + next)) {
                pos_ = next;
                return false;
            }
            return true;
        });
        if (!more) {
            left = 0;
            return true;
        }
        if (k.lfs) pos_ = at + idx(63 - __builtin_clzll(k.lfs)) + 1;
    }
    left = need;
    plain_retry_ = end - at >= 64 ? at + 64 : end;
    return false;
}

bool TextReader::index_plain_lines(int columns, int& left, RowStarts& starts) {
    // Up to where the row index stops for the rows a second thread found ahead.
    const std::size_t end = stop_ - base_ < len_ ? static_cast<std::size_t>(stop_ - base_) : len_;
#ifdef __x86_64__
    if (scan_ == byte_kinds::Scan::wide_select)
        return index_plain_lines_select(columns, left, starts, end);
    if (scan_ == byte_kinds::Scan::wide) return index_plain_lines_avx2(columns, left, starts, end);
#endif
    return scan_plain_lines<byte_kinds::Sse2Bytes>(columns, left, starts, end);
}

#ifdef __x86_64__
[[gnu::target("avx2,popcnt")]] bool TextReader::index_plain_lines_avx2(int columns, int& left,
                                                                       RowStarts& starts,
                                                                       std::size_t end) {
    return scan_plain_lines<byte_kinds::Avx2Bytes>(columns, left, starts, end);
}

[[gnu::target("avx2,popcnt,bmi,bmi2")]] bool TextReader::index_plain_lines_select(int columns,
                                                                                  int& left,
                                                                                  RowStarts& starts,
                                                                                  std::size_t end) {
    return scan_plain_lines<byte_kinds::Avx2SelectBytes>(columns, left, starts, end);
}
#endif

#else
bool TextReader::index_plain_lines(int, int&, RowStarts&) {
    plain_retry_ = len_;
    return false;
}
#endif

void TextReader::choose_scan() {
    if (!best_scan_known_) {
        best_scan_ = byte_kinds::best_scan();
        best_scan_known_ = true;
    }
    scan_ = std::min(most_scan_, best_scan_);
}

// A working file the program wrote is a run of lines '"' text '"' CR LF, the text free of
// double quotes and line ends: each such line is one value and ends it. Such lines are
// taken 64 bytes a step (index_plain_lines) and their line ends counted; where the bytes
// stop being such lines, the token rules read on value by value.
//
// In a long file a second thread finds the line ends of the latter half meanwhile
// (LineEndsAhead). Where the reader comes to the thread's first line at the start of a
// value, the rows there are counted from the thread's line ends; otherwise (a value
// that runs across it) they are read as before.
void TextReader::index_rows(int columns, RowStarts& starts) {
    if (columns <= 0) return;
    choose_scan();
    // The thread reads the file by its descriptor: it ends before the reader goes on.
    struct Stopped {
        LineEndsAhead& ahead;
        ~Stopped() { ahead.stop(); }
    } stopped_at_end{ahead_};
    int left = 0;  // values still to skip in the current row
    for (;;) {
        const bool split = file_ && ahead_.start(fileno(file_), tell(), split_, scan_);
        if (split) stop_ = ahead_.split();
        const bool stopped = index_until(columns, left, starts);
        stop_ = kNoStop;
        if (!stopped) return;
        if (split && tell() == ahead_.split()) seek(ahead_.take_rows(columns, left, starts));
    }
}

void TextReader::skip_rows(int columns, std::uint64_t rows) {
    if (columns <= 0 || rows == 0) return;
    choose_scan();
    RowStarts counted(0, rows);
    int left = 0;
    index_until(columns, left, counted);
}

// The row index up to stop_ (true), to a row start that `starts` refuses (true) or to the
// end of the file (false).
bool TextReader::index_until(int columns, int& left, RowStarts& starts) {
    std::string none;
    for (;;) {
        if (tell() >= stop_) return true;
        if (left == 0) {
            if (at_end()) return false;
            if (!starts.add(tell())) return true;
            left = columns;
        }
        if (pos_ >= plain_retry_ && index_plain_lines(columns, left, starts)) continue;
        // One value by the token rules.
        if (pos_ >= len_ && !fill()) return false;
        take_value<false>(none);
        --left;
    }
}

// ---------------------------------------------------------------- writer

bool TextWriter::open(const FileSystem& files, std::string_view name) {
    close();
    files_ = files;
    return open_path(files_.resolve(name));
}

void TextWriter::start_fresh() {
    cut_at_close_ = false;
    failed_ = false;
    written_ = false;
    ready_ = false;
    used_ = 0;
    flushed_ = 0;
    column_ = 0;
    column_at_ = 0;
    kept_ = 0;
    kept_written_ = 0;
    limit_ = capacity_;
    reach_ = 0;
}

bool TextWriter::open_path(const fs::path& path) {
    return open_emptying(path, FileSystem::Emptying::at_open);
}

bool TextWriter::open_emptying(const fs::path& path, FileSystem::Emptying emptying) {
    close();
    start_fresh();
    path_ = path;
    file_ = files_.open_write(path, Links::refuse, emptying, &reach_);
    if (!file_) {
        failed_ = true;
        return false;
    }
    cut_at_close_ = emptying == FileSystem::Emptying::by_writer;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
}

bool TextWriter::open_over(const FileSystem& files, const fs::path& path) {
    close();
    files_ = files;
    return open_emptying(path, FileSystem::Emptying::by_writer);
}

void TextWriter::write_behind() {
    if (!file_ || behind_ || written_) return;
    behind_ = std::make_unique<WriteBehind>();
    if (capacity_ < kBehindSize) {
        capacity_ = kBehindSize;
        buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    }
    if (!spare_) spare_ = std::make_unique_for_overwrite<char[]>(capacity_);
    limit_ = capacity_;
}

void TextWriter::write_behind_in_steps() {
    write_behind();
    if (!behind_ || written_) return;
    kept_ = kBufferSize;
    limit_ = kept_;
}

void TextWriter::flush_full() {
    if (kept_ == 0) {
        flush_pending();
        return;
    }
    kept_written_ = used_;
    // The bytes stay until the buffer has no room for the next kept_ ones.
    if (capacity_ - used_ < kept_) {
        flush_pending();
    } else {
        limit_ = used_ + kept_;
    }
}

// The bytes counted as written go to the thread; the ones after them move to the start of
// the other buffer.
void TextWriter::hand_over_kept() {
    if (kept_written_ == 0) return;
    settle_column();
    settle_behind();
    const std::size_t rest = used_ - kept_written_;
    if (send({buffer_.get(), kept_written_})) {
        if (rest > 0) std::memcpy(spare_.get(), buffer_.get() + kept_written_, rest);
        std::swap(buffer_, spare_);
    } else if (rest > 0) {
        std::memmove(buffer_.get(), buffer_.get() + kept_written_, rest);
    }
    flushed_ += kept_written_;
    used_ = rest;
    kept_written_ = 0;
    limit_ = kept_;
}

void TextWriter::step_end() {
    if (kept_ == 0 || !file_) return;
    hand_over_kept();
    settle_behind();
}

void TextWriter::settle_behind() {
    const int error = behind_->settle();
    if (error != 0 && !failed_) {
        failed_ = true;
        ready_ = false;
        files_.fail(error, std::strerror(error));
    }
}

bool TextWriter::open_replacing(const FileSystem& files, std::string_view name) {
    close();
    files_ = files;
    start_fresh();
    path_ = files_.resolve(name);
    // The open is a failure point of its own before the temporary is made.
    if (!files_.allow(FileOp::open, path_)) {
        failed_ = true;
        return false;
    }
    int fd = replacing_.begin(path_, ReplaceAt::target);
    if (fd < 0 || !(file_ = fdopen(fd, "wb"))) {
        const int error = fd < 0 ? replacing_.error() : errno;
        if (fd >= 0) ::close(fd);
        replacing_.abandon();
        files_.fail(error, files_.listed_name(path_) + ": " + std::strerror(error));
        failed_ = true;
        return false;
    }
    replacing_open_ = true;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
}

void TextWriter::settle_column() {
    if (column_at_ >= total()) return;
    // The bytes not yet counted are all still in the buffer: it is settled before it goes.
    const std::size_t from = static_cast<std::size_t>(column_at_ - flushed_);
    column_ = advance_column(column_, std::string_view(buffer_.get() + from, used_ - from));
    column_at_ = total();
}

void TextWriter::pad_to_zone() {
    static constexpr std::string_view kBlanks = "              ";
    static_assert(kBlanks.size() >= kZoneWidth);
    settle_column();
    const int pad = zone_padding(column_);
    write_raw(kBlanks.substr(0, idx(pad)));
    column_ += pad;
    column_at_ = total();
}

// The buffer's first bytes go to the thread (true: the caller gives it the other buffer),
// or are written here, a failure recorded.
bool TextWriter::send(std::string_view bytes) {
    if (!failed_ && behind_ && behind_->start(fileno(file_), bytes)) return true;
    if (!failed_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        failed_ = true;
        ready_ = false;
        files_.fail(errno, std::strerror(errno));
    }
    return false;
}

void TextWriter::flush_pending() {
    if (used_ == 0) return;
    settle_column();
    if (behind_) settle_behind();
    if (send({buffer_.get(), used_})) std::swap(buffer_, spare_);
    flushed_ += used_;
    column_at_ = flushed_;
    used_ = 0;
    kept_written_ = 0;
    limit_ = kept_ != 0 ? kept_ : capacity_;
}

// Pieces gather in the buffer and reach the file in large writes: a record file is written
// a few bytes at a time, and one library call per piece cost more than the bytes. Here
// come the first write (a failure point), a full buffer and a failed file.
void TextWriter::write_slow(std::string_view bytes) {
    if (!file_) {
        failed_ = true;
        return;
    }
    if (!written_) {
        written_ = true;
        if (!files_.first_write(path_)) failed_ = true;
        ready_ = !failed_;
    }
    if (failed_) return;
    if (used_ + bytes.size() > limit_) {
        flush_full();
        if (failed_) return;
        if (bytes.size() >= (kept_ != 0 ? kept_ : capacity_)) {
            // Written here, after the buffer the thread may still be writing.
            flush_pending();
            if (behind_) settle_behind();
            if (failed_) return;
            column_ = advance_column(column_, bytes);
            flushed_ += bytes.size();
            column_at_ = flushed_;
            if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
                failed_ = true;
                ready_ = false;
                files_.fail(errno, std::strerror(errno));
            }
            return;
        }
    }
    // An empty view may hold no pointer at all, which memcpy must not be given.
    if (!bytes.empty()) std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}

void TextWriter::print_number(long long n, Ending ending) {
    print_text(number_text(n), ending);
}

void TextWriter::write_value(std::string_view value, bool last) {
    // The column counts the value's bytes, whatever they hold.
    if (!last) settle_column();
    const int column = last ? 0 : column_ + static_cast<int>(value.size()) + 3;
    const std::size_t size = value.size() + (last ? 4 : 3);
    if (ready_ && used_ + size <= limit_) {
        char* p = buffer_.get() + used_;
        *p++ = '"';
        if (!value.empty()) std::memcpy(p, value.data(), value.size());
        p += value.size();
        if (last) {
            std::memcpy(p, "\"\r\n", 3);
        } else {
            std::memcpy(p, "\",", 2);
        }
        used_ += size;
    } else {
        write_raw("\"");
        write_raw(value);
        write_raw(last ? "\"\r\n" : "\",");
    }
    column_ = column;
    column_at_ = total();
}

void TextWriter::written_to(std::uint64_t end, int error) {
    // The other thread's bytes reach `end` even where this writer stopped before them.
    reach_ = std::max(reach_, end);
    if (!file_ || failed_) return;
    flush_pending();
    if (behind_) settle_behind();
    if (failed_) return;
    // The close cuts the file where the descriptor stands.
    if (lseek(fileno(file_), static_cast<off_t>(end), SEEK_SET) < 0) {
        error = errno;
    } else {
        flushed_ = end;
        column_at_ = flushed_;
    }
    if (error != 0) {
        failed_ = true;
        ready_ = false;
        files_.fail(error, std::strerror(error));
    }
}

void TextWriter::abandon() {
    used_ = 0;
    ready_ = false;
    if (behind_) behind_->settle();
    behind_.reset();
    if (file_) std::fclose(file_);
    file_ = nullptr;
    replacing_.abandon();
    replacing_open_ = false;
}

bool TextWriter::close() {
    ready_ = false;
    if (!file_) return !failed_;
    flush_pending();
    if (behind_) {
        settle_behind();
        behind_.reset();
    }
    // A write that failed was recorded when it happened; these record their own.
    if (!failed_ && !files_.flush(file_, path_, replacing_open_)) failed_ = true;
    if (cut_at_close_) {
        // Unbuffered, the descriptor stands after the last byte that reached the file, also
        // when a write failed: the file then holds what a file emptied at the open would.
        // Only the descriptor and the pwrites told of by written_to wrote the file since the
        // open, so it can run past the descriptor only as far as reach_ says.
        cut_at_close_ = false;
        const int fd = fileno(file_);
        const off_t end = lseek(fd, 0, SEEK_CUR);
        if (end < 0 || (reach_ > static_cast<std::uint64_t>(end) && ftruncate(fd, end) != 0)) {
            if (!failed_)
                files_.fail(errno, files_.listed_name(path_) + ": " + std::strerror(errno));
            failed_ = true;
        }
    }
    if (!files_.close(file_, path_)) failed_ = true;
    file_ = nullptr;
    if (replacing_open_) {
        replacing_open_ = false;
        if (!failed_ && !files_.allow(FileOp::rename, path_)) failed_ = true;
        if (!failed_ && !replacing_.commit()) {
            failed_ = true;
            files_.fail(replacing_.error(),
                        files_.listed_name(path_) + ": " + std::strerror(replacing_.error()));
        }
        if (failed_) replacing_.abandon();
    }
    return !failed_;
}

// ---------------------------------------------------------------- copy

// Where the bytes already are CR LF lines they go over as they lie, a buffer at a time; a
// line ended otherwise, cut by the buffer's end or last without its line end goes the line
// way.
void copy_lines(TextReader& in, TextWriter& out) {
    for (;;) {
        const std::string_view bytes = in.ahead();
        if (bytes.empty()) return;
        if (const std::size_t plain = plain_lines(bytes)) {
            out.write_raw(bytes.substr(0, plain));
            in.take(plain);
            continue;
        }
        std::string_view line;
        if (!in.next_line(line)) return;
        out.print_text(line);
    }
}

}  // namespace rowkeep
