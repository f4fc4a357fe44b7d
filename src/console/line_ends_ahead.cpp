#include "console/line_ends_ahead.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>
#include <system_error>

#include "console/byte_kinds.h"

namespace rowkeep {

namespace {

constexpr std::size_t kChunk = 256 << 10;

// Reads n bytes at offset, fewer only at the end of the file or on a read error.
std::size_t read_at(int fd, char* to, std::size_t n, std::uint64_t offset) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, to + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    return got;
}

#ifdef __SSE2__
template <class Bytes>
[[gnu::always_inline]] inline void find_line_ends(const std::stop_token& stop, int fd,
                                                  std::uint64_t from, std::uint64_t to,
                                                  char* buffer, std::vector<std::uint64_t>& masks,
                                                  std::uint64_t& resume) {
    using namespace byte_kinds;
    PlainLines plain;
    for (std::uint64_t at = from; to - at >= 64 && !stop.stop_requested();) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, (to - at) / 64 * 64));
        const std::size_t got = read_at(fd, buffer, want, at);
        for (std::size_t j = 0; j + 64 <= got; j += 64) {
            const ByteKinds k = Bytes::kinds(buffer + j);
            if (!plain.take(k)) return;
            masks.push_back(k.lfs);
            if (k.lfs) resume = at + j + static_cast<unsigned>(63 - __builtin_clzll(k.lfs)) + 1;
        }
        if (got < want) return;
        at += got;
    }
}

template <class Bytes>
[[gnu::always_inline]] inline void count_rows(const std::vector<std::uint64_t>& masks,
                                              std::uint64_t from, std::uint64_t resume, int columns,
                                              int& need, RowStarts& starts) {
    // Kept in a register: through the reference it would be stored at every row, as
    // add could alias it.
    int left = need;
    std::uint64_t at = from;
    for (const std::uint64_t lfs : masks) {
        const bool more =
            byte_kinds::take_rows<Bytes>(lfs, Bytes::count(lfs), columns, left, [&](int bit) {
                const std::uint64_t next = at + static_cast<unsigned>(bit) + 1;
                // A row that ends with the last line is noted by the reader, which knows
                // whether anything follows it.
                if (next >= resume) return false;
                starts.add(next);
                return true;
            });
        if (!more) {
            left = 0;
            break;
        }
        at += 64;
    }
    need = left;
}

void find_narrow(const std::stop_token& stop, int fd, std::uint64_t from, std::uint64_t to,
                 char* buffer, std::vector<std::uint64_t>& masks, std::uint64_t& resume) {
    find_line_ends<byte_kinds::Sse2Bytes>(stop, fd, from, to, buffer, masks, resume);
}

void count_narrow(const std::vector<std::uint64_t>& masks, std::uint64_t from, std::uint64_t resume,
                  int columns, int& need, RowStarts& starts) {
    count_rows<byte_kinds::Sse2Bytes>(masks, from, resume, columns, need, starts);
}

#ifdef __x86_64__
[[gnu::target("avx2,popcnt")]] void find_wide(const std::stop_token& stop, int fd,
                                              std::uint64_t from, std::uint64_t to, char* buffer,
                                              std::vector<std::uint64_t>& masks,
                                              std::uint64_t& resume) {
    find_line_ends<byte_kinds::Avx2Bytes>(stop, fd, from, to, buffer, masks, resume);
}

[[gnu::target("avx2,popcnt")]] void count_wide(const std::vector<std::uint64_t>& masks,
                                               std::uint64_t from, std::uint64_t resume,
                                               int columns, int& need, RowStarts& starts) {
    count_rows<byte_kinds::Avx2Bytes>(masks, from, resume, columns, need, starts);
}

[[gnu::target("avx2,popcnt,bmi,bmi2")]] void count_select(const std::vector<std::uint64_t>& masks,
                                                          std::uint64_t from, std::uint64_t resume,
                                                          int columns, int& need,
                                                          RowStarts& starts) {
    count_rows<byte_kinds::Avx2SelectBytes>(masks, from, resume, columns, need, starts);
}
#endif
#endif

}  // namespace

void LineEndsAhead::stop() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

bool LineEndsAhead::start(int fd, std::uint64_t from, const Split& split, byte_kinds::Scan scan) {
    stop();
#ifdef __SSE2__
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size <= from || size - from < std::max<std::uint64_t>(split.over, 128)) return false;
    // The first line start after the middle of what is left, or of what the reader and
    // the thread take on this time.
    const std::uint64_t middle = from + std::min(size - from, 2 * split.most) / 2;
    char look[4096];
    const std::size_t got = read_at(fd, look, sizeof look, middle);
    const auto lf = std::string_view(look, got).find('\n');
    if (lf == std::string_view::npos) return false;
    fd_ = fd;
    scan_ = scan;
    split_ = resume_ = middle + lf + 1;
    to_ = std::min(size, split_ + split.most);
    masks_.clear();
    try {
        masks_.reserve(static_cast<std::size_t>((to_ - split_) / 64));
        if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kChunk);
        thread_ = std::jthread([this](const std::stop_token& stop) { find(stop); });
    } catch (const std::exception&) {
        // Without memory or a thread the reader indexes the whole file itself.
        masks_ = {};
        return false;
    }
    return true;
#else
    (void)fd, (void)from, (void)split, (void)scan;
    return false;
#endif
}

void LineEndsAhead::find(const std::stop_token& stop) {
#ifdef __SSE2__
#ifdef __x86_64__
    if (scan_ != byte_kinds::Scan::narrow)
        return find_wide(stop, fd_, split_, to_, buffer_.get(), masks_, resume_);
#endif
    find_narrow(stop, fd_, split_, to_, buffer_.get(), masks_, resume_);
#else
    (void)stop;
#endif
}

std::uint64_t LineEndsAhead::take_rows(int columns, int& need, RowStarts& starts) {
    if (thread_.joinable()) thread_.join();
    if (resume_ == split_) return split_;
#ifdef __SSE2__
    if (need == 0) {
        starts.add(split_);
        need = columns;
    }
#ifdef __x86_64__
    if (scan_ == byte_kinds::Scan::wide_select) {
        count_select(masks_, split_, resume_, columns, need, starts);
        return resume_;
    }
    if (scan_ == byte_kinds::Scan::wide) {
        count_wide(masks_, split_, resume_, columns, need, starts);
        return resume_;
    }
#endif
    count_narrow(masks_, split_, resume_, columns, need, starts);
#endif
    return resume_;
}

}  // namespace rowkeep
