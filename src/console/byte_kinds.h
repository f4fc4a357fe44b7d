// The row index's view of a working file: 64 bytes at a time, which of them are double
// quotes, CRs and LFs, and whether they are whole plain lines '"' text '"' CR LF. Shared
// by the reader and by the thread that looks for line ends ahead of it.
#pragma once

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace rowkeep::byte_kinds {

constexpr int count_bits(std::uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ULL);
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
    return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
}

// The position of the n-th (from 1) set bit of x, which has at least n.
inline int nth_bit(std::uint64_t x, int n) {
    for (int i = 1; i < n; ++i) x &= x - 1;
    return __builtin_ctzll(x);
}

// The kinds of 64 bytes as bit masks, byte i of the block bit i of each.
struct ByteKinds {
    std::uint64_t quotes = 0, crs = 0, lfs = 0;
};

// Blocks of 64 bytes, taken in order from the start of a line, that hold nothing but plain
// lines: a CR right before each LF and nowhere else; a quote at each line start and before
// each CR and nowhere else. Bit 63 of a block is settled with the next block; the lines
// that end before it do not depend on it.
class PlainLines {
  public:
    // True when the block continues the plain lines taken so far.
    bool take(const ByteKinds& k) {
        const std::uint64_t starts = (k.lfs << 1) | starts_carry_;
        constexpr std::uint64_t kLow63 = ~0ULL >> 1;
        const bool plain =
            ((k.crs ^ (k.lfs >> 1)) & kLow63) == 0 &&
            ((k.quotes ^ (starts | (k.crs >> 1))) & kLow63) == 0 &&
            (first_ || ((prev_.crs >> 63) == (k.lfs & 1) &&
                        (prev_.quotes >> 63) == ((prev_starts_ >> 63) | (k.crs & 1))));
        if (!plain) return false;
        first_ = false;
        starts_carry_ = k.lfs >> 63;
        prev_ = k;
        prev_starts_ = starts;
        return true;
    }

  private:
    bool first_ = true;
    std::uint64_t starts_carry_ = 1;
    ByteKinds prev_;
    std::uint64_t prev_starts_ = 0;
};

#ifdef __SSE2__
// Sixteen bytes a comparison, as every x86-64 processor can.
struct Sse2Bytes {
    static ByteKinds kinds(const char* p) {
        ByteKinds k;
        for (int i = 0; i < 4; ++i) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            auto bits = [&](char c) {
                return static_cast<std::uint64_t>(static_cast<unsigned>(
                           _mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(c)))))
                       << (16 * i);
            };
            k.quotes |= bits('"');
            k.crs |= bits('\r');
            k.lfs |= bits('\n');
        }
        return k;
    }
    static int count(std::uint64_t x) { return count_bits(x); }
    static int nth(std::uint64_t x, int n) { return nth_bit(x, n); }
};

#ifdef __x86_64__
// Thirty-two bytes a comparison and the processor's own bit count, where it has them.
struct Avx2Bytes {
    [[gnu::target("avx2")]] static std::uint64_t bits(__m256i low, __m256i high, char c) {
        const __m256i with = _mm256_set1_epi8(c);
        const auto l = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, with)));
        const auto h = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, with)));
        return std::uint64_t{l} | std::uint64_t{h} << 32;
    }
    [[gnu::target("avx2")]] static ByteKinds kinds(const char* p) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        return {bits(low, high, '"'), bits(low, high, '\r'), bits(low, high, '\n')};
    }
    [[gnu::target("popcnt")]] static int count(std::uint64_t x) { return __builtin_popcountll(x); }
    static int nth(std::uint64_t x, int n) { return nth_bit(x, n); }
};

// And the n-th set bit in one step, where the processor does that quickly.
struct Avx2SelectBytes : Avx2Bytes {
    [[gnu::target("bmi,bmi2")]] static int nth(std::uint64_t x, int n) {
        return static_cast<int>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << (n - 1), x)));
    }
};

// Whether the processor and the system (which must keep the 256-bit registers) have them.
inline bool have_avx2() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    constexpr unsigned kPopcnt = 1u << 23, kOsxsave = 1u << 27, kAvx = 1u << 28;
    if ((c & (kPopcnt | kOsxsave | kAvx)) != (kPopcnt | kOsxsave | kAvx)) return false;
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & 6) != 6) return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 5)) != 0;
}

// Whether pdep takes a few cycles, as on every processor that has it except AMD's before
// family 19h, where it takes one step per bit.
inline bool have_fast_pdep() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    constexpr unsigned kBmi1 = 1u << 3, kBmi2 = 1u << 8;
    if ((b & (kBmi1 | kBmi2)) != (kBmi1 | kBmi2)) return false;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
    const bool amd = b == 0x68747541 && d == 0x69746e65 && c == 0x444d4163;  // "AuthenticAMD"
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    unsigned family = (a >> 8) & 0xf;
    if (family == 0xf) family += (a >> 20) & 0xff;
    return !amd || family >= 0x19;
}
#endif
#endif

// How the row index compares bytes: 16 at a time, 32 at a time, and 32 at a time with the
// n-th line end of 64 bytes found in one step.
enum class Scan { narrow, wide, wide_select };

inline Scan best_scan() {
#if defined(__SSE2__) && defined(__x86_64__)
    if (!have_avx2()) return Scan::narrow;
    return have_fast_pdep() ? Scan::wide_select : Scan::wide;
#else
    return Scan::narrow;
#endif
}

// Takes the line ends of a block (the LF bits, `count` of them) one row at a time: `need`
// is how many values the current row still lacks. Calls row_end(bit) for the last line end
// of each row that ends in the block, until it returns false; leaves need counted down.
// False when row_end stopped it.
template <class Bytes, class RowEnd>
[[gnu::always_inline]] inline bool take_rows(std::uint64_t ends, int count, int columns, int& need,
                                             RowEnd&& row_end) {
    // Straight to the line end that closes the row, rather than a test at every one.
    while (count >= need) {
        const int bit = Bytes::nth(ends, need);
        ends &= ~std::uint64_t{1} << bit;  // the line ends after it
        count -= need;
        need = columns;
        if (!row_end(bit)) return false;
    }
    need -= count;
    return true;
}

}  // namespace rowkeep::byte_kinds
