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
// A second thread sorts each run while the next is read, and merges while the merged
// lines are written. It only computes and reads files already open: every file operation
// that can fail (open, write, flush, close, rename, copy) stays on the calling thread, in
// the order it has without the second thread, and is checked there.
//
// A large pass whose runs are all known whole and in order is cut at one key: the calling
// thread merges and writes the lines before it, the second thread those after it, written
// at their offsets on the same descriptor. The file then ends where the first write that
// failed in file order left it, as it would written front to back.
#include "viewer/sort_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "console/console.h"
#include "console/records.h"
#include "console/replace_file.h"
#include "console/shell.h"
#include "console/tokens.h"
#include "viewer/sort_lines.h"
#include "viewer/spare_files.h"

namespace rowkeep {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kOutputFile = "sort_output.txt";

std::string run_name(std::size_t r) {
    return "file_03_" + std::to_string(r) + ".txt";
}

// Runs one job at a time on a thread of its own; wait() returns when it is done and
// passes on what it threw.
class Worker {
  public:
    Worker() : thread_([this] { serve(); }) {}
    ~Worker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void start(std::function<void()> job) {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !job_; });
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }

  private:
    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || job_; });
            if (!job_) return;
            lock.unlock();
            try {
                job_();
            } catch (...) {
                failure_ = std::current_exception();
            }
            lock.lock();
            job_ = nullptr;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    std::exception_ptr failure_;
    bool stop_ = false;
    std::thread thread_;  // last: it starts once the rest is made
};

// Full chunks from the merging thread to the writing one, and empty ones back; a few
// chunks go round, so neither runs far ahead of the other.
class Handoff {
  public:
    explicit Handoff(std::size_t chunks) : empty_(chunks) {}
    // The merging side: a full chunk in, an empty one out.
    void pass(Bytes& chunk) {
        std::unique_lock lock(mutex_);
        full_.push_back(std::move(chunk));
        changed_.notify_all();
        changed_.wait(lock, [this] { return !empty_.empty(); });
        chunk = std::move(empty_.front());
        empty_.pop_front();
        chunk.clear();
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    // The writing side: the next full chunk, false when there is none and none will come.
    bool take(Bytes& chunk) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return closed_ || !full_.empty(); });
        if (full_.empty()) return false;
        chunk = std::move(full_.front());
        full_.pop_front();
        return true;
    }
    void give_back(Bytes& chunk) {
        std::lock_guard lock(mutex_);
        empty_.push_back(std::move(chunk));
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Bytes> full_, empty_;
    bool closed_ = false;
};

// Where the run files are written. After the delete that begins a sort no name of the
// kind is left in the folder, so each run file is made by its name as it stands, not
// looked up in the folder (a listing per run file); should one be left, all are looked up.
class RunFiles {
  public:
    explicit RunFiles(Session& s) : s_(s) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(s.files.dir(), ec))
            if (matches_pattern("file_03_*.txt", entry.path().filename().string())) look_up_ = true;
        if (ec) look_up_ = true;
    }
    fs::path path(std::size_t r) const {
        return look_up_ ? s_.files.resolve(run_name(r)) : s_.files.dir() / run_name(r);
    }

  private:
    Session& s_;
    bool look_up_ = false;
};

// The runs as written, kept in memory while they are small together: a merge of them all
// then takes its lines from memory instead of reading them back from the files. Kept are
// all runs or none.
class KeptRuns {
  public:
    explicit KeptRuns(std::size_t limit) : limit_(limit) {}
    // Takes the run written last (`text` and `sizes` are left empty) when its file was
    // written whole and there is room; else keeps none from here on.
    void offer(Bytes& text, std::vector<std::size_t>& sizes, bool written) {
        if (!keeping_) return;
        if (!written || bytes_ + text.size() > limit_) {
            drop();
            return;
        }
        bytes_ += text.size();
        runs_.push_back({std::exchange(text, Bytes{}), std::exchange(sizes, {})});
    }
    void drop() {
        keeping_ = false;
        std::vector<KeptRun>().swap(runs_);
    }
    // Run j's lines (from 1), or nullptr.
    const KeptRun* run(std::size_t j) const {
        return keeping_ && j <= runs_.size() ? &runs_[j - 1] : nullptr;
    }

