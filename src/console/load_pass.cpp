#include "console/load_pass.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

namespace rowkeep {

namespace {

// The bits set in a 16-bit mask (the processor's own count is not in the base set).
int count_bits(unsigned x) {
    x = x - ((x >> 1) & 0x5555u);
    x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
    x = (x + (x >> 4)) & 0x0f0fu;
    return static_cast<int>((x + (x >> 8)) & 0x1fu);
}

// Adds one to a decimal number kept as its digits.
void increment(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// The working file of a table without columns gets nothing.
class Discard : public LoadOutput {
  public:
    void write(std::string_view) override {}
};

}  // namespace

// ---------------------------------------------------------------- line widths

void LineWidths::end_line() {
    widest_ = std::max(widest_, semicolons_ + 1);
    semicolons_ = 0;
    open_ = false;
}

void LineWidths::feed(const char* bytes, std::size_t n) {
    std::size_t i = 0;
    if (after_cr_ && n > 0) {
        after_cr_ = false;
        if (bytes[0] == '\n') i = 1;
    }
    while (i < n) {
#ifdef __SSE2__
        // Sixteen bytes a step up to the next line end.
        if (n - i >= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            const auto ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                _mm_cmpeq_epi8(x, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(x, _mm_set1_epi8('\n')))));
            const auto semicolons =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(';'))));
            const unsigned before = ends ? (1u << std::countr_zero(ends)) - 1 : 0xffffu;
            if (before != 0) {
                semicolons_ += count_bits(semicolons & before);
                open_ = true;
                i += static_cast<std::size_t>(std::popcount(before));
                continue;
            }
        }
#endif
        const char c = bytes[i++];
        if (c == '\r') {
            end_line();
            if (i == n)
                after_cr_ = true;
            else if (bytes[i] == '\n')
                ++i;
        } else if (c == '\n') {
            end_line();
        } else {
            open_ = true;
            if (c == ';') ++semicolons_;
        }
    }
}

int LineWidths::widest() const {
    long long widest = widest_;
    if (open_) widest = std::max(widest, semicolons_ + 1);
    return static_cast<int>(std::min<long long>(widest, INT_MAX));
}

// ---------------------------------------------------------------- the pass

// Bytes gathered for one output and handed on in large pieces. room(n) makes space for n
// bytes and leaves some more behind them, so a step may store sixteen bytes and keep fewer.
class LoadPass::Buffer {
  public:
    explicit Buffer(LoadOutput& out) : out_(out), data_(new char[kSize + kSpare]) {}

    char* room(std::size_t n) {
        if (used_ + n > kSize) flush();
        return data_.get() + used_;
    }
    void advance(std::size_t n) { used_ += n; }
    void put(std::string_view bytes) {
        while (!bytes.empty()) {
            const std::size_t n = std::min(bytes.size(), kSize / 2);
            std::memcpy(room(n), bytes.data(), n);
            advance(n);
            bytes.remove_prefix(n);
        }
    }
    void flush() {
        if (used_ > 0) out_.write(std::string_view(data_.get(), used_));
        used_ = 0;
    }

    static constexpr std::size_t kSize = 1 << 18, kSpare = 64;

  private:
    LoadOutput& out_;
    std::unique_ptr<char[]> data_;
    std::size_t used_ = 0;
};

LoadPass::LoadPass(int width, LoadOutput& characters, LoadOutput& cells, LoadOutput& working)
    : width_(std::max(width, 0)),
      characters_(std::make_unique<Buffer>(characters)),
      cells_(std::make_unique<Buffer>(cells)),
      discard_(std::make_unique<Discard>()),
      working_(std::make_unique<Buffer>(width_ > 0 ? working : *discard_)) {}

LoadPass::~LoadPass() = default;

