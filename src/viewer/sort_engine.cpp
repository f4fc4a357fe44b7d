// How it works
//
// An external merge sort through files of the working folder. The input is cut into runs
// of at most 2000 lines, each lower-cased (A-Z only), sorted and written as
// file_03_<r>.txt. Up to 200 runs at a time are then merged into sort_output.txt, picking
// the smallest head with a heap. When more runs remain, the merged ones are removed, the
// rest renumbered to follow the merged result as run 1, and the next pass begins. The
// result is copied to sort_out_name.
//
// Equal lines are identical text, so any correct sort gives the same bytes in every file
// as picking minima one by one would. Renumbering moves files where their old name is
// reused anyway, and copies (links) only those whose old name must stay on disk, so the
// folder ends as if every run had been copied.
#include "viewer/sort_engine.h"

#include <unistd.h>

#include <algorithm>
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

constexpr std::size_t kReadBuffer = 1 << 15;
constexpr std::size_t kWriteChunk = 1 << 18;
constexpr std::string_view kOutputFile = "sort_output.txt";

std::string run_name(std::size_t r) {
    return "file_03_" + std::to_string(r) + ".txt";
}

// Lower-cases A to Z where they are characters of their own: in GB18030 the second byte of
// a two-byte character may look like a capital letter and must stay as it is. In the
// single-byte pages and in UTF-8 every such byte is a letter.
void lower_in_place(std::string& text, const TextMeasure& m) {
    if (m.kind() != TextMeasure::Kind::gb18030) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return;
    }
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = m.char_length(text, at);
        char& c = text[at];
        if (length == 1 && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        at += length;
    }
}

// Whole lines of a file, as the record files read them (LF, CR LF or a lone CR end a
// line; a last line without its end still counts), into a reused string.
class LineSource {
  public:
    LineSource(const FileSystem& files, const fs::path& path) : buffer_(kReadBuffer) {
        file_ = files.open_read(path);
    }
    ~LineSource() {
        if (file_) std::fclose(file_);
    }
    LineSource(const LineSource&) = delete;
    LineSource& operator=(const LineSource&) = delete;

    bool next(std::string& line) {
        line.clear();
        if (!available()) return false;
        for (;;) {
            if (!available()) return true;
            const char* start = buffer_.data() + pos_;
            const std::size_t avail = len_ - pos_;
            std::size_t i = 0;
            while (i < avail && start[i] != '\n' && start[i] != '\r') ++i;
            line.append(start, i);
            pos_ += i;
            if (i < avail) {
                const char end = buffer_[pos_++];
                if (end == '\r' && available() && buffer_[pos_] == '\n') ++pos_;
                return true;
            }
        }
    }

    void rewind() {
        if (!file_) return;
        std::fseek(file_, 0, SEEK_SET);
        pos_ = len_ = 0;
    }

  private:
    bool available() {
        if (pos_ < len_) return true;
        if (!file_) return false;
        pos_ = 0;
        len_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        return len_ > 0;
    }

    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    std::size_t pos_ = 0, len_ = 0;
};

// Lines collected into large writes of a TextWriter, each ended CR LF.
class LineSink {
  public:
    explicit LineSink(TextWriter& out) : out_(out) { chunk_.reserve(kWriteChunk + 4096); }
    ~LineSink() { flush(); }
    LineSink(const LineSink&) = delete;
    LineSink& operator=(const LineSink&) = delete;
    void put(std::string_view line) {
        chunk_.append(line);
        chunk_.append("\r\n");
        if (chunk_.size() >= kWriteChunk) flush();
    }
    void flush() {
        if (!chunk_.empty()) out_.write_raw(chunk_);
        chunk_.clear();
    }

  private:
    TextWriter& out_;
    std::string chunk_;
};

void write_run(Session& s, const SortJob& job, std::vector<std::string>& run, std::size_t r,
               bool full, std::size_t lines_read, std::size_t total) {
    const std::string name = run_name(r);
    if (full) {
        s.console.print_text(job.sort_label + " " + name + " " +
                             number_text(static_cast<long long>(lines_read)) + "/" +
                             number_text(static_cast<long long>(total)));
    }
    std::sort(run.begin(), run.end());
    s.out_file_name = name;
    TextWriter out(s.files, name);
    LineSink sink(out);
    for (const auto& line : run) sink.put(line);
}

// Merges runs 1..m into sort_output.txt; false when the output came out of order.
bool merge_pass(Session& s, std::size_t m) {
    std::vector<std::unique_ptr<LineSource>> runs;
    runs.reserve(m);
    struct Head {
        std::string line;
        std::size_t run;
    };
    auto after = [](const Head& a, const Head& b) {
        const int order = a.line.compare(b.line);
        return order != 0 ? order > 0 : a.run > b.run;
    };
    std::vector<Head> heads;
    heads.reserve(m);
    for (std::size_t j = 1; j <= m; ++j) {
        runs.push_back(std::make_unique<LineSource>(s.files, s.files.resolve(run_name(j))));
        Head h{std::string(), j};
        if (runs.back()->next(h.line)) heads.push_back(std::move(h));
    }
    std::make_heap(heads.begin(), heads.end(), after);
    // The head at the top has been replaced: it sinks to its place in one pass, where a
    // pop and a push would take two.
    auto sift_down = [&heads, &after] {
        const std::size_t n = heads.size();
        std::size_t at = 0;
        for (;;) {
            std::size_t child = 2 * at + 1;
            if (child >= n) break;
            if (child + 1 < n && after(heads[child], heads[child + 1])) ++child;
            if (!after(heads[at], heads[child])) break;
            std::swap(heads[at], heads[child]);
            at = child;
        }
    };
    s.out_file_name = std::string(kOutputFile);
    TextWriter out(s.files, kOutputFile);
    bool ordered = true;
    {
        LineSink sink(out);
        std::string previous;
        bool first = true;
        while (!heads.empty()) {
            Head& h = heads.front();
            sink.put(h.line);
            // The order check of the merged output, made as it is written.
            if (!first && h.line < previous) ordered = false;
            first = false;
            // The line written becomes the previous one; its old text's room takes the
            // next line of the run.
            previous.swap(h.line);
            if (!runs[h.run - 1]->next(h.line)) {
                std::swap(heads.front(), heads.back());
                heads.pop_back();
            }
            sift_down();
        }
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

}  // namespace

void sort_file(Session& s, const SortJob& job) {
    if (job.sort_in_name.empty()) throw ProgramEnd{};
    s.shell.run_command("del /q file_03_*.txt > null.txt");

    s.in_file_name = job.sort_in_name;
    LineSource input(s.files, s.files.resolve(job.sort_in_name));
    std::string line;
    std::size_t total = 0;
    while (input.next(line)) ++total;
    input.rewind();

    const TextMeasure& measure = s.console.measure();
    std::vector<std::string> run;
    run.reserve(job.run_lines);
    std::size_t read = 0, runs = 0;
    while (input.next(line)) {
        ++read;
        lower_in_place(line, measure);
        run.push_back(line);
        if (run.size() == job.run_lines) {
            write_run(s, job, run, ++runs, true, read, total);
            run.clear();
        }
    }
    if (!run.empty()) write_run(s, job, run, ++runs, false, read, total);
    run = {};

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
