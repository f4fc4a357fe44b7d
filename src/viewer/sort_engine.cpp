// How it works
//
// An external merge sort through files of the working folder. The input is cut into runs
// of at most 2000 lines, each lower-cased (A-Z only), sorted and written as
// file_03_<r>.txt. Up to 200 runs at a time are then merged into sort_output.txt, the
// smallest head found by a tournament of the runs (a loser tree). When more runs remain,
// the merged ones are removed, the rest renumbered to follow the merged result as run 1,
// and the next pass begins. The result is copied to sort_out_name.
//
// Equal lines are identical text, so any correct sort gives the same bytes in every file
// as picking minima one by one would. Renumbering moves files where their old name is
// reused anyway, and copies (links) only those whose old name must stay on disk, so the
// folder ends as if every run had been copied.
//
// Lines are never strings of their own: a run's lines lie one after another in one block,
// a merged run's head where its reader's buffer holds it, and every line carries its first
// eight bytes as a number, so that most comparisons are one integer comparison.
#include "viewer/sort_engine.h"

#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/tokens.h"

namespace rowkeep {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWriteChunk = 1 << 20;
constexpr std::string_view kOutputFile = "sort_output.txt";

std::string run_name(std::size_t r) {
    return "file_03_" + std::to_string(r) + ".txt";
}

char lower_letter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

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
    std::memcpy(to, from.data(), from.size());
    for (std::size_t at = 0; at < from.size();) {
        const std::size_t length = m.char_length(from, at);
        if (length == 1) to[at] = lower_letter(to[at]);
        at += length;
    }
}

// A line and its first eight bytes as a big-endian number (zeros after a shorter line):
// lines whose numbers differ are ordered by them.
struct Line {
    std::uint64_t prefix = 0;
    const char* text = nullptr;
    std::size_t size = 0;
};

std::uint64_t prefix_of(const char* text, std::size_t size) {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, text, std::min<std::size_t>(size, 8));
    if constexpr (std::endian::native == std::endian::little) bytes = __builtin_bswap64(bytes);
    return bytes;
}

Line line_of(std::string_view text) {
    return {prefix_of(text.data(), text.size()), text.data(), text.size()};
}

// Bytes as unsigned values; a line that is the start of the other comes first.
bool before(const Line& a, const Line& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const int order = std::memcmp(a.text, b.text, std::min(a.size, b.size));
    return order != 0 ? order < 0 : a.size < b.size;
}

// A block of bytes that grows without clearing what it gains.
class Bytes {
  public:
    char* data() { return data_.get(); }
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }
    // Room for n more bytes at the end, handed out; the size grows by n.
    char* extend(std::size_t n) {
        if (size_ + n > capacity_) grow(size_ + n);
        char* at = data_.get() + size_;
        size_ += n;
        return at;
    }

  private:
    void grow(std::size_t least) {
        const std::size_t capacity = std::max(least, 2 * capacity_);
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
        if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        capacity_ = capacity;
    }
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0, capacity_ = 0;
};

// Lines gathered into large writes of a TextWriter, each ended CR LF. With `check`, each
// line is compared with the one written before it: the order check of the merged output,
// made on the very bytes that go to the file.
class LineSink {
  public:
    explicit LineSink(TextWriter& out) : out_(out) {}
    ~LineSink() { flush(); }
    LineSink(const LineSink&) = delete;
    LineSink& operator=(const LineSink&) = delete;

    void put(const Line& line) {
        if (chunk_.size() + line.size + 2 > kWriteChunk) flush();
        if (check_) check(line);
        previous_at_ = chunk_.size();
        char* at = chunk_.extend(line.size + 2);
        std::memcpy(at, line.text, line.size);
        at[line.size] = '\r';
        at[line.size + 1] = '\n';
    }
    void flush();
    void check_order() { check_ = true; }
    bool ordered() const { return ordered_; }

  private:
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

    TextWriter& out_;
    Bytes chunk_;
    bool check_ = false, first_ = true, ordered_ = true;
    Line previous_;
    std::size_t previous_at_ = 0;  // where the previous line lies in the chunk
    bool kept_previous_ = false;   // it lies in kept_ instead: its chunk has gone
    std::string kept_;
};

