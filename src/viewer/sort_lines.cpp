#include "viewer/sort_lines.h"

#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <algorithm>
#include <bit>
#include <cerrno>
#include <utility>

#include "console/index.h"
#include "console/tokens.h"

namespace rowkeep {

namespace {

// Copies n bytes, A to Z lowered on the way, sixteen bytes a step where the processor
// allows.
void copy_lower(char* to, const char* from, std::size_t n) {
    std::size_t i = 0;
#ifdef __SSE2__
    // A byte is a capital when it lies in 'A'..'Z': moved down by 'A' and across the sign,
    // that is one signed comparison.
    const __m128i shift = _mm_set1_epi8(static_cast<char>(0x80 - 'A'));
    const __m128i limit = _mm_set1_epi8(static_cast<char>(0x80 + 26));
    const __m128i bit = _mm_set1_epi8(0x20);
    auto lower16 = [&](std::size_t at) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at));
        const __m128i capital = _mm_cmplt_epi8(_mm_add_epi8(x, shift), limit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at),
                         _mm_or_si128(x, _mm_and_si128(capital, bit)));
    };
    for (; i + 16 <= n; i += 16) lower16(i);
    // The last sixteen bytes again, overlapping: the bytes done twice come out the same.
    if (i < n && n >= 16) {
        lower16(n - 16);
        return;
    }
#endif
    for (; i < n; ++i) to[i] = lower_letter(from[i]);
}

// In GB18030 the second byte of a two-byte character may look like a capital letter and
// must stay as it is: only characters of one byte are lowered there.
void copy_lower_gb18030(char* to, std::string_view from, const TextMeasure& m) {
    if (!from.empty()) std::memcpy(to, from.data(), from.size());
    for (std::size_t at = 0; at < from.size();) {
        const std::size_t length = m.char_length(from, at);
        if (length == 1) to[at] = lower_letter(to[at]);
        at += length;
    }
}

}  // namespace

void sort_by_prefix(std::vector<Line>& lines, std::vector<Line>& spare) {
    const auto by_text = [](const Line& a, const Line& b) { return before(a, b); };
    const std::size_t n = lines.size();
    // Below this a comparison sort's mispredicted branches cost less than the counting.
    if (n < 256) {
        std::sort(lines.begin(), lines.end(), by_text);
        return;
    }
    // By the prefix one byte at a time, the last byte first; a byte all lines share moves
    // nothing and is skipped.
    std::uint32_t counts[8][256] = {};
    for (const Line& line : lines)
        for (unsigned b = 0; b < 8; ++b) ++counts[b][(line.prefix >> (8 * b)) & 0xff];
    spare.resize(n);
    for (unsigned b = 0; b < 8; ++b) {
        std::uint32_t* at = counts[b];
        if (at[(lines[0].prefix >> (8 * b)) & 0xff] == n) continue;
        std::uint32_t sum = 0;
        for (unsigned d = 0; d < 256; ++d) sum += std::exchange(at[d], sum);
        for (const Line& line : lines) spare[at[(line.prefix >> (8 * b)) & 0xff]++] = line;
        lines.swap(spare);
    }
    // Lines of equal prefixes are told apart by the rest of their text.
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && lines[j].prefix == lines[i].prefix) ++j;
        if (j - i > 1)
            std::sort(lines.begin() + static_cast<std::ptrdiff_t>(i),
                      lines.begin() + static_cast<std::ptrdiff_t>(j), by_text);
        i = j;
    }
}

void Bytes::grow(std::size_t least) {
    const std::size_t capacity = std::max(least, capacity_ + capacity_ / 2);
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = capacity;
}

void Run::add(std::string_view line) {
    const std::size_t start = text_.size();
    char* at = text_.extend(line.size());
    if (measure_.kind() == TextMeasure::Kind::gb18030)
        copy_lower_gb18030(at, line, measure_);
    else
        copy_lower(at, line.data(), line.size());
    spans_.push_back({start, text_.size()});
}

std::size_t Run::add_lines(std::string_view bytes, std::size_t limit) {
    const char* p = bytes.data();
    const std::size_t n = bytes.size(), base = text_.size();
    std::size_t start = 0;  // of the line being looked at
    // A line end at e: false when the run is full or the end's length is not known yet.
    auto end_at = [&](std::size_t e) {
        if (e < start) return true;  // the LF of a CR LF
        if (spans_.size() >= limit) return false;
        std::size_t next = e + 1;
        if (p[e] == '\r') {
            if (next == n) return false;
            if (p[next] == '\n') ++next;
        }
        spans_.push_back({base + start, base + e});
        start = next;
        return true;
    };
    std::size_t i = 0;
    bool more = true;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (; more && i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        auto ends = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, lf), _mm_cmpeq_epi8(x, cr))));
        for (; more && ends != 0; ends &= ends - 1) more = end_at(i + idx(__builtin_ctz(ends)));
    }
#endif
    for (; more && i < n; ++i)
        if (p[i] == '\n' || p[i] == '\r') more = end_at(i);
    if (start > 0) copy_lower(text_.extend(start), p, start);
    return start;
}