  private:
    std::size_t limit_;
    std::vector<KeptRun> runs_;
    std::size_t bytes_ = 0;
    bool keeping_ = true;
};

// Every so many lines of a run, the line as its file holds it, with its number and offset:
// what a merge needs to cut the runs at one key. Known only for a run whose file holds it
// whole and in order, every line ended CR LF.
struct RunIndex {
    bool known = false;
    std::size_t lines = 0;
    std::uint64_t bytes = 0;
    std::vector<std::size_t> line;
    std::vector<std::uint64_t> at;
    std::vector<std::size_t> end;  // of each sample's text in `text`
    std::string text;

    std::size_t samples() const { return line.size(); }
    std::string_view sample(std::size_t k) const {
        const std::size_t from = k == 0 ? 0 : end[k - 1];
        return std::string_view(text).substr(from, end[k] - from);
    }
    void add(std::size_t n, std::uint64_t offset, std::string_view line_text) {
        line.push_back(n);
        at.push_back(offset);
        text.append(line_text);
        end.push_back(text.size());
    }
    // The samples of the lines that follow (numbered and placed in the same file).
    void append(const RunIndex& next) {
        for (std::size_t k = 0; k < next.samples(); ++k)
            add(next.line[k], next.at[k], next.sample(k));
    }
};

// Notes every `every`-th line of a merge's output (and its first) in an index, counting the lines
// and bytes from where the merge starts in the file.
class Sampler {
  public:
    Sampler(RunIndex& index, std::size_t every, std::size_t first, std::uint64_t at)
        : index_(index), every_(every), next_(first), n_(first), at_(at) {}
    void see(const Line& line, std::size_t skip) {
        const std::size_t size = line.size + skip;
        if (n_ == next_) {
            index_.add(n_, at_, std::string_view(line.text - skip, size));
            next_ = (n_ / every_ + 1) * every_;
        }
        ++n_;
        at_ += size + 2;
    }
    std::size_t lines() const { return n_; }
    std::uint64_t bytes() const { return at_; }
    // Takes on the lines of `later`, which follow these.
    void count_on(const Sampler& later) {
        n_ = later.n_;
        at_ = later.at_;
    }

  private:
    RunIndex& index_;
    std::size_t every_, next_, n_;
    std::uint64_t at_;
};

// The sorted lines of run r, the progress line first for a full run (whose last line is
// line r x run_lines of the input). False when the file was not written whole.
bool write_run(Session& s, const SortJob& job, const RunFiles& files, SpareFiles& spares,
               TextWriter& out, std::size_t r, bool full, std::size_t total, const Bytes& lines) {
    const std::string name = run_name(r);
    if (full) {
        s.console.print_text(job.sort_label + " " + name + " " +
                             number_text(static_cast<long long>(r * job.run_lines)) + "/" +
                             number_text(static_cast<long long>(total)));
    }
    const fs::path path = files.path(r);
    if (!spares.give(path)) {
        out.open_path(s.files, path);
    } else if (!out.open_over(s.files, path)) {
        ::unlink(path.c_str());  // a file that could not be made is not there
    }
    out.write_raw(lines.view());
    return out.close();
}

// The lengths in LineSizes, or none when one is too long for it.
LineSizes compact_sizes(const std::vector<std::size_t>& sizes) {
    LineSizes compact;
    compact.reserve(sizes.size());
    for (std::size_t size : sizes) {
        if (size >= 0xffff) return {};
        compact.push_back(static_cast<std::uint16_t>(size));
    }
    return compact;
}

// What the runs' lines have in common: the start every one of them shares. It narrows
// with each run; unknown before the first.
class SharedStart {
  public:
    void narrow(const std::string& run) {
        if (!known_) {
            text_ = run;
            known_ = true;
            return;
        }
        const std::size_t limit = std::min(text_.size(), run.size());
        text_.resize(shared_start(text_.data(), run.data(), limit));
    }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
    bool known_ = false;
};