void LineSink::flush() {
    if (chunk_.size() == 0) return;
    if (check_ && !first_ && !kept_previous_) {
        kept_.assign(chunk_.data() + previous_at_, previous_.size);
        kept_previous_ = true;
    }
    out_.write_raw(std::string_view(chunk_.data(), chunk_.size()));
    chunk_.clear();
}

// One run: its lines lowered, one after another in one block.
class Run {
  public:
    explicit Run(const TextMeasure& m) : measure_(m) {}
    std::size_t size() const { return ends_.size(); }
    void add(std::string_view line) {
        char* at = text_.extend(line.size());
        if (measure_.kind() == TextMeasure::Kind::gb18030)
            copy_lower_gb18030(at, line, measure_);
        else
            copy_lower(at, line.data(), line.size());
        ends_.push_back(text_.size());
    }
    // The lines in order, written to `out`; the run is empty afterwards.
    void write_sorted(LineSink& out);

  private:
    const TextMeasure& measure_;
    Bytes text_;
    std::vector<std::size_t> ends_;
    std::vector<Line> lines_;
};

void Run::write_sorted(LineSink& out) {
    lines_.clear();
    std::size_t start = 0;
    for (std::size_t end : ends_) {
        lines_.push_back(line_of(std::string_view(text_.data() + start, end - start)));
        start = end;
    }
    std::sort(lines_.begin(), lines_.end(), before);
    for (const Line& line : lines_) out.put(line);
    text_.clear();
    ends_.clear();
}

// The runs' head lines in a tournament: each inner node keeps the run that lost the match
// played there, node 0 the overall winner, so a new head replays only its own path.
// A finished run's head is a line of no text with the greatest prefix: it loses every
// match, but for the rare line whose prefix is as great, by the text.
class Tournament {
  public:
    explicit Tournament(std::vector<std::unique_ptr<TextReader>>& runs)
        : runs_(runs), heads_(runs.size()), tree_(runs.size()) {
        for (std::size_t j = 0; j < runs_.size(); ++j) advance_head(j);
        if (runs_.size() > 0) tree_[0] = runs_.size() == 1 ? 0 : play(1);
    }
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
    static constexpr std::uint64_t kLast = ~std::uint64_t{0};
    void advance_head(std::size_t j) {
        std::string_view text;
        if (runs_[j]->next_line(text))
            heads_[j] = line_of(text);
        else
            heads_[j] = Line{kLast, nullptr, 0};
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

std::size_t Tournament::play(std::size_t node) {
    const std::size_t k = runs_.size();
    if (node >= k) return node - k;
    const std::size_t left = play(2 * node), right = play(2 * node + 1);
    const bool left_wins = !beats(right, left);
    tree_[node] = left_wins ? right : left;
    return left_wins ? left : right;
}

// Where the run files are written. After the delete that begins a sort no name of the
// kind is left in the folder, so each run file is made by its name as it stands, not
// looked up in the folder (a listing per run file); should one be left, all are looked up.
class RunFiles {
  public:
    explicit RunFiles(Session& s) : s_(s) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(s.dir, ec))
            if (matches_pattern("file_03_*.txt", entry.path().filename().string())) look_up_ = true;
        if (ec) look_up_ = true;
    }
    fs::path path(std::size_t r) const {
        return look_up_ ? s_.files.resolve(run_name(r)) : s_.dir / run_name(r);
    }

  private:
    Session& s_;
    bool look_up_ = false;
};

void write_run(Session& s, const SortJob& job, Run& run, TextWriter& out, const RunFiles& files,
               std::size_t r, bool full, std::size_t lines_read, std::size_t total) {
    const std::string name = run_name(r);
    if (full) {
        s.console.print_text(job.sort_label + " " + name + " " +
                             number_text(static_cast<long long>(lines_read)) + "/" +
                             number_text(static_cast<long long>(total)));
    }
    s.out_file_name = name;
    out.open_path(s.files, files.path(r));
    {
        LineSink sink(out);
        run.write_sorted(sink);
    }
    out.close();
}