void Run::read(TextReader& input, std::size_t limit) {
    // In GB18030 a character's bytes are lowered as a whole, which a line's end may cut:
    // line by line there.
    const bool by_line = measure_.kind() == TextMeasure::Kind::gb18030;
    while (size() < limit) {
        const std::string_view bytes = by_line ? std::string_view() : input.ahead();
        if (!by_line && bytes.empty()) return;
        if (const std::size_t taken = by_line ? 0 : add_lines(bytes, limit)) {
            input.take(taken);
            continue;
        }
        std::string_view line;
        if (!input.next_line(line)) return;
        add(line);
    }
}

void Run::sorted_into(Bytes& chunk, std::vector<std::size_t>& sizes) {
    const char* text = text_.data();
    const std::size_t n = spans_.size();
    const char* first = n == 0 ? text : text + spans_[0].start;
    std::size_t skip = n == 0 ? 0 : spans_[0].end - spans_[0].start;
    for (std::size_t k = 1; k < n && skip > 0; ++k) {
        const Span span = spans_[k];
        skip = shared_start(first, text + span.start, std::min(skip, span.end - span.start));
    }
    shared_.assign(first, skip);
    lines_.clear();
    std::size_t bytes = 0;
    for (const Span& span : spans_) {
        lines_.push_back(
            line_of(std::string_view(text + span.start + skip, span.end - span.start - skip)));
        bytes += span.end - span.start + 2;
    }
    sort_by_prefix(lines_, spare_);
    chunk.clear();
    chunk.reserve(bytes);
    sizes.clear();
    sizes.reserve(n);
    for (const Line& line : lines_) {
        const std::size_t size = line.size + skip;
        sizes.push_back(size);
        char* at = chunk.extend(size + 2);
        if (size > 0) std::memcpy(at, line.text - skip, size);
        at[size] = '\r';
        at[size + 1] = '\n';
    }
    text_.clear();
    spans_.clear();
}

bool PartReader::fill(std::size_t keep) {
    if (buffer_ == nullptr || keep == capacity_) {
        // A line longer than the buffer: one twice as large.
        const std::size_t capacity = std::max(kBlock, 2 * capacity_);
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
        if (keep > 0) std::memcpy(bigger.get(), buffer_ + pos_, keep);
        own_ = std::move(bigger);
        buffer_ = own_.get();
        capacity_ = capacity;
    } else if (keep > 0) {
        std::memmove(buffer_, buffer_ + pos_, keep);
    }
    pos_ = 0;
    len_ = keep;
    for (;;) {
        const ssize_t got = ::pread(fd_, buffer_ + len_, capacity_ - len_, static_cast<off_t>(at_));
        if (got < 0 && errno == EINTR) continue;
        // A file that cannot be read on ends there, as it does for the file's own reader.
        if (got <= 0) return false;
        at_ += static_cast<std::uint64_t>(got);
        len_ += static_cast<std::size_t>(got);
        return true;
    }
}

bool PartReader::next_line(std::string_view& line) {
    for (;;) {
        const std::size_t n = len_ - pos_;
        if (n > 0) {
            const char* at = buffer_ + pos_;
            if (const auto* lf = static_cast<const char*>(std::memchr(at, '\n', n))) {
                const std::size_t end = idx(lf - at);
                line = std::string_view(at, end > 0 && at[end - 1] == '\r' ? end - 1 : end);
                pos_ += end + 1;
                return true;
            }
        }
        if (!fill(n)) {
            // A last line without its end.
            if (len_ == pos_) return false;
            line = std::string_view(buffer_ + pos_, len_ - pos_);
            pos_ = len_;
            return true;
        }
    }
}

void LineChunks::hand_on() {
    kept_.assign(last_whole());
    last_.text = kept_.data() + skip_;
    hand_(chunk_);
    chunk_.clear();
    chunk_.reserve(kChunk);
}

Tournament::Tournament(std::vector<RunLines>& runs, std::string_view shared, bool lead)
    : runs_(runs),
      shared_(shared),
      heads_(runs.size()),
      tree_(runs.size()),
      lead_(lead && runs.size() > 1 ? 1 : 0),
      leaves_(runs.size() - lead_) {
    for (std::size_t j = 0; j < runs_.size(); ++j) advance_head(j);
    if (runs_.empty()) return;
    tree_[0] = node_of(play(1));
    winner_ = lead_ != 0 && !beats(tree_[0].run, 0) ? 0 : tree_[0].run;
}

void Tournament::stop_skipping() {
    const std::size_t skip = shared_.size();
    for (Line& head : heads_)
        if (head.text != nullptr)
            head = line_of(std::string_view(head.text - skip, head.size + skip));
    shared_.clear();
}

std::size_t Tournament::play(std::size_t node) {
    if (leaves_ == 1) return lead_;
    if (node >= leaves_) return node - leaves_ + lead_;
    const std::size_t left = play(2 * node), right = play(2 * node + 1);
    const bool left_wins = !beats(right, left);
    tree_[node] = node_of(left_wins ? right : left);
    return left_wins ? left : right;
}

}  // namespace rowkeep