// The samples of a sorted run, every `every`-th line.
RunIndex index_of(const Bytes& text, const std::vector<std::size_t>& sizes, std::size_t every) {
    RunIndex index;
    every = std::max<std::size_t>(every, 1);
    std::uint64_t at = 0;
    for (std::size_t n = 0; n < sizes.size(); ++n) {
        if (n % every == 0) index.add(n, at, std::string_view(text.data() + at, sizes[n]));
        at += sizes[n] + 2;
    }
    index.lines = sizes.size();
    index.bytes = at;
    return index;
}

// Cuts the input into sorted runs; the number of runs. This thread reads and lowers the
// next run and writes the one before while the worker sorts the one between: the files are
// made here, and making hundreds of them at once is what takes the time. Read a block at a
// time, a run costs less to read than to sort; the worker reading as well would keep this
// thread waiting.
std::size_t write_runs(Session& s, const SortJob& job, TextReader& input, std::size_t total,
                       SpareFiles& spares, SharedStart& shared, KeptRuns& kept,
                       std::vector<LineSizes>& sizes, std::vector<RunIndex>& index) {
    const RunFiles files(s);
    struct Sorted {
        Bytes text;
        std::vector<std::size_t> sizes;
        std::string shared;
    };
    Sorted sorted[2];
    Run run[2] = {Run(s.console.measure()), Run(s.console.measure())};
    auto read = [&input, limit = job.run_lines](Run& into) {
        into.read(input, limit);
        return into.size();
    };
    auto sort = [](Run& from, Sorted& into) {
        from.sorted_into(into.text, into.sizes);
        into.shared = from.shared();
    };
    TextWriter out;
    Worker worker;
    std::size_t made = 0;
    std::size_t lines = read(run[0]);
    if (lines > 0) worker.start([&] { sort(run[0], sorted[0]); });
    for (int k = 0; lines > 0; k = 1 - k) {
        const bool full = lines == job.run_lines;
        const std::size_t next = full ? read(run[1 - k]) : 0;
        worker.wait();
        if (next > 0)
            worker.start([&sort, &from = run[1 - k], &into = sorted[1 - k]] { sort(from, into); });
        Sorted& done = sorted[k];
        shared.narrow(done.shared);
        const bool written = write_run(s, job, files, spares, out, ++made, full, total, done.text);
        sizes.push_back(written ? compact_sizes(done.sizes) : LineSizes{});
        // Here, not on the worker: what stays to the end of the sort is not put among the
        // runs that go when they no longer fit in memory, where it would keep them taken.
        index.push_back(index_of(done.text, done.sizes, job.sample_lines));
        index.back().known = written;
        kept.offer(done.text, done.sizes, written);
        lines = next;
    }
    return made;
}

// Where a merge cuts a run: the lines before the cut and their bytes.
struct Cut {
    std::size_t line = 0;
    std::uint64_t at = 0;
};

