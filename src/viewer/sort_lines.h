// The sort engine's lines in memory: a run's lines lowered into one block and put in
// order, the tournament that merges runs, and the chunks of lines that go to the files.
// Lines are never strings of their own, and every line carries its first eight bytes as a
// number, so that most comparisons are one integer comparison.
#pragma once

#include <bit>
#include <cstddef>
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

// Eight bytes as a big-endian number: the order of their bytes as unsigned values.
inline std::uint64_t word_at(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return w;
}

inline Line line_of(std::string_view text) {
    if (text.size() >= 8) return {word_at(text.data()), text.data(), text.size()};
    std::uint64_t prefix = 0;
    if (!text.empty()) std::memcpy(&prefix, text.data(), text.size());
    if constexpr (std::endian::native == std::endian::little) prefix = __builtin_bswap64(prefix);
    return {prefix, text.data(), text.size()};
}

// Bytes as unsigned values; a line that is the start of the other comes first. Equal
// prefixes of lines shorter than eight bytes leave only the lengths to decide; else the
// rest is compared eight bytes a step, the last step ending where the shorter line ends.
inline bool before(const Line& a, const Line& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const std::size_t n = a.size < b.size ? a.size : b.size;
    if (n > 8) {
        std::size_t i = 8;
        for (; i + 8 <= n; i += 8) {
            const std::uint64_t x = word_at(a.text + i), y = word_at(b.text + i);
            if (x != y) return x < y;
        }
        if (i < n) {
            const std::uint64_t x = word_at(a.text + n - 8), y = word_at(b.text + n - 8);
            if (x != y) return x < y;
        }
    }
    return a.size < b.size;
}

// Puts lines in the order of before(); `spare` is room for the sort to use.
void sort_by_prefix(std::vector<Line>& lines, std::vector<Line>& spare);

// How many bytes a and b share at their start, at most `limit` (no more than either's size).
inline std::size_t shared_start(const char* a, const char* b, std::size_t limit) {
    std::size_t i = 0;
    for (; i + 8 <= limit; i += 8)
        if (word_at(a + i) != word_at(b + i)) break;
    while (i < limit && a[i] == b[i]) ++i;
    return i;
}

// Whether a and b begin with the same n bytes: eight bytes a step, the last step ending at n.
inline bool same_start(const char* a, const char* b, std::size_t n) {
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    for (std::size_t i = 0; i + 8 < n; i += 8)
        if (word_at(a + i) != word_at(b + i)) return false;
    return word_at(a + n - 8) == word_at(b + n - 8);
}

// A block of bytes that grows without clearing what it gains.
class Bytes {
  public:
    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
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
// another in one block. The start all its lines share is left out of their comparisons:
// lines that begin alike (the keyed rows of a table, the word records of a page) are then
// mostly told apart by their prefix numbers.
class Run {
  public:
    explicit Run(const TextMeasure& m) : measure_(m) {}
    std::size_t size() const { return spans_.size(); }
    void add(std::string_view line);
    // Adds the input's next lines until the run holds `limit`: the lines input.next_line()
    // gives, as add() takes them. The lines that end inside the reader's bytes are lowered
    // a block at a time; only one that runs past their end is taken by itself.
    void read(TextReader& input, std::size_t limit);
    // The lines in order, each ended CR LF, into `chunk` and their lengths into `sizes`
    // (both emptied first); the run is empty afterwards.
    void sorted_into(Bytes& chunk, std::vector<std::size_t>& sizes);
    // The start every line of the run last sorted shares (empty for an empty run).
    const std::string& shared() const { return shared_; }

  private:
    // The lines that end inside `bytes` and before the run holds `limit` lines; the bytes
    // they take with their line ends (a CR as the last byte may begin a CR LF: not taken).
    std::size_t add_lines(std::string_view bytes, std::size_t limit);

    // Where a line lies in text_; the bytes between lines are their line ends, if any.
    struct Span {
        std::size_t start, end;
    };
    const TextMeasure& measure_;
    Bytes text_;
    std::vector<Span> spans_;
    std::vector<Line> lines_, spare_;
    std::string shared_;
};

// Lines put one after another into chunks, each ended CR LF; a chunk that is full is
// handed on (and comes back empty, or as another chunk). Each line is checked against the
// one put before it, so the output's order is known without a pass over its bytes: while
// the two lines leave out the same shared start they are compared as the merge compares
// them, mostly by their prefix numbers; else whole.
class LineChunks {
  public:
    using Hand = std::function<void(Bytes&)>;
    explicit LineChunks(Hand hand) : hand_(std::move(hand)) { chunk_.reserve(kChunk); }
    // `line` is the line less its first `skip` bytes.
    void put(const Line& line, std::size_t skip) {
        const std::size_t size = line.size + skip;
        if (chunk_.size() + size + 2 > kChunk && chunk_.size() > 0) hand_on();
        char* at = chunk_.extend(size + 2);
        std::memcpy(at, line.text - skip, size);
        at[size] = '\r';
        at[size + 1] = '\n';
        if (skip == skip_ ? before(line, last_)
                          : before(line_of({at, size}), line_of(last_whole())))
            ordered_ = false;
        last_ = Line{line.prefix, at + skip, line.size};
        skip_ = skip;
    }
    // Hands on what is left.
    void finish() {
        if (chunk_.size() > 0) hand_on();
    }
    // False once a line was put that comes before the line put ahead of it.
    bool ordered() const { return ordered_; }
    // The line put last, whole (empty before the first).
    std::string_view last_whole() const { return {last_.text - skip_, last_.size + skip_}; }