// Cuts the input into sorted runs; the number of runs.
std::size_t write_runs(Session& s, const SortJob& job, TextReader& input, std::size_t total) {
    Run run(s.console.measure());
    const RunFiles files(s);
    TextWriter out;
    std::string_view line;
    std::size_t read = 0, runs = 0;
    while (input.next_line(line)) {
        ++read;
        run.add(line);
        if (run.size() == job.run_lines)
            write_run(s, job, run, out, files, ++runs, true, read, total);
    }
    if (run.size() > 0) write_run(s, job, run, out, files, ++runs, false, read, total);
    return runs;
}

// Merges runs 1..m into sort_output.txt; false when the output came out of order.
bool merge_pass(Session& s, std::size_t m) {
    std::vector<std::unique_ptr<TextReader>> runs;
    runs.reserve(m);
    for (std::size_t j = 1; j <= m; ++j)
        runs.push_back(std::make_unique<TextReader>(s.files, run_name(j)));
    Tournament tournament(runs);
    s.out_file_name = std::string(kOutputFile);
    TextWriter out(s.files, kOutputFile);
    bool ordered = true;
    {
        LineSink sink(out);
        sink.check_order();
        for (; !tournament.finished(); tournament.next()) sink.put(tournament.winner());
        sink.flush();
        ordered = sink.ordered();
    }
    out.close();
    s.in_file_name = std::string(kOutputFile);
    return ordered;
}

// Gives the file at `from` the name `to` as well, keeping `from` (a link where the file
// system allows it, else a copy).
void duplicate(const FileSystem& files, const fs::path& from, const fs::path& to) {
    files.remove(to);
    if (!files.link(from, to)) files.copy(from, to);
}

// After a pass over runs 1..m of r: the merged runs go, runs m+1..r become 2..r-m+1, and
// the merged result becomes run 1.
void renumber(Session& s, std::size_t m, std::size_t r) {
    for (std::size_t j = 1; j <= m; ++j) s.files.remove(s.files.resolve(run_name(j)));
    const std::size_t last_target = r - m + 1;
    for (std::size_t i = m + 1; i <= r; ++i) {
        const fs::path from = s.files.resolve(run_name(i));
        const fs::path to = s.dir / run_name(i - m + 1);
        // A name beyond the new last run is not reused: that file stays as it was.
        if (i > last_target)
            duplicate(s.files, from, to);
        else
            s.files.rename(from, to);
    }
    // sort_output.txt is written afresh by the next pass, so its content may move.
    fs::path output = s.files.resolve(kOutputFile);
    if (!s.files.rename(output, s.dir / run_name(1))) s.files.copy(output, s.dir / run_name(1));
}

std::size_t count_lines(TextReader& input) {
    std::size_t total = 0;
    std::string_view line;
    while (input.next_line(line)) ++total;
    input.rewind();
    return total;
}

}  // namespace

void sort_file(Session& s, const SortJob& job) {
    if (job.sort_in_name.empty()) throw ProgramEnd{};
    s.shell.run_command("del /q file_03_*.txt > null.txt");

    s.in_file_name = job.sort_in_name;
    std::size_t runs = 0;
    {
        TextReader input(s.files, job.sort_in_name);
        runs = write_runs(s, job, input, count_lines(input));
    }

    std::size_t m = std::min(job.merge_width, runs);
    for (;;) {
        if (!merge_pass(s, m)) {
            s.console.print_text("sort error");
            throw ProgramEnd{};
        }
        if (runs <= m) break;
        renumber(s, m, runs);
        runs = runs - m + 1;
        m = std::min(job.merge_width, runs);
    }

    const fs::path output = s.files.resolve(kOutputFile);
    const fs::path target = s.files.resolve(job.sort_out_name);
    std::error_code ec;
    if (!(fs::exists(target, ec) && fs::equivalent(output, target, ec)))
        s.files.copy(output, target);
}

}  // namespace rowkeep