// Bytes [from, from + size) of a run file (or of its kept lines, the same bytes) into
// `block`; false when the file holds fewer.
bool run_bytes(int fd, const KeptRun* kept, std::uint64_t from, std::size_t size,
               std::string& block) {
    if (kept != nullptr) {
        if (from + size > kept->text.size()) return false;
        block.assign(kept->text.data() + from, size);
        return true;
    }
    block.resize(size);
    for (std::size_t got = 0; got < size;) {
        const ssize_t n =
            ::pread(fd, block.data() + got, size - got, static_cast<off_t>(from + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// The cut of a run before its first line that is not less than `key` (with `equal_before`:
// not less or equal). Between the samples that bracket it the run's bytes are read and
// the lines looked at one by one. False when those bytes are not lines ended CR LF.
bool find_cut(const RunIndex& run, const KeptRun* kept, int fd, std::string_view key,
              bool equal_before, Cut& cut, std::string& block) {
    auto is_before = [&](std::string_view text) {
        const int order = text.compare(key);
        return order < 0 || (order == 0 && equal_before);
    };
    std::size_t lo = 0, hi = run.samples();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (is_before(run.sample(mid)))
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0) {  // the first sample is the run's first line
        cut = {};
        return true;
    }
    const std::size_t k = lo - 1;
    const std::uint64_t from = run.at[k], to = lo < run.samples() ? run.at[lo] : run.bytes;
    const std::size_t stop = lo < run.samples() ? run.line[lo] : run.lines;
    if (to < from || !run_bytes(fd, kept, from, static_cast<std::size_t>(to - from), block))
        return false;
    std::size_t line = run.line[k], pos = 0;
    for (; line < stop; ++line) {
        const std::size_t lf = block.find('\n', pos);
        if (lf == std::string::npos || lf == pos || block[lf - 1] != '\r') return false;
        if (!is_before(std::string_view(block).substr(pos, lf - 1 - pos))) break;
        pos = lf + 1;
    }
    cut = {line, from + pos};
    return true;
}

// Cuts runs 1..m (`index` from run 1) at the key of about their middle line: every line
// before a cut comes before every line after one, among equal lines by run and line
// number. False when a pass is better merged whole: too small, a run not known, a file
// that did not open, or one side left empty.
bool find_cuts(const SortJob& job, const std::vector<RunIndex>& index, const KeptRuns& kept,
               const std::vector<std::unique_ptr<TextReader>>& files, const std::string& shared,
               std::vector<Cut>& cuts) {
    const std::size_t m = files.size();
    std::size_t total = 0;
    // Compared as the merge compares its lines: mostly by the number of their first eight
    // bytes after the start they all share.
    struct Sample {
        Line text;
        std::uint32_t run, k;
    };
    std::size_t skip = shared.size();
    for (std::size_t j = 0; j < m; ++j) {
        if (!index[j].known || !files[j]->is_open()) return false;
        total += index[j].lines;
        for (std::size_t k = 0; k < index[j].samples() && skip > 0; ++k)
            if (!index[j].sample(k).starts_with(shared)) skip = 0;
    }
    if (total < std::max<std::size_t>(job.split_lines, 2)) return false;
    std::vector<Sample> samples;
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t k = 0; k < index[j].samples(); ++k)
            samples.push_back({line_of(index[j].sample(k).substr(skip)),
                               static_cast<std::uint32_t>(j), static_cast<std::uint32_t>(k)});
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
        if (before(a.text, b.text)) return true;
        if (before(b.text, a.text)) return false;
        return a.run != b.run ? a.run < b.run : a.k < b.k;
    });
    // Each sample stands for the lines from it to the next of its run.
    std::size_t before = 0;
    Sample key{};
    for (const Sample& sample : samples) {
        const RunIndex& run = index[sample.run];
        const std::size_t weight =
            (sample.k + 1 < run.samples() ? run.line[sample.k + 1] : run.lines) -
            run.line[sample.k];
        key = sample;
        if (before + weight > total / 2) break;
        before += weight;
    }
    const std::string_view key_text = index[key.run].sample(key.k);
    cuts.assign(m, Cut{});
    std::string block;
    std::size_t lines = 0;
    for (std::size_t j = 0; j < m; ++j) {
        if (j == key.run)
            cuts[j] = {index[j].line[key.k], index[j].at[key.k]};
        else if (!find_cut(index[j], kept.run(j + 1), files[j]->descriptor(), key_text, j < key.run,
                           cuts[j], block))
            return false;
        lines += cuts[j].line;
    }
    return lines > 0 && lines < total;
}