  private:
    // Large enough that a write costs little beside its bytes; small, as a few are in
    // flight beside the 200 run readers' buffers.
    static constexpr std::size_t kChunk = 1 << 18;
    void hand_on();

    Hand hand_;
    Bytes chunk_;
    // The line put last, less its first skip_ bytes: in the chunk, or once the chunk is
    // handed on, in kept_. An empty line at first, which no line comes before.
    Line last_{0, "", 0};
    std::size_t skip_ = 0;
    std::string kept_;
    bool ordered_ = true;
};

// A sorted run's lines as they were written to its file, kept for the merge.
struct KeptRun {
    Bytes text;                      // each line ended CR LF
    std::vector<std::size_t> sizes;  // the lines' lengths without their ends
};

// The lengths of a run file's lines as it was written whole (each below 65535), so that
// its lines are read back without a search for their ends; empty when unknown.
using LineSizes = std::vector<std::uint16_t>;

// The lines of a run file from a byte offset on, read at their offsets (pread) on the
// descriptor of the file's reader, so the file is not opened again and the reader's own
// place stays. For a file the sort wrote whole: each line ends CR LF, and no line holds a
// CR or an LF of its own.
class PartReader {
  public:
    static constexpr std::size_t kBlock = 1 << 13;
    // `block`, `size` bytes, is the buffer until a line does not fit (nullptr: one of its own).
    PartReader(int fd, std::uint64_t at, char* block = nullptr, std::size_t size = kBlock)
        : fd_(fd), at_(at), buffer_(block), capacity_(block != nullptr ? size : 0) {}
    // The bytes read and not yet taken (read first when none are left; empty at the end).
    std::string_view ahead() {
        if (pos_ >= len_ && !fill(0)) return {};
        return {buffer_ + pos_, len_ - pos_};
    }
    void take(std::size_t bytes) { pos_ += bytes; }
    bool next_line(std::string_view& line);

  private:
    // Reads more after the `keep` bytes not yet taken, moved to the front; false when
    // nothing more came.
    bool fill(std::size_t keep);
    int fd_;
    std::uint64_t at_;  // the file offset of the next read
    char* buffer_;
    std::unique_ptr<char[]> own_;  // the buffer once the block was too small
    std::size_t capacity_, pos_ = 0, len_ = 0;
};

// Where a merge takes a run's lines from: the run's file, or the lines kept from its
// writing (for a file that opened: one that did not reads as empty either way). With the
// lengths of its lines, the file's lines are taken where they lie as long as each ends
// where its length says; a line that does not, or one after the last length, is looked
// for as any line is. A merge of a range of the lines starts at a line of the run and
// stops before another.
class RunLines {
  public:
    explicit RunLines(TextReader& file, const KeptRun* kept = nullptr,
                      const LineSizes* sizes = nullptr)
        : file_(&file),
          kept_(kept),
          sizes_(sizes != nullptr && !sizes->empty() ? sizes : nullptr) {}
    // From line `from` (0 the first), which starts at byte `at` of the file and of the
    // kept lines; `part` reads the file from there.
    RunLines(PartReader& part, const KeptRun* kept, const LineSizes* sizes, std::size_t from,
             std::uint64_t at)
        : part_(&part),
          kept_(kept),
          sizes_(sizes != nullptr && !sizes->empty() ? sizes : nullptr),
          next_(from),
          at_(static_cast<std::size_t>(at)) {}
    // No line from line `line` on.
    void stop_before(std::size_t line) { last_ = line; }
    bool next_line(std::string_view& line) {
        if (next_ >= last_) return false;
        if (kept_ != nullptr) {
            if (next_ >= kept_->sizes.size()) return false;
            const std::size_t size = kept_->sizes[next_++];
            line = std::string_view(kept_->text.data() + at_, size);
            at_ += size + 2;
            return true;
        }
        if (sizes_ != nullptr && next_ < sizes_->size()) {
            const std::size_t size = (*sizes_)[next_];
            const std::string_view bytes = part_ ? part_->ahead() : file_->ahead();
            if (bytes.size() >= size + 2 && bytes[size] == '\r' && bytes[size + 1] == '\n') {
                line = bytes.substr(0, size);
                if (part_)
                    part_->take(size + 2);
                else
                    file_->take(size + 2);
                ++next_;
                return true;
            }
        }
        ++next_;
        return part_ ? part_->next_line(line) : file_->next_line(line);
    }

