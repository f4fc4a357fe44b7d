// The sort engine's lines in memory: a run's lines lowered into one block and put in
// order, the tournament that merges runs, and the chunks of lines that go to the files.
// Lines are never strings of their own, and every line carries its first eight bytes as a
// number, so that most comparisons are one integer comparison.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/records.h"
#include "console/text_measure.h"

namespace rowkeep {

// A line where it lies, and its first eight bytes as a big-endian number (zeros after a
// shorter line): lines whose numbers differ are ordered by them.
struct Line {
    std::uint64_t prefix = 0;
    const char* text = nullptr;
    std::size_t size = 0;
};

Line line_of(std::string_view text);

// Bytes as unsigned values; a line that is the start of the other comes first.
inline bool before(const Line& a, const Line& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const int order = std::memcmp(a.text, b.text, a.size < b.size ? a.size : b.size);
    return order != 0 ? order < 0 : a.size < b.size;
}

// A block of bytes that grows without clearing what it gains.
class Bytes {
  public:
    char* data() { return data_.get(); }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {data_.get(), size_}; }
    void clear() { size_ = 0; }
    void reserve(std::size_t n) {
        if (n > capacity_) grow(n);
    }
    // Room for n more bytes at the end, handed out; the size grows by n.
    char* extend(std::size_t n) {
        if (size_ + n > capacity_) grow(size_ + n);
        char* at = data_.get() + size_;
        size_ += n;
        return at;
    }

  private:
    void grow(std::size_t least);
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0, capacity_ = 0;
};

// One run: its lines lowered (A to Z; in GB18030 only characters of one byte), one after
// another in one block.
class Run {
  public:
    explicit Run(const TextMeasure& m) : measure_(m) {}
    std::size_t size() const { return ends_.size(); }
    void add(std::string_view line);
    // The lines in order, each ended CR LF, into `chunk` (emptied first); the run is
    // empty afterwards.
    void sorted_into(Bytes& chunk);

  private:
    const TextMeasure& measure_;
    Bytes text_;
    std::vector<std::size_t> ends_;
    std::vector<Line> lines_;
};

// Lines put one after another into chunks, each ended CR LF; a chunk that is full is
// handed on (and comes back empty, or as another chunk). Each line is compared with the
// one put before it: the order check of the merged output, made on the very bytes that go
// to the file.
class LineChunks {
  public:
    using Hand = std::function<void(Bytes&)>;
    explicit LineChunks(Hand hand) : hand_(std::move(hand)) { chunk_.reserve(kChunk); }
    void put(const Line& line) {
        if (chunk_.size() + line.size + 2 > kChunk && chunk_.size() > 0) hand_on();
        check(line);
        previous_at_ = chunk_.size();
        char* at = chunk_.extend(line.size + 2);
        std::memcpy(at, line.text, line.size);
        at[line.size] = '\r';
        at[line.size + 1] = '\n';
    }
    // Hands on what is left.
    void finish() {
        if (chunk_.size() > 0) hand_on();
    }
    bool ordered() const { return ordered_; }

  private:
    // Large enough that a write costs little beside its bytes; small, as a few are in
    // flight beside the 200 run readers' buffers.
    static constexpr std::size_t kChunk = 1 << 18;
    void check(const Line& line) {
        if (!first_) {
            previous_.text = kept_previous_ ? kept_.data() : chunk_.data() + previous_at_;
            if (before(line, previous_)) ordered_ = false;
        }
        first_ = false;
        kept_previous_ = false;
        previous_.prefix = line.prefix;
        previous_.size = line.size;
    }
    void hand_on();

    Hand hand_;
    Bytes chunk_;
    bool first_ = true, ordered_ = true;
    Line previous_;
    std::size_t previous_at_ = 0;  // where the previous line lies in the chunk
    bool kept_previous_ = false;   // it lies in kept_ instead: its chunk has gone
    std::string kept_;
};

// The runs' head lines in a tournament: each inner node keeps the run that lost the match
// played there, node 0 the overall winner, so a new head replays only its own path.
class Tournament {
  public:
    explicit Tournament(std::vector<std::unique_ptr<TextReader>>& runs);
    bool finished() const { return runs_.empty() || heads_[tree_[0]].text == nullptr; }
    const Line& winner() const { return heads_[tree_[0]]; }
    // The winner's run moves on to its next line, and the matches on its path are replayed.
    void next() {
        std::size_t run = tree_[0];
        advance_head(run);
        for (std::size_t node = (run + runs_.size()) / 2; node > 0; node /= 2)
            if (beats(tree_[node], run)) std::swap(tree_[node], run);
        tree_[0] = run;
    }

  private:
    // A finished run's head is a line of no text with the greatest prefix: it loses every
    // match, but for the rare line whose prefix is as great, by the text.
    static constexpr std::uint64_t kLast = ~std::uint64_t{0};
    void advance_head(std::size_t j) {
        std::string_view text;
        heads_[j] = runs_[j]->next_line(text) ? line_of(text) : Line{kLast, nullptr, 0};
    }
    bool beats(std::size_t a, std::size_t b) const {
        const Line &x = heads_[a], &y = heads_[b];
        if (x.prefix != y.prefix) return x.prefix < y.prefix;
        if (x.text == nullptr || y.text == nullptr) return y.text == nullptr && x.text != nullptr;
        return before(x, y);
    }
    // The winner of the subtree below node (leaves k..2k-1 stand for runs 0..k-1), the
    // losers kept on the way.
    std::size_t play(std::size_t node);

    std::vector<std::unique_ptr<TextReader>>& runs_;
    std::vector<Line> heads_;
    std::vector<std::size_t> tree_;
};

}  // namespace rowkeep