// Writes all the bytes at offset `at`, which moves on past what was written: 0, or the
// errno of the write that failed.
int write_at(int fd, std::string_view bytes, std::uint64_t& at) {
    while (!bytes.empty()) {
        const ssize_t put = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return put < 0 ? errno : EIO;
        at += static_cast<std::uint64_t>(put);
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

// Merges the runs' lines into chunks handed to `hand`, each line seen by the sampler;
// false when a line came out before the one ahead of it. `last` (when given) receives
// the last line merged. `lead`: the first run is the pass before's result.
bool merge_lines(std::vector<RunLines>& runs, const std::string& shared, bool lead,
                 Sampler& sampler, LineChunks::Hand hand, std::string* last = nullptr) {
    LineChunks chunks(std::move(hand));
    for (Tournament t(runs, shared, lead); !t.finished(); t.next()) {
        sampler.see(t.winner(), t.skip());
        chunks.put(t.winner(), t.skip());
    }
    if (last != nullptr) last->assign(chunks.last_whole());
    chunks.finish();
    return chunks.ordered();
}

// Merges runs 1..m into `out` whole: the worker merges into chunks that this thread
// writes.
bool merge_whole(std::vector<RunLines>& runs, const std::string& shared, bool lead, TextWriter& out,
                 Sampler& sampler) {
    Handoff handoff(2);
    bool ordered = true;
    Worker worker;
    worker.start([&] {
        struct Closing {
            Handoff& h;
            ~Closing() { h.close(); }
        } closing{handoff};
        ordered =
            merge_lines(runs, shared, lead, sampler, [&](Bytes& chunk) { handoff.pass(chunk); });
    });
    Bytes chunk;
    try {
        while (handoff.take(chunk)) {
            out.write_raw(chunk.view());
            handoff.give_back(chunk);
        }
    } catch (...) {
        // The worker must not wait for a chunk that will never come back.
        handoff.give_back(chunk);
        while (handoff.take(chunk)) handoff.give_back(chunk);
        throw;
    }
    worker.wait();
    return ordered;
}

// The blocks of the part readers, made at the first pass that needs them and kept to the
// end of the sort: made anew for each pass, they would lie where the next pass puts its
// file buffers, which would then need memory of their own.
// The result of the pass before, as long as all the other runs together, is read in larger
// blocks: a pass's reads are mostly that run's otherwise, and each costs a system call.
class Blocks {
  public:
    static constexpr std::size_t kLeadBlock = std::size_t{1} << 17;
    char* block(std::size_t k) {
        while (blocks_.size() <= k)
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(PartReader::kBlock));
        return blocks_[k].get();
    }
    char* lead_block(std::size_t half) {
        if (!lead_[half]) lead_[half] = std::make_unique_for_overwrite<char[]>(kLeadBlock);
        return lead_[half].get();
    }

  private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::unique_ptr<char[]> lead_[2];
};

// Runs 1..m as two merges read them: the lines before the cuts and those after. Both read
// the files at offsets, in small blocks, on the descriptors the files' readers opened.
struct CutRuns {
    CutRuns(const std::vector<Cut>& cuts, Blocks& blocks,
            const std::vector<std::unique_ptr<TextReader>>& files, const KeptRuns& kept,
            std::vector<LineSizes>& sizes, bool lead) {
        const std::size_t m = files.size();
        parts.reserve(2 * m);
        before.reserve(m);
        after.reserve(m);
        for (std::size_t j = 0; j < m; ++j) {
            const KeptRun* in_memory = kept.run(j + 1);
            const bool large = lead && j == 0;
            const std::size_t size = large ? Blocks::kLeadBlock : PartReader::kBlock;
            auto block = [&](std::size_t half) {
                return large ? blocks.lead_block(half) : blocks.block(2 * j + half);
            };
            parts.emplace_back(files[j]->descriptor(), 0, block(0), size);
            before.emplace_back(parts.back(), in_memory, &sizes[j], 0, 0);
            before.back().stop_before(cuts[j].line);
            parts.emplace_back(files[j]->descriptor(), cuts[j].at, block(1), size);
            after.emplace_back(parts.back(), in_memory, &sizes[j], cuts[j].line, cuts[j].at);
        }
    }
    std::vector<PartReader> parts;
    std::vector<RunLines> before, after;
};

// Merges runs 1..m cut at `cuts`: this thread the lines before the cuts, written through
// `out`, the worker those after them, written at their offsets. `samples` gets the merged
// lines' samples; `sampler` counts all of them.
bool merge_split(const std::vector<Cut>& cuts, CutRuns& runs, const std::string& shared, bool lead,
                 std::size_t every, TextWriter& out, RunIndex& samples, Sampler& sampler) {
    std::size_t lines = 0;
    std::uint64_t bytes = 0;
    for (const Cut& cut : cuts) {
        lines += cut.line;
        bytes += cut.at;
    }
    struct After {
        bool ordered = true;
        RunIndex samples;
        std::uint64_t end = 0;
        int error = 0;
    } late;
    late.end = bytes;
    Sampler late_sampler(late.samples, every, lines, bytes);
    const int fd = out.descriptor();
    Worker worker;
    worker.start([&] {
        late.ordered = merge_lines(runs.after, shared, lead, late_sampler, [&](Bytes& chunk) {
            if (fd >= 0 && late.error == 0) late.error = write_at(fd, chunk.view(), late.end);
        });
    });
    std::string last;
    bool ordered = merge_lines(
        runs.before, shared, lead, sampler, [&](Bytes& chunk) { out.write_raw(chunk.view()); },
        &last);
    worker.wait();
    if (fd >= 0) out.written_to(late.end, late.error);
    // Where the two meet: the first line after the cuts (its first sample) against the last
    // line before them.
    if (late.samples.samples() > 0 && before(line_of(late.samples.sample(0)), line_of(last)))
        ordered = false;
    samples.append(late.samples);
    sampler.count_on(late_sampler);
    return ordered && late.ordered;
}

// sort_output.txt as the last sort left it may be a second name of that sort's result
// (SortJob::share_output), which must keep its lines: such a name is moved aside to a
// temporary one before the output is written afresh. False when the name could not be
// freed (nothing may be written over it then); `aside` is the temporary, or empty.
bool move_shared_aside(const fs::path& path, fs::path& aside) {
    aside.clear();
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink < 2) return true;
    aside = link_temporary(path);
    if (::unlink(path.c_str()) == 0) return true;
    const int error = errno;
    if (!aside.empty()) ::unlink(aside.c_str());
    aside.clear();
    errno = error;
    return false;
}