  private:
    TextReader* file_ = nullptr;
    PartReader* part_ = nullptr;
    const KeptRun* kept_;
    const LineSizes* sizes_;
    std::size_t next_ = 0, at_ = 0;
    std::size_t last_ = SIZE_MAX;
};

// The runs' head lines in a tournament: each inner node keeps the run that lost the match
// played there, node 0 the overall winner, so a new head replays only its own path.
// The start that every line of the runs shares (as the runs were written) is left out of
// the heads; should a line not have it after all, it is no longer left out of any.
// With `lead`, run 0 stays out of the tree and plays only the tree's winner: for a pass whose
// run 0 is the result of the pass before, as long as all the other runs together, half the
// lines then pass one match instead of a path. The winner is the least head either way.
class Tournament {
  public:
    Tournament(std::vector<RunLines>& runs, std::string_view shared, bool lead = false);
    bool finished() const { return runs_.empty() || heads_[winner_].text == nullptr; }
    // Less its first skip() bytes.
    const Line& winner() const { return heads_[winner_]; }
    std::size_t skip() const { return shared_.size(); }
    // The winner's run moves on to its next line, and the matches on its path are replayed.
    void next() {
        std::size_t run = winner_;
        if (!advance_head(run)) {
            tree_[0] = node_of(play(1));
        } else if (run >= lead_) {
            // Who wins a match is a coin toss to the processor: the nodes' prefixes decide it
            // without a branch, and only equal prefixes look at the lines.
            Node up{heads_[run].prefix, run};
            for (std::size_t node = (run - lead_ + leaves_) / 2; node > 0; node /= 2) {
                const Node held = tree_[node];
                const bool swap =
                    held.prefix != up.prefix ? held.prefix < up.prefix : beats(held.run, up.run);
                const std::uint64_t mask = std::uint64_t{0} - swap;
                const std::uint64_t prefix = (held.prefix ^ up.prefix) & mask;
                const std::size_t other = (held.run ^ up.run) & mask;
                tree_[node] = {held.prefix ^ prefix, held.run ^ other};
                up = {up.prefix ^ prefix, up.run ^ other};
            }
            tree_[0] = up;
        }
        winner_ = lead_ != 0 && !beats(tree_[0].run, 0) ? 0 : tree_[0].run;
    }

  private:
    // A finished run's head is a line of no text with the greatest prefix: it loses every
    // match, but for the rare line whose prefix is as great, by the text.
    static constexpr std::uint64_t kLast = ~std::uint64_t{0};
    // False when the new head lacked the shared start and every head was made whole.
    bool advance_head(std::size_t j) {
        std::string_view text;
        if (!runs_[j].next_line(text)) {
            heads_[j] = Line{kLast, nullptr, 0};
            return true;
        }
        const std::size_t skip = shared_.size();
        if (skip > 0 && (text.size() < skip || !same_start(text.data(), shared_.data(), skip))) {
            heads_[j] = Line{kLast, nullptr, 0};  // its old line may be gone already
            stop_skipping();
            heads_[j] = line_of(text);
            return false;
        }
        heads_[j] = line_of(text.substr(skip));
        return true;
    }
    void stop_skipping();
    bool beats(std::size_t a, std::size_t b) const {
        const Line &x = heads_[a], &y = heads_[b];
        if (x.prefix != y.prefix) return x.prefix < y.prefix;
        if (x.text == nullptr || y.text == nullptr) return y.text == nullptr && x.text != nullptr;
        return before(x, y);
    }
    // A run and its head's prefix, as it was when the node was last played.
    struct Node {
        std::uint64_t prefix = 0;
        std::size_t run = 0;
    };

    Node node_of(std::size_t run) const { return {heads_[run].prefix, run}; }
    // The winner of the subtree below node (leaves n..2n-1 stand for the n runs of the
    // tree, from run lead_ on), the losers kept on the way.
    std::size_t play(std::size_t node);

    std::vector<RunLines>& runs_;
    std::string shared_;
    std::vector<Line> heads_;
    std::vector<Node> tree_;
    std::size_t lead_ = 0, leaves_ = 0;  // runs before the tree's, and the tree's
    std::size_t winner_ = 0;
};

}  // namespace rowkeep