void LoadPass::expand_characters(const char* bytes, std::size_t n) {
    constexpr std::size_t kStep = 1 << 12;
    while (n > 0) {
        const std::size_t m = std::min(n, kStep);
        char* out = characters_->room(5 * m);
        if constexpr (std::endian::native == std::endian::little) {
            // '"', the byte, '"', CR, LF: eight bytes stored, five kept.
            for (std::size_t i = 0; i < m; ++i) {
                const std::uint64_t record =
                    0x0a0d220022ULL | std::uint64_t{static_cast<unsigned char>(bytes[i])} << 8;
                std::memcpy(out + 5 * i, &record, sizeof record);
            }
        } else {
            for (std::size_t i = 0; i < m; ++i) {
                const char record[5] = {'"', bytes[i], '"', '\r', '\n'};
                std::memcpy(out + 5 * i, record, 5);
            }
        }
        characters_->advance(5 * m);
        bytes += m;
        n -= m;
    }
}

// Copies the cell's bytes up to the first ";", CR or LF (or the end of the piece) to the
// cells' records and to the working file, double quotes made apostrophes; returns how many
// were taken.
std::size_t LoadPass::take_cell_bytes(const char* bytes, std::size_t n) {
    const bool naming = rows_ == 1 && width_ > 0;
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i semicolon = _mm_set1_epi8(';'), cr = _mm_set1_epi8('\r'),
                  lf = _mm_set1_epi8('\n'), quote = _mm_set1_epi8('"'),
                  apostrophe = _mm_set1_epi8('\'');
    while (i < n) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i quotes = _mm_cmpeq_epi8(x, quote);
        const __m128i text =
            _mm_or_si128(_mm_andnot_si128(quotes, x), _mm_and_si128(quotes, apostrophe));
        auto stops = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, semicolon), _mm_cmpeq_epi8(x, cr)),
                         _mm_cmpeq_epi8(x, lf))));
        if (n - i < 16) stops |= 1u << (n - i);
        const std::size_t k = stops ? static_cast<std::size_t>(std::countr_zero(stops)) : 16;
        char* to_cells = cells_->room(16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to_cells), text);
        char* to_working = working_->room(16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to_working), text);
        if (naming) first_row_.back().append(to_working, k);
        cells_->advance(k);
        working_->advance(k);
        i += k;
        if (stops) break;
    }
#else
    while (i < n && bytes[i] != ';' && bytes[i] != '\r' && bytes[i] != '\n') {
        const char c = bytes[i] == '"' ? '\'' : bytes[i];
        ++i;
        *cells_->room(1) = c;
        cells_->advance(1);
        *working_->room(1) = c;
        working_->advance(1);
        if (naming) first_row_.back() += c;
    }
#endif
    return i;
}

void LoadPass::begin_line() {
    increment(line_digits_);
    line_prefix_.assign(1, '"');
    line_prefix_ += line_digits_;
    line_prefix_ += "\",\"";
    column_digits_ = "0";
    line_open_ = true;
    ++rows_;
    in_row_ = 0;
}

void LoadPass::begin_cell() {
    increment(column_digits_);
    cells_->put(line_prefix_);
    cells_->put(column_digits_);
    cells_->put("\",\"");
    // A line with more cells than a row holds goes on in the next row.
    if (in_row_ == width_) {
        ++rows_;
        in_row_ = 0;
    }
    ++in_row_;
    if (rows_ == 1 && width_ > 0) first_row_.emplace_back();
    working_->put("\"");
}

void LoadPass::end_cell() {
    cells_->put("\"\r\n");
    working_->put("\"\r\n");
}

void LoadPass::end_line() {
    for (; in_row_ < width_; ++in_row_) working_->put("\"\"\r\n");
    line_open_ = false;
}

void LoadPass::feed(const char* bytes, std::size_t n) {
    expand_characters(bytes, n);
    std::size_t i = 0;
    if (after_cr_ && n > 0) {
        after_cr_ = false;
        if (bytes[0] == '\n') i = 1;
    }
    while (i < n) {
        if (!line_open_) {
            begin_line();
            begin_cell();
        }
        i += take_cell_bytes(bytes + i, n - i);
        if (i == n) break;  // the cell goes on in the next piece
        const char c = bytes[i++];
        end_cell();
        if (c == ';') {
            begin_cell();
            continue;
        }
        end_line();
        if (c == '\r') {
            if (i == n)
                after_cr_ = true;
            else if (bytes[i] == '\n')
                ++i;
        }
    }
}

void LoadPass::finish() {
    if (line_open_) {
        end_cell();
        end_line();
    }
    characters_->flush();
    cells_->flush();
    working_->flush();
}

}  // namespace rowkeep