// Opens sort_output.txt for a pass: a spare file takes the name when no file has it. A file
// that could not be opened is as it was: a spare given is gone again, a name moved aside
// is back.
void open_output(Session& s, SpareFiles& spares, TextWriter& out) {
    const fs::path path = s.files.resolve(kOutputFile);
    fs::path aside;
    if (!move_shared_aside(path, aside)) {
        s.files.fail(errno, std::string(kOutputFile) + ": " + std::strerror(errno));
        return;
    }
    const bool given = spares.give(path);
    if (out.open_over(s.files, path)) {
        if (!aside.empty()) ::unlink(aside.c_str());
        return;
    }
    if (given) ::unlink(path.c_str());
    if (!aside.empty()) ::rename(aside.c_str(), path.c_str());
}

// Merges runs 1..m into sort_output.txt; false when the output came out of order. `lead`:
// run 1 is the result of the pass before. The runs' readers in `files` are kept from pass
// to pass, closed in between: made anew, hundreds of them would take fresh memory for
// their buffers at every pass.
bool merge_pass(Session& s, const SortJob& job, std::size_t m, bool lead, const std::string& shared,
                const KeptRuns& kept, std::vector<LineSizes>& sizes, std::vector<RunIndex>& index,
                Blocks& blocks, SpareFiles& spares,
                std::vector<std::unique_ptr<TextReader>>& files) {
    files.resize(m);
    struct Closing {
        std::vector<std::unique_ptr<TextReader>>& files;
        ~Closing() {
            for (const auto& file : files)
                if (file) file->close();
        }
    } closing{files};
    for (std::size_t j = 1; j <= m; ++j) {
        if (!files[j - 1]) files[j - 1] = std::make_unique<TextReader>();
        files[j - 1]->open(s.files, run_name(j));
    }
    TextWriter out;
    open_output(s, spares, out);
    const std::size_t every = std::max<std::size_t>(job.sample_lines, 1);
    RunIndex merged;
    Sampler sampler(merged, every, 0, 0);
    std::vector<Cut> cuts;
    bool ordered = true;
    if (find_cuts(job, index, kept, files, shared, cuts)) {
        if (job.passes_split != nullptr) ++*job.passes_split;
        CutRuns cut(cuts, blocks, files, kept, sizes, lead);
        ordered = merge_split(cuts, cut, shared, lead, every, out, merged, sampler);
    } else {
        std::vector<RunLines> runs;
        runs.reserve(m);
        for (std::size_t j = 1; j <= m; ++j) {
            const bool open = files[j - 1]->is_open();
            runs.emplace_back(*files[j - 1], open ? kept.run(j) : nullptr,
                              open ? &sizes[j - 1] : nullptr);
        }
        ordered = merge_whole(runs, shared, lead, out, sampler);
    }
    merged.known = out.close() && ordered;
    merged.lines = sampler.lines();
    merged.bytes = sampler.bytes();
    s.in_file_name = std::string(kOutputFile);
    // Should a further pass follow, the merged runs give way to the result as run 1.
    sizes.erase(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(m));
    // Its lengths are not kept: the sort set-up would pass its memory limit.
    sizes.insert(sizes.begin(), LineSizes{});
    index.erase(index.begin(), index.begin() + static_cast<std::ptrdiff_t>(m));
    index.insert(index.begin(), std::move(merged));
    return ordered;
}

