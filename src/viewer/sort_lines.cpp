#include "viewer/sort_lines.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <algorithm>
#include <bit>

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
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i capital = _mm_cmplt_epi8(_mm_add_epi8(x, shift), limit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_or_si128(x, _mm_and_si128(capital, bit)));
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

Line line_of(std::string_view text) {
    std::uint64_t prefix = 0;
    if (!text.empty()) std::memcpy(&prefix, text.data(), std::min<std::size_t>(text.size(), 8));
    if constexpr (std::endian::native == std::endian::little) prefix = __builtin_bswap64(prefix);
    return {prefix, text.data(), text.size()};
}

void Bytes::grow(std::size_t least) {
    const std::size_t capacity = std::max(least, capacity_ + capacity_ / 2);
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = capacity;
}

void Run::add(std::string_view line) {
    char* at = text_.extend(line.size());
    if (measure_.kind() == TextMeasure::Kind::gb18030)
        copy_lower_gb18030(at, line, measure_);
    else
        copy_lower(at, line.data(), line.size());
    ends_.push_back(text_.size());
}

void Run::sorted_into(Bytes& chunk) {
    lines_.clear();
    std::size_t start = 0;
    for (std::size_t end : ends_) {
        lines_.push_back(line_of(std::string_view(text_.data() + start, end - start)));
        start = end;
    }
    std::sort(lines_.begin(), lines_.end(), before);
    chunk.clear();
    for (const Line& line : lines_) {
        char* at = chunk.extend(line.size + 2);
        if (line.size > 0) std::memcpy(at, line.text, line.size);
        at[line.size] = '\r';
        at[line.size + 1] = '\n';
    }
    text_.clear();
    ends_.clear();
}

void LineChunks::hand_on() {
    if (!first_ && !kept_previous_) {
        kept_.assign(chunk_.data() + previous_at_, previous_.size);
        kept_previous_ = true;
    }
    hand_(chunk_);
    chunk_.clear();
    chunk_.reserve(kChunk);
}

Tournament::Tournament(std::vector<std::unique_ptr<TextReader>>& runs)
    : runs_(runs), heads_(runs.size()), tree_(runs.size()) {
    for (std::size_t j = 0; j < runs_.size(); ++j) advance_head(j);
    if (runs_.size() > 0) tree_[0] = runs_.size() == 1 ? 0 : play(1);
}

std::size_t Tournament::play(std::size_t node) {
    const std::size_t k = runs_.size();
    if (node >= k) return node - k;
    const std::size_t left = play(2 * node), right = play(2 * node + 1);
    const bool left_wins = !beats(right, left);
    tree_[node] = left_wins ? right : left;
    return left_wins ? left : right;
}

}  // namespace rowkeep