// The LFs and CRs of the bytes less the CR LF pairs among them (and the one a CR just before
// them makes with an LF at their start), sixteen bytes a step where the processor allows.
std::size_t count_line_ends(std::string_view bytes, bool after_cr) {
    const char* p = bytes.data();
    const std::size_t n = bytes.size();
    if (n == 0) return 0;
    // An LF after a CR ends no line of its own; any other LF or CR ends one.
    std::size_t ends = p[0] == '\r' || (p[0] == '\n' && !after_cr) ? 1 : 0;
    std::size_t i = 1;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    // Each step adds at most one to each byte of the tally, summed before a byte overflows.
    while (i + 16 <= n) {
        __m128i tally = _mm_setzero_si128();
        for (int step = 0; step < 255 && i + 16 <= n; ++step, i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i - 1));
            const __m128i is_lf = _mm_cmpeq_epi8(x, lf);
            const __m128i pair = _mm_and_si128(is_lf, _mm_cmpeq_epi8(before, cr));
            const __m128i ending =
                _mm_andnot_si128(pair, _mm_or_si128(is_lf, _mm_cmpeq_epi8(x, cr)));
            tally = _mm_sub_epi8(tally, ending);
        }
        const __m128i sums = _mm_sad_epu8(tally, _mm_setzero_si128());
        ends += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
    }
#endif
    for (; i < n; ++i)
        if (p[i] == '\r' || (p[i] == '\n' && p[i - 1] != '\r')) ++ends;
    return ends;
}

// Gives the file at `from` the name `to` as well, keeping `from` (a link where the file
// system allows it, else a copy).
bool duplicate(const FileSystem& files, const fs::path& from, const fs::path& to) {
    const bool removed = files.remove(to);
    return (files.link(from, to) || files.copy(from, to)) && removed;
}

// After a pass over runs 1..m of r: the merged runs go, runs m+1..r become 2..r-m+1, and
// the merged result becomes run 1.
// False when any of it failed.
bool renumber(Session& s, std::size_t m, std::size_t r, SpareFiles& spares) {
    bool done = true;
    for (std::size_t j = 1; j <= m; ++j) {
        const fs::path merged = s.files.resolve(run_name(j));
        spares.keep(merged);  // for a run file of the next sort, or the next pass's output
        done = s.files.remove(merged) && done;
    }
    const std::size_t last_target = r - m + 1;
    for (std::size_t i = m + 1; i <= r; ++i) {
        const fs::path from = s.files.resolve(run_name(i));
        const fs::path to = s.dir / run_name(i - m + 1);
        // A name beyond the new last run is not reused: that file stays as it was.
        if (i > last_target)
            done = duplicate(s.files, from, to) && done;
        else
            done = s.files.rename(from, to) && done;
    }
    // sort_output.txt is written afresh by the next pass, so its content may move.
    fs::path output = s.files.resolve(kOutputFile);
    if (!s.files.rename(output, s.dir / run_name(1)))
        done = s.files.copy(output, s.dir / run_name(1)) && done;
    return done;
}

// The lines of the input, counted without taking them one by one: every LF and every CR
// ends a line, but for a CR right before an LF; and a last line without its end is one.
std::size_t count_lines(TextReader& input) {
    std::size_t ends = 0;
    bool after_cr = false;  // the byte before the bytes at hand was a CR
    char last = '\n';
    for (std::string_view bytes = input.ahead(); !bytes.empty(); bytes = input.ahead()) {
        ends += count_line_ends(bytes, after_cr);
        last = bytes.back();
        after_cr = last == '\r';
        input.take(bytes.size());
    }
    input.rewind();
    return ends + (last != '\n' && last != '\r' ? 1 : 0);
}

}  // namespace

void make_run_files_ahead(SpareFiles& spares, std::size_t lines, std::size_t run_lines) {
    run_lines = std::max<std::size_t>(run_lines, 1);
    const std::size_t runs = (lines + run_lines - 1) / run_lines, have = spares.ready();
    if (runs > have) spares.make_ahead(runs - have);
}

void sort_file(Session& s, const SortJob& job) {
    if (job.sort_in_name.empty()) throw ProgramEnd{};
    std::optional<SpareFiles> own_spares;
    SpareFiles& spares = job.spares != nullptr ? *job.spares : own_spares.emplace(s.files.dir());
    spares.keep_run_files();
    s.shell.run_command("del /q file_03_*.txt > null.txt");

    s.in_file_name = job.sort_in_name;
    std::size_t runs = 0;
    SharedStart shared;
    KeptRuns kept(job.keep_bytes);
    std::vector<LineSizes> sizes;  // run j's at j - 1
    std::vector<RunIndex> index;   // likewise
    Blocks blocks;
    std::vector<std::unique_ptr<TextReader>> readers;
    {
        TextReader input(s.files, job.sort_in_name);
        const std::size_t total = count_lines(input);
        // Made here unless the caller gave spares of its own: a pass of run files is then made
        // beside the worker's reading and sorting and this thread's writing.
        const std::size_t run_lines = std::max<std::size_t>(job.run_lines, 1);
        if (job.spares == nullptr && total / run_lines >= job.ahead_runs)
            make_run_files_ahead(spares, total, run_lines);
        runs = write_runs(s, job, input, total, spares, shared, kept, sizes, index);
    }

    std::size_t m = std::min(job.merge_width, runs);
    for (bool lead = false;; lead = true) {
        if (job.before_pass) job.before_pass();
        const bool ordered =
            merge_pass(s, job, m, lead, shared.text(), kept, sizes, index, blocks, spares, readers);
        kept.drop();  // the runs are renumbered, run 1 is the merged result
        if (!ordered) {
            s.console.print_text("sort error");
            throw ProgramEnd{};
        }
        if (runs <= m) break;
        // A file that did not get its content is read as it is.
        if (!renumber(s, m, runs, spares)) {
            std::fill(sizes.begin(), sizes.end(), LineSizes{});
            std::fill(index.begin(), index.end(), RunIndex{});
        }
        runs = runs - m + 1;
        m = std::min(job.merge_width, runs);
    }

    const fs::path output = s.files.resolve(kOutputFile);
    const fs::path target = s.files.resolve(job.sort_out_name);
    std::error_code ec;
    if (!(fs::exists(target, ec) && fs::equivalent(output, target, ec)))
        job.share_output ? s.files.share(output, target) : s.files.copy(output, target);
}

}  // namespace rowkeep
