#include "viewer/sort_engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "console/records.h"
#include "console/replace_file.h"
#include "console/tokens.h"
#include "harness.h"
#include "viewer/sort_lines.h"
#include "viewer/spare_files.h"

namespace rowkeep::testing {
namespace {

// Lines of a file written with CR LF ends.
std::vector<std::string> file_lines(const TempDir& dir, std::string_view name) {
    std::vector<std::string> lines;
    std::string text = dir.read(name);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "line without CR LF in " << name;
        if (end == std::string::npos) break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string crlf_joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

std::vector<std::string> sorted_lower(std::vector<std::string> lines) {
    for (auto& l : lines) l = lower_az(l);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Numbered lines "Line<k>" mixed in case, so runs are distinguishable.
std::vector<std::string> numbered_lines(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < n; ++i) {
        std::string l = (random() % 2 ? "Key" : "key") + std::to_string(random() % 100000);
        lines.push_back(l);
    }
    return lines;
}

struct Sorted {
    std::string screen;
    bool ended;
};

Sorted sort_lines(const TempDir& dir, const std::string& input, std::string label = "") {
    dir.write("in.txt", input);
    TestSession t(dir.path(), "");
    bool ended = t.run([&](Session& s) { sort_file(s, {"in.txt", "out.txt", label}); });
    EXPECT_EQ(t.session.in_file_name, "sort_output.txt");
    // The delete of old run files reports on the error stream when there are none.
    std::string screen;
    for (const auto& line : screen_lines(t.screen()))
        if (line.rfind("Could Not Find ", 0) != 0) screen += line + "\r\n";
    return {screen, ended};
}

// Lines as the record files read them: LF, CR LF or a lone CR end a line, and a last line
// without its end is a line.
std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            line += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        lines.push_back(line);
        line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// The folder a sort leaves, worked out the plain way: runs cut and sorted, then passes
// that merge the first runs, drop them, copy the rest down behind the result (each old
// name keeping its file) and put the result in as run 1.
struct ModelFolder {
    std::map<std::size_t, std::vector<std::string>> runs;
    std::vector<std::string> output;
};

ModelFolder model_sort(const std::vector<std::string>& input, std::size_t run_lines,
                       std::size_t width) {
    ModelFolder f;
    std::size_t r = 0;
    for (std::size_t at = 0; at < input.size(); at += run_lines) {
        auto last = input.begin() + static_cast<long>(std::min(at + run_lines, input.size()));
        f.runs[++r] = sorted_lower({input.begin() + static_cast<long>(at), last});
    }
    std::size_t m = std::min(width, r);
    for (;;) {
        f.output.clear();
        for (std::size_t j = 1; j <= m; ++j)
            f.output.insert(f.output.end(), f.runs[j].begin(), f.runs[j].end());
        std::sort(f.output.begin(), f.output.end());
        if (r <= m) break;
        for (std::size_t j = 1; j <= m; ++j) f.runs.erase(j);
        for (std::size_t i = m + 1; i <= r; ++i) f.runs[i - m + 1] = f.runs[i];
        f.runs[1] = f.output;
        r = r - m + 1;
        m = std::min(width, r);
    }
    return f;
}

// Sorts `input` with the given run size and merge width and compares every file the sort
// leaves with the model.
void expect_model_files(const std::string& input, std::size_t run_lines, std::size_t width,
                        std::size_t keep_bytes = std::size_t{8} << 20) {
    SCOPED_TRACE("run " + std::to_string(run_lines) + " width " + std::to_string(width) + " kept " +
                 std::to_string(keep_bytes));
    TempDir dir;
    dir.write("in.txt", input);
    TestSession t(dir.path(), "");
    SortJob job("in.txt", "out.txt");
    job.run_lines = run_lines;
    job.merge_width = width;
    job.keep_bytes = keep_bytes;
    ASSERT_FALSE(t.run([&](Session& s) { sort_file(s, job); }));
    const ModelFolder model = model_sort(split_lines(input), run_lines, width);
    std::size_t run_files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().filename().string().rfind("file_03_", 0) == 0) ++run_files;
    EXPECT_EQ(run_files, model.runs.size());
    for (const auto& [r, lines] : model.runs)
        EXPECT_EQ(dir.read("file_03_" + std::to_string(r) + ".txt"), crlf_joined(lines)) << r;
    EXPECT_EQ(dir.read("sort_output.txt"), crlf_joined(model.output));
    EXPECT_EQ(dir.read("out.txt"), crlf_joined(model.output));
}

// Lines that test the comparison: equal lines, shared first eight bytes, bytes above 127,
// zero bytes (a short line beside one that goes on with a zero), empty lines, capitals.
std::string awkward_lines(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    static const std::vector<std::string> stems = {"",
                                                   "a",
                                                   "ab",
                                                   std::string("ab\0", 3),
                                                   std::string("ab\0c", 4),
                                                   "abcdefgh",
                                                   "abcdefghi",
                                                   "ABCDEFGHi",
                                                   "abcdefgh\xff",
                                                   "\xe9t\xc9",
                                                   " lead",
                                                   "Zebra;10",
                                                   "zebra;2",
                                                   std::string("\0", 1),
                                                   "\x80\x80\x80\x80\x80\x80\x80\x80"};
    static const char* ends[] = {"\r\n", "\n", "\r"};
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        std::string line = stems[random() % stems.size()];
        if (random() % 3 == 0) line += static_cast<char>('A' + random() % 30);
        text += line + ends[random() % 3];
    }
    return text;
}

TEST(SortEngine, FilesMatchTheModelAcrossRunAndPassBoundaries) {
    const std::string input = awkward_lines(100, 3);
    for (std::size_t run_lines : {1u, 3u, 7u, 100u, 101u})
        for (std::size_t width : {2u, 3u, 5u, 200u}) expect_model_files(input, run_lines, width);
    // Runs read back from their files: none kept, or some kept until the room ran out.
    for (std::size_t keep_bytes : {0u, 200u}) expect_model_files(input, 7, 5, keep_bytes);
    // A run size that divides the lines, and a last line without its line end.
    expect_model_files(awkward_lines(60, 4) + "Last", 6, 4);
}

// Lines longer than the readers' and writers' blocks, line ends split across block edges.
TEST(SortEngine, LongLinesAndLineEndsAcrossBlocks) {
    std::mt19937 random(11);
    std::string input;
    for (int i = 0; i < 300; ++i) {
        const std::size_t length = i % 50 == 0 ? 70000 + random() % 70000 : random() % 3000;
        std::string line(length, 'x');
        for (auto& c : line) c = static_cast<char>('A' + random() % 8);
        input += line + (i % 3 == 0 ? "\r" : "\r\n");
    }
    input += std::string(1 << 20, 'Q') + "\r\n" + std::string(1 << 20, 'q');
    expect_model_files(input, 16, 5);
    expect_model_files(input, 2000, 200);
    expect_model_files(input, 2000, 200, 0);
}

// Lines that share a long start, in runs whose shared starts differ in length: a run of
// one stem only, runs where a line is the shared start itself or stops inside it, and
// bytes above 127 right after it.
TEST(SortEngine, LinesWithLongSharedStarts) {
    std::mt19937 random(5);
    const std::string stem = "\"page_1.htm\",\"        25\",\"";
    std::string input;
    for (int i = 0; i < 400; ++i) {
        std::string line = stem;
        switch (random() % 8) {
            case 0:
                break;  // the shared start alone
            case 1:
                line.resize(random() % stem.size());  // stops inside it
                break;
            case 2:
                line += static_cast<char>(0x80 + random() % 0x80);
                break;
            default:
                for (int k = static_cast<int>(random() % 20); k > 0; --k)
                    line +=
                        static_cast<char>(random() % 2 ? 'A' + random() % 3 : '0' + random() % 3);
        }
        input += line + "\r\n";
    }
    // Runs 1 to 3 hold only the full stem and more; later runs also the short ones.
    std::string only_stem;
    for (int i = 0; i < 30; ++i) only_stem += stem + std::to_string(random() % 7) + "\r\n";
    for (std::size_t run_lines : {1u, 10u, 64u})
        for (std::size_t width : {2u, 7u, 200u})
            expect_model_files(only_stem + input, run_lines, width);
}

// The order check made on the output's bytes, as the file holds them: each line, up to an
// LF and less the CR before it, against the one before it. The reference for the check
// the merge makes as it puts its lines.
class OrderCheck {
  public:
    // The next lines of the output, each ended CR LF.
    void see(std::string_view lines) {
        if (lines.empty() || !ordered_) return;
        std::size_t at = 0;
        while (at < lines.size()) {
            std::size_t lf = lines.find('\n', at);
            if (lf == std::string_view::npos) lf = lines.size();
            const std::size_t size = lf - at - (lf > at && lines[lf - 1] == '\r' ? 1 : 0);
            const std::string line(lines.substr(at, size));
            if (!first_ && line < previous_) ordered_ = false;
            first_ = false;
            previous_ = line;
            at = lf + 1;
        }
    }
    bool ordered() const { return ordered_; }

  private:
    std::string previous_;
    bool first_ = true, ordered_ = true;
};

// The merge leaves out the start its runs were found to share; a run whose lines do not
// have it (a file changed behind the sort's back) is still merged in order.
TEST(SortEngine, MergeOrdersLinesThatLackTheSharedStart) {
    TempDir dir;
    dir.write("1.txt", "abcd1\r\nabcd5\r\nabcd9\r\n");
    dir.write("2.txt", "abcd2\r\nab\r\nabcd3\r\nzz\r\n");
    dir.write("3.txt", "abcd0\r\nabcd4\r\n");
    std::vector<std::unique_ptr<TextReader>> files;
    std::vector<RunLines> runs;
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) {
        files.push_back(std::make_unique<TextReader>(dir.path(), name));
        runs.emplace_back(*files.back());
    }
    std::string out;
    LineChunks lines([&](Bytes& chunk) { out += chunk.view(); });
    for (Tournament t(runs, "abcd"); !t.finished(); t.next()) lines.put(t.winner(), t.skip());
    lines.finish();
    // Run 2's "ab" is out of its run's order: the merge takes it where it meets it, and
    // the order check sees it, wherever the output is cut into pieces.
    EXPECT_EQ(out, "abcd0\r\nabcd1\r\nabcd2\r\nab\r\nabcd3\r\nabcd4\r\nabcd5\r\nabcd9\r\nzz\r\n");
    for (std::size_t cut = 0; cut <= out.size(); cut = out.find('\n', cut) + 1) {
        OrderCheck check;
        check.see(std::string_view(out).substr(0, cut));
        check.see(std::string_view(out).substr(cut));
        EXPECT_EQ(check.ordered(), false) << cut;
        if (cut == out.size()) break;
    }
    OrderCheck sorted;
    sorted.see("a\r\nab\r\n");
    sorted.see("ab\r\nb\r\n");
    sorted.see("");
    EXPECT_TRUE(sorted.ordered());
    sorted.see("aa\r\n");
    EXPECT_FALSE(sorted.ordered());
}

// The merge takes a run's lines from memory only where its file holds them: whatever file
// operation fails, every line of the merged output is a line of a run file, and with no
// failure the output is every line.
TEST(SortEngine, MergedLinesAreThoseOfTheRunFilesWhateverFails) {
    const std::string input = awkward_lines(40, 8);
    const std::vector<std::string> all = sorted_lower(split_lines(input));
    long points = 0;
    for (long n = 1; points == 0 || n <= points + 1; ++n) {
        SCOPED_TRACE(n);
        TempDir dir;
        dir.write("in.txt", input);
        TestSession t(dir.path(), "");
        const long before = t.session.faults.points();
        t.session.faults.fail_at(n, ENOSPC);
        SortJob job("in.txt", "out.txt");
        job.run_lines = 9;
        t.run([&](Session& s) { sort_file(s, job); });
        if (!t.session.faults.fired()) {
            points = t.session.faults.points() - before;
            EXPECT_EQ(file_lines(dir, "sort_output.txt"), all);
            if (n > points) break;
            continue;
        }
        std::multiset<std::string> on_disk;
        for (int r = 1; r <= 5; ++r)
            for (auto& line : file_lines(dir, "file_03_" + std::to_string(r) + ".txt"))
                on_disk.insert(line);
        for (const auto& line : file_lines(dir, "sort_output.txt")) {
            auto found = on_disk.find(line);
            ASSERT_NE(found, on_disk.end()) << "not in a run file: " << line;
            on_disk.erase(found);
        }
    }
    EXPECT_GT(points, 10);
}

// The files of one sort are made again by the next, written over where the delete left
// no other name of them. Beside a folder whose old run files all keep a name of their
// own (so none can be written over), the second sort leaves the same files, screen and
// failures, whichever of its failure points fails.
TEST(SortEngine, RunFilesOfTheLastSortWrittenOverAsNewOnesWhateverFails) {
    const std::string first = awkward_lines(45, 3), second = awkward_lines(60, 4);
    auto sort_twice = [&](const TempDir& dir, bool keep_old, long n, bool& fired) {
        dir.write("in.txt", first);
        TestSession t(dir.path(), "");
        SortJob job("in.txt", "out.txt");
        job.run_lines = 7;  // 7 runs in three passes, renumbered with links
        job.merge_width = 3;
        EXPECT_FALSE(t.run([&](Session& s) { sort_file(s, job); }));
        job.merge_width = 20;  // then 9 runs in one pass: every run file stays
        std::set<ino_t> old_files;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("file_03_", 0) != 0) continue;
            struct stat st {};
            lstat(entry.path().c_str(), &st);
            old_files.insert(st.st_ino);
            if (keep_old) fs::create_hard_link(entry.path(), dir.path() / ("kept_" + name));
        }
        dir.write("in.txt", second);
        const std::size_t screen_before = t.screen().size();
        const long failures_before = t.session.faults.failures();
        t.session.faults.fail_at(n, ENOSPC);
        t.run([&](Session& s) { sort_file(s, job); });
        fired = t.session.faults.fired();
        std::map<std::string, std::string> folder;
        std::size_t reused = 0;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("kept_", 0) == 0) continue;
            struct stat st {};
            lstat(entry.path().c_str(), &st);
            if (name.rfind("file_03_", 0) == 0 && old_files.count(st.st_ino)) ++reused;
            folder[name] = dir.read(name);
        }
        folder["(screen)"] = t.screen().substr(screen_before);
        folder["(failures)"] = std::to_string(t.session.faults.failures() - failures_before) + " " +
                               t.session.faults.last_cause();
        return std::pair{folder, reused};
    };
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        TempDir over, fresh;
        bool fired_over = false, fired_fresh = false;
        const auto [written_over, reused] = sort_twice(over, false, n, fired_over);
        const auto [made_fresh, none] = sort_twice(fresh, true, n, fired_fresh);
        EXPECT_EQ(fired_over, fired_fresh);
        EXPECT_EQ(written_over, made_fresh);
        if (n == 0) {
            EXPECT_EQ(none, 0u);
            EXPECT_GT(reused, 0u) << "no run file was written over";
            EXPECT_EQ(written_over.at("out.txt"), crlf_joined(sorted_lower(split_lines(second))));
        }
        if (n > 0 && !fired_over) break;
    }
}

// Two sorts in a row as the export runs them: their files taken from one set of spares
// (made ahead for the first, kept from it for the second), each result shared with the
// output instead of copied. Beside the same two sorts with neither, every file (the first
// result too, after the second sort wrote its output), the screen and the failures are the
// same, whichever failure point fails; the spares were used, and none is left behind.
TEST(SortEngine, SparesAndSharedResultsLeaveTheFilesOfPlainSorts) {
    const std::string first = awkward_lines(45, 5), second = awkward_lines(52, 6);
    struct Outcome {
        std::map<std::string, std::string> folder;
        bool fired = false;
        std::size_t reused = 0;
    };
    auto sort_twice = [&](long n, bool pooled) {
        Outcome o;
        TempDir dir;
        dir.write("in1.txt", first);
        dir.write("in2.txt", second);
        TestSession t(dir.path(), "");
        t.session.faults.fail_at(n, ENOSPC);
        std::set<ino_t> made;
        {
            std::optional<SpareFiles> spares;
            if (pooled) {
                spares.emplace(dir.path());
                spares->make_ahead(45 / 7 + 2);
                spares->wait_made();
                // A spare's old bytes must never show: give each some.
                for (const auto& entry : fs::directory_iterator(dir.path())) {
                    const std::string name = entry.path().filename().string();
                    if (!is_temporary_name(name)) continue;
                    dir.write(name, "old bytes of a spare\r\nthat must go\r\n");
                    struct stat st {};
                    lstat(entry.path().c_str(), &st);
                    made.insert(st.st_ino);
                }
            }
            for (const auto& [in, out] :
                 {std::pair{"in1.txt", "out1.txt"}, {"in2.txt", "out2.txt"}}) {
                SortJob job(in, out, "Sort");
                job.run_lines = 7;  // 7 and 8 runs in three passes, renumbered
                job.merge_width = 3;
                job.spares = spares ? &*spares : nullptr;
                job.share_output = pooled;
                if (t.run([&](Session& s) { sort_file(s, job); })) break;  // the program ended
                if (std::string(in) == "in1.txt")
                    for (const auto& entry : fs::directory_iterator(dir.path())) {
                        struct stat st {};
                        lstat(entry.path().c_str(), &st);
                        if (made.count(st.st_ino)) ++o.reused;
                    }
            }
        }
        o.fired = t.session.faults.fired();
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_FALSE(is_temporary_name(name)) << "a spare left behind: " << name;
            o.folder[name] = dir.read(name);
        }
        o.folder["(screen)"] = t.screen();
        o.folder["(failures)"] =
            std::to_string(t.session.faults.failures()) + " " + t.session.faults.last_cause();
        return o;
    };
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        const Outcome pooled = sort_twice(n, true), plain = sort_twice(n, false);
        EXPECT_EQ(pooled.fired, plain.fired);
        EXPECT_EQ(pooled.folder, plain.folder);
        if (n == 0) {
            EXPECT_GT(pooled.reused, 0u) << "no spare made ahead became a file of the sort";
            EXPECT_EQ(plain.folder.at("out1.txt"), crlf_joined(sorted_lower(split_lines(first))));
            EXPECT_EQ(plain.folder.at("out2.txt"), crlf_joined(sorted_lower(split_lines(second))));
        }
        if (n > 0 && !pooled.fired) break;
    }
}

// The total in the progress lines counts every line end: CR LF, a lone CR, LF, a CR LF
// split by the reader's block edge, a CR as the very last byte, a last line without end.
TEST(SortEngine, ProgressTotalCountsEveryLineEnd) {
    const std::size_t block = 1 << 16;
    std::mt19937 random(9);
    std::vector<std::string> inputs;
    for (std::size_t at = block - 3; at <= block + 1; ++at)
        for (const char* end : {"\r\n", "\r", "\n"}) {
            std::string text = std::string(at, 'a') + end + "b\r\rc\n\nd\r\n\n\r";
            inputs.push_back(text);
            inputs.push_back(text + "last");
        }
    // Random ends at random places, over several blocks and the steps within them.
    for (int k = 0; k < 4; ++k) {
        std::string text;
        static const char* ends[] = {"\r\n", "\r", "\n", "\r\r", "\n\r"};
        while (text.size() < 3 * block) {
            text += std::string(random() % 40, 'x');
            text += ends[random() % 5];
        }
        inputs.push_back(text);
    }
    for (const std::string& text : inputs) {
        const std::size_t total = split_lines(text).size();
        TempDir dir;
        dir.write("in.txt", text);
        TestSession t(dir.path(), "");
        SortJob job("in.txt", "out.txt");
        job.run_lines = total;  // one full run: one progress line
        t.run([&](Session& s) { sort_file(s, job); });
        const std::string n = number_text(static_cast<long long>(total));
        EXPECT_NE(t.screen().find(" file_03_1.txt " + n + "/" + n), std::string::npos)
            << text.size() << " bytes, " << total << " lines";
    }
}

// Every place of a CR LF and of a lone CR across the first block's edge.
TEST(SortEngine, NextLineSeesTheLineEndsOfTheRecordFiles) {
    for (std::size_t at = (1 << 16) - 3; at <= (1 << 16) + 1; ++at) {
        for (const char* end : {"\r\n", "\r", "\n"}) {
            SCOPED_TRACE(std::to_string(at) + " " + std::to_string(std::strlen(end)));
            const std::string text =
                std::string(at, 'a') + end + "b\r\rc\n\nd\r\n" + std::string(70000, 'e') + "\r";
            TempDir dir;
            dir.write("t.txt", text);
            TextReader in(dir.path(), "t.txt");
            std::vector<std::string> lines;
            std::string_view line;
            while (in.next_line(line)) lines.emplace_back(line);
            EXPECT_EQ(lines, split_lines(text));
            EXPECT_TRUE(in.at_end());
            in.rewind();
            EXPECT_EQ(in.read_line(), std::string(at, 'a'));
        }
    }
}

// A run file read with the lengths of its lines gives the lines the file holds: lines
// across the reader's block edge, lengths that miss the line ends (found then as any
// line is) and lines beyond the last length.
TEST(SortEngine, RunLinesWithTheirLengthsAreTheLinesOfTheFile) {
    std::string text;
    LineSizes sizes;
    for (std::size_t k = 0; text.size() < (1 << 17); ++k) {
        const std::string line(k * 37 % 300, static_cast<char>('a' + k % 26));
        text += line + "\r\n";
        sizes.push_back(static_cast<std::uint16_t>(line.size()));
    }
    sizes.resize(sizes.size() - 5);
    sizes[3] += 1;
    sizes[7] = 0;
    TempDir dir;
    dir.write("t.txt", text);
    TextReader in(dir.path(), "t.txt");
    RunLines run(in, nullptr, &sizes);
    std::vector<std::string> lines;
    std::string_view line;
    while (run.next_line(line)) lines.emplace_back(line);
    EXPECT_EQ(lines, split_lines(text));
}

// In GB18030 a capital that is the second byte of a character stays as it is.
TEST(SortEngine, Gb18030SecondBytesStay) {
    TempDir dir;
    dir.write("in.txt", "\x81\x41Z\r\nB\x82\x5a\r\n");
    TestSession t(dir.path(), "");
    t.terminal.set_code_page(54936);
    t.run([](Session& s) { sort_file(s, {"in.txt", "out.txt"}); });
    EXPECT_EQ(dir.read("out.txt"), "b\x82\x5a\r\n\x81\x41z\r\n");
}

TEST(SortEngine, OrderIsLowerCasedBytesWithShorterPrefixFirst) {
    TempDir dir;
    auto r =
        sort_lines(dir, "Berlin\r\napple\nberlin\rab\r\nabc\na;2\na;10\n  zz\n\xe9t\xc9\nZ9\n");
    EXPECT_FALSE(r.ended);
    EXPECT_EQ(r.screen, "");
    EXPECT_EQ(dir.read("out.txt"),
              "  zz\r\na;10\r\na;2\r\nab\r\nabc\r\napple\r\nberlin\r\nberlin\r\nz9\r\n"
              "\xe9t\xc9\r\n");
    EXPECT_EQ(dir.read("sort_output.txt"), dir.read("out.txt"));
    EXPECT_EQ(dir.read("file_03_1.txt"), dir.read("out.txt"));
}

TEST(SortEngine, EmptyInputGivesEmptyFiles) {
    TempDir dir;
    dir.write("out.txt", "old\r\n");
    dir.write("file_03_7.txt", "stale\r\n");
    auto r = sort_lines(dir, "");
    EXPECT_FALSE(r.ended);
    EXPECT_EQ(dir.read("out.txt"), "");
    EXPECT_TRUE(dir.exists("sort_output.txt"));
    EXPECT_EQ(dir.read("sort_output.txt"), "");
    EXPECT_FALSE(dir.exists("file_03_7.txt"));
    EXPECT_FALSE(dir.exists("file_03_1.txt"));
}

TEST(SortEngine, EmptyLinesAndMissingInput) {
    TempDir dir;
    sort_lines(dir, "b\r\n\r\na");
    EXPECT_EQ(dir.read("out.txt"), "\r\na\r\nb\r\n");

    TempDir other;
    TestSession t(other.path(), "");
    EXPECT_FALSE(t.run([](Session& s) { sort_file(s, {"nothing.txt", "out.txt"}); }));
    EXPECT_EQ(other.read("out.txt"), "");
}

TEST(SortEngine, EmptyInputNameEndsTheProgram) {
    TempDir dir;
    TestSession t(dir.path(), "");
    EXPECT_TRUE(t.run([](Session& s) { sort_file(s, {"", "out.txt"}); }));
    EXPECT_FALSE(dir.exists("out.txt"));
    EXPECT_TRUE(t.shell_owner->history().empty());
}

TEST(SortEngine, RunsAndProgressLinesAroundTheRunSize) {
    struct Case {
        std::size_t lines;
        std::size_t runs;
        std::string screen;
    };
    const std::vector<Case> cases = {
        {1, 1, ""},
        {1999, 1, ""},
        {2000, 1, "Sort 1/2 file_03_1.txt  2000/ 2000\r\n"},
        {2001, 2, "Sort 1/2 file_03_1.txt  2000/ 2001\r\n"},
        {5000, 3, "Sort 1/2 file_03_1.txt  2000/ 5000\r\nSort 1/2 file_03_2.txt  4000/ 5000\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        TempDir dir;
        auto lines = numbered_lines(c.lines, static_cast<unsigned>(c.lines));
        auto r = sort_lines(dir, crlf_joined(lines), "Sort 1/2");
        EXPECT_FALSE(r.ended);
        EXPECT_EQ(r.screen, c.screen);
        for (std::size_t k = 1; k <= c.runs; ++k) {
            auto first = lines.begin() + static_cast<long>((k - 1) * 2000);
            auto last = lines.begin() + static_cast<long>(std::min(k * 2000, c.lines));
            EXPECT_EQ(file_lines(dir, "file_03_" + std::to_string(k) + ".txt"),
                      sorted_lower({first, last}));
        }
        EXPECT_FALSE(dir.exists("file_03_" + std::to_string(c.runs + 1) + ".txt"));
        EXPECT_EQ(file_lines(dir, "out.txt"), sorted_lower(lines));
    }
}

TEST(SortEngine, DelCommandIsIssued) {
    TempDir dir;
    dir.write("in.txt", "b\r\na\r\n");
    TestSession t(dir.path(), "");
    t.run([](Session& s) { sort_file(s, {"in.txt", "out.txt"}); });
    ASSERT_EQ(t.shell_owner->history().size(), 1u);
    EXPECT_EQ(t.shell_owner->history()[0], "del /q file_03_*.txt > null.txt");
    EXPECT_TRUE(dir.exists("null.txt"));
}

TEST(SortEngine, TwoPassesRenumberTheRemainingRuns) {
    TempDir dir;
    const std::size_t n = 250 * 2000;
    auto lines = numbered_lines(n, 7);
    auto r = sort_lines(dir, crlf_joined(lines));
    EXPECT_FALSE(r.ended);
    EXPECT_EQ(screen_lines(r.screen).size(), 250u);
    auto run_of = [&](std::size_t k) {
        return sorted_lower({lines.begin() + static_cast<long>((k - 1) * 2000),
                             lines.begin() + static_cast<long>(k * 2000)});
    };
    // Run 1: the first pass's result, runs 1 to 200 merged.
    EXPECT_EQ(file_lines(dir, "file_03_1.txt"),
              sorted_lower({lines.begin(), lines.begin() + 200 * 2000}));
    // Runs 201 to 250 became 2 to 51, and their old names keep the old runs.
    for (std::size_t k = 201; k <= 250; k += 7) {
        SCOPED_TRACE(k);
        EXPECT_EQ(file_lines(dir, "file_03_" + std::to_string(k - 199) + ".txt"), run_of(k));
        EXPECT_EQ(file_lines(dir, "file_03_" + std::to_string(k) + ".txt"), run_of(k));
    }
    EXPECT_EQ(file_lines(dir, "file_03_51.txt"), run_of(250));
    for (std::size_t k : {52u, 100u, 200u})
        EXPECT_FALSE(dir.exists("file_03_" + std::to_string(k) + ".txt"));
    auto expected = sorted_lower(lines);
    EXPECT_EQ(file_lines(dir, "sort_output.txt"), expected);
    EXPECT_EQ(dir.read("out.txt"), dir.read("sort_output.txt"));
}

TEST(SortEngine, MatchesTheStandardSortOnRandomBytes) {
    TempDir dir;
    std::mt19937 random(42);
    std::string input;
    for (int i = 0; i < 30000; ++i) {
        std::size_t len = random() % 12;
        for (std::size_t k = 0; k < len; ++k) {
            char c;
            do c = static_cast<char>(random() % 2 ? 'A' + random() % 6 : random() % 256);
            while (c == '\r' || c == '\n' || c == '\0');
            input += c;
        }
        input += '\n';
    }
    sort_lines(dir, input);
    const std::string in = (dir.path() / "in.txt").string();
    const std::string ref = (dir.path() / "ref.txt").string();
    const std::string command =
        "LC_ALL=C tr A-Z a-z < '" + in + "' | LC_ALL=C sort > '" + ref + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no sort tool";
    std::string expected = dir.read("ref.txt");
    std::string lf_output;
    for (char c : dir.read("out.txt"))
        if (c != '\r') lf_output += c;
    EXPECT_EQ(lf_output, expected);
}

}  // namespace
}  // namespace rowkeep::testing

namespace rowkeep::testing {
namespace {

// What a sort leaves: every file of the folder, the screen, whether the program ended,
// and the failures with the last cause.
using Leftovers = std::map<std::string, std::string>;

Leftovers leftovers_of(TempDir& dir, TestSession& t, bool ended) {
    Leftovers left;
    left["(ended)"] = ended ? "yes" : "no";
    for (const auto& entry : fs::directory_iterator(dir.path()))
        left[entry.path().filename().string()] = dir.read(entry.path().filename().string());
    left["(screen)"] = t.screen();
    left["(failures)"] =
        std::to_string(t.session.faults.failures()) + " " + t.session.faults.last_cause();
    return left;
}

// Sorts `input` once merged whole and once cut between two threads (every pass that can
// be), whichever failure point `fail_at` picks (0: none); both must leave the same.
// Returns how many passes were cut.
std::size_t expect_split_as_whole(const std::string& input, SortJob job, long fail_at = 0,
                                  bool* fired = nullptr) {
    std::size_t split = 0;
    auto sort_in = [&](bool cut) {
        TempDir dir;
        dir.write("in.txt", input);
        TestSession t(dir.path(), "");
        job.split_lines = cut ? 1 : SIZE_MAX;
        job.passes_split = cut ? &split : nullptr;
        t.session.faults.fail_at(fail_at, ENOSPC);
        const bool ended = t.run([&](Session& s) { sort_file(s, job); });
        if (fired != nullptr) *fired = t.session.faults.fired();
        return leftovers_of(dir, t, ended);
    };
    const Leftovers whole = sort_in(false), cut = sort_in(true);
    EXPECT_EQ(cut.size(), whole.size());
    for (const auto& [name, content] : whole) {
        const auto found = cut.find(name);
        if (found == cut.end()) {
            ADD_FAILURE() << name << " missing after the cut merge";
        } else if (found->second != content) {
            ADD_FAILURE() << name << " differs: " << found->second.size() << " bytes against "
                          << content.size();
        }
    }
    return split;
}

SortJob small_job(std::size_t run_lines, std::size_t width, std::size_t sample_lines,
                  std::size_t keep_bytes = std::size_t{8} << 20) {
    SortJob job("in.txt", "out.txt", "Sort 1/2");
    job.run_lines = run_lines;
    job.merge_width = width;
    job.sample_lines = sample_lines;
    job.keep_bytes = keep_bytes;
    return job;
}

// The lines cut between two threads come out as the whole merge gives them, in every
// file: keys spread evenly, keys mostly one line, all lines equal, a first run far longer
// than the rest (a merged result renumbered as run 1), a single run, lines longer than
// the readers' blocks, runs read from memory and from their files.
TEST(SortEngine, SplitMergeLeavesTheFilesOfTheWholeMerge) {
    std::mt19937 random(21);
    std::vector<std::string> skewed;
    for (int i = 0; i < 900; ++i)
        skewed.push_back(random() % 10 == 0 ? "Key" + std::to_string(random() % 50) : "same");
    std::vector<std::string> long_lines;
    for (int i = 0; i < 120; ++i)
        long_lines.push_back(std::string(i % 9 == 0 ? 40000 + random() % 30000 : random() % 90,
                                         static_cast<char>('a' + random() % 3)) +
                             std::to_string(random() % 7));
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"spread", crlf_joined(numbered_lines(1000, 4))},
        {"skewed", crlf_joined(skewed)},
        {"equal", crlf_joined(std::vector<std::string>(700, "Same line"))},
        {"awkward", awkward_lines(800, 6)},
        {"long", crlf_joined(long_lines)},
    };
    for (const auto& [name, input] : inputs) {
        std::size_t split = 0;
        for (std::size_t sample_lines : {1u, 4u, 128u}) {
            for (std::size_t keep : {std::size_t{8} << 20, std::size_t{0}}) {
                SCOPED_TRACE(name + " sampled every " + std::to_string(sample_lines) +
                             (keep == 0 ? " from the files" : " from memory"));
                // Passes whose first run grows; one pass; a single run.
                split += expect_split_as_whole(input, small_job(40, 6, sample_lines, keep));
                split += expect_split_as_whole(input, small_job(60, 200, sample_lines, keep));
                split += expect_split_as_whole(input, small_job(5000, 200, sample_lines, keep));
            }
        }
        EXPECT_GE(split, 6u * 2) << name << ": too few passes were cut";
    }
}

// Whichever failure point fails, the cut merge leaves the files, screen and failures of
// the whole merge.
TEST(SortEngine, SplitMergeFailsAsTheWholeMergeAtEveryPoint) {
    const std::string input = crlf_joined(numbered_lines(400, 7)) + awkward_lines(200, 8);
    std::size_t split = 0;
    for (long n = 1;; ++n) {
        SCOPED_TRACE(n);
        bool fired = false;
        split += expect_split_as_whole(input, small_job(25, 8, 4, n % 2 ? 0 : 8 << 20), n, &fired);
        if (!fired) break;
    }
    EXPECT_GT(split, 100u);
}

// A write that fails (here past the largest file allowed) leaves sort_output.txt as far as
// the first failure in file order, whether it falls before the cut or after it.
TEST(SortEngine, SplitMergeEndsItsOutputAtTheFirstWriteThatFails) {
    const std::string input = crlf_joined(numbered_lines(4000, 9));
    const std::size_t output = input.size();
    for (std::size_t limit = 6000; limit < output + 1000; limit += output / 7) {
        SCOPED_TRACE(limit);
        FileSizeLimit small(limit);
        if (!small.set()) GTEST_SKIP() << "the largest file size cannot be set";
        // Runs of about 5000 bytes: each below the limit, so each is known whole.
        EXPECT_EQ(expect_split_as_whole(input, small_job(100, 200, 8)), 1u);
    }
}

// Runs held in memory, each line with its CR LF, as a merge reads kept runs.
struct RunsInMemory {
    explicit RunsInMemory(const std::vector<std::vector<std::string>>& runs) : kept(runs.size()) {
        for (std::size_t j = 0; j < runs.size(); ++j) {
            for (const std::string& line : runs[j]) {
                char* at = kept[j].text.extend(line.size() + 2);
                std::memcpy(at, line.data(), line.size());
                std::memcpy(at + line.size(), "\r\n", 2);
                kept[j].sizes.push_back(line.size());
            }
            lines.emplace_back(none, &kept[j]);
        }
    }
    RunsInMemory(const RunsInMemory&) = delete;
    RunsInMemory& operator=(const RunsInMemory&) = delete;
    std::vector<KeptRun> kept;
    TextReader none;
    std::vector<RunLines> lines;
};

// The merge checks its order as it puts its lines, and finds what a check of the output's
// bytes finds: lines out of order or equal on either side of a chunk's edge, runs that
// leave out a shared start, lines that lack it.
TEST(SortEngine, MergeFindsTheDisorderACheckOfItsBytesFinds) {
    auto merged_in_order = [](const std::vector<std::vector<std::string>>& runs,
                              const std::string& shared) {
        RunsInMemory in(runs);
        OrderCheck bytes;
        LineChunks chunks([&](Bytes& chunk) { bytes.see(chunk.view()); });
        for (Tournament t(in.lines, shared); !t.finished(); t.next())
            chunks.put(t.winner(), t.skip());
        chunks.finish();
        EXPECT_EQ(chunks.ordered(), bytes.ordered());
        return chunks.ordered();
    };
    // Lines of 1000 bytes with their ends: a chunk's edge after every 262nd.
    std::vector<std::string> run;
    for (int i = 0; i < 600; ++i) {
        std::string line = "k000" + std::to_string(100000 + i);
        run.push_back(line + std::string(998 - line.size(), 'x'));
    }
    for (const std::string shared : {"", "k000"}) {
        EXPECT_TRUE(merged_in_order({run}, shared));
        for (std::size_t k : {0u, 1u, 259u, 260u, 261u, 262u, 263u, 522u, 523u, 524u, 598u}) {
            SCOPED_TRACE(std::to_string(k) + " shared " + shared);
            std::vector<std::string> swapped = run, equal = run;
            std::swap(swapped[k], swapped[k + 1]);
            EXPECT_FALSE(merged_in_order({swapped}, shared));
            equal[k + 1] = equal[k];
            EXPECT_TRUE(merged_in_order({equal}, shared));
            // A line lacking the shared start, once the tournament stops leaving it out.
            std::vector<std::string> lacking = run;
            lacking[k + 1] = "k00";
            EXPECT_FALSE(merged_in_order({lacking}, shared));
            lacking[k + 1] = "l";
            EXPECT_EQ(merged_in_order({lacking}, shared), k + 1 == run.size() - 1);
        }
    }
    // Runs sharing a start, now and then one line replaced by a line from anywhere.
    std::mt19937 random(31);
    const std::string stem = "\"page_1.htm\",\"";
    int disorders = 0;
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<std::vector<std::string>> runs(1 + random() % 6);
        for (auto& lines : runs) {
            for (int i = static_cast<int>(random() % 40); i > 0; --i)
                lines.push_back(stem +
                                std::string(random() % 12, static_cast<char>('a' + random() % 3)));
            std::sort(lines.begin(), lines.end());
            if (!lines.empty() && random() % 2 == 0)
                lines[random() % lines.size()] = stem.substr(0, random() % (stem.size() + 2)) + "b";
        }
        SCOPED_TRACE(trial);
        if (!merged_in_order(runs, stem)) ++disorders;
    }
    EXPECT_GT(disorders, 50);
}

// What a tournament over the runs puts out, and whether it found them in order.
std::pair<std::string, bool> tournament_output(const std::vector<std::vector<std::string>>& runs,
                                               std::string_view stem, bool lead) {
    RunsInMemory in(runs);
    std::string out;
    LineChunks chunks([&](Bytes& chunk) { out += chunk.view(); });
    for (Tournament t(in.lines, stem, lead); !t.finished(); t.next())
        chunks.put(t.winner(), t.skip());
    chunks.finish();
    return {out, chunks.ordered()};
}

// A tournament that keeps run 0 out of its tree puts out the least head at every step as
// the whole tree does: for runs in order the same bytes (equal lines are the same text),
// lines lacking the shared start among them, runs empty, or one run alone; for runs out of
// order the same lines and the disorder found (which of two equal heads goes first may
// differ then, and what follows them).
TEST(SortEngine, TournamentWithALeadRunPutsOutWhatTheWholeTreeDoes) {
    std::mt19937 random(57);
    const std::string stem = "\"page_1";
    auto merged = [&](const std::vector<std::vector<std::string>>& runs, bool lead) {
        return tournament_output(runs, stem, lead);
    };
    auto sorted_lines = [](const std::string& text) {
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find("\r\n", at);
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    int in_order = 0, disorders = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<std::vector<std::string>> runs(random() % 8);
        bool sorted = true;
        for (std::size_t j = 0; j < runs.size(); ++j) {
            // Run 0 mostly the longest, as a pass before's result is.
            int count = static_cast<int>(random() % (j == 0 ? 120 : 30));
            for (; count > 0; --count)
                runs[j].push_back(
                    stem + std::string(random() % 14, static_cast<char>('a' + random() % 3)));
            if (!runs[j].empty() && random() % 4 == 0)
                runs[j][random() % runs[j].size()] = stem.substr(0, random() % stem.size()) + "b";
            if (random() % 4 != 0) std::sort(runs[j].begin(), runs[j].end());
            sorted = sorted && std::is_sorted(runs[j].begin(), runs[j].end());
        }
        SCOPED_TRACE(trial);
        const auto whole = merged(runs, false), led = merged(runs, true);
        EXPECT_EQ(led.second, whole.second);
        EXPECT_EQ(whole.second, sorted);
        if (sorted) {
            EXPECT_EQ(led.first, whole.first);
            ++in_order;
        } else {
            EXPECT_EQ(sorted_lines(led.first), sorted_lines(whole.first));
            ++disorders;
        }
    }
    EXPECT_GT(in_order, 100);
    EXPECT_GT(disorders, 100);
}

// Lines that mostly tie on their first eight bytes or beyond: a long shared start, lines
// shorter than eight bytes (the empty one too), bytes above 127 and 0xFF (as great as a
// finished run's marker), NULs, and many equal lines.
std::vector<std::string> tying_lines(std::mt19937& random, std::size_t n, const std::string& stem) {
    const std::string tails[] = {"",
                                 "a",
                                 "ab",
                                 "a\xff",
                                 std::string(1, '\0'),
                                 "\xff\xff\xff",
                                 "\xc3\xa9t\xc3\xa9",
                                 "zzzzzzzzzzzz",
                                 "aAbB"};
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < n; ++i) {
        std::string line =
            random() % 8 == 0 ? std::string() : stem.substr(0, random() % (stem.size() + 1));
        for (int k = static_cast<int>(random() % 3); k >= 0; --k) line += tails[random() % 9];
        if (random() % 5 == 0)
            line += std::string(random() % 12, static_cast<char>(0x80 + random() % 128));
        lines.push_back(line);
    }
    return lines;
}

std::string crlf_sorted_lower(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : sorted_lower(lines)) out += l + "\r\n";
    return out;
}

// A run's lines come out in the order of their lowered bytes, whichever way the run is
// sorted (by comparisons when short, by the prefix's bytes when long) and whatever start
// its lines share: around the length where the way changes, and at the run size.
TEST(SortEngine, RunSortedIntoTheOrderOfItsLoweredBytes) {
    std::mt19937 random(77);
    const TextMeasure measure(1252);
    rowkeep::Run run(measure);
    Bytes chunk;
    std::vector<std::size_t> sizes;
    for (const std::string stem :
         {"", "\"page_1.htm\",\"    ", "\xff\xff\xff\xff\xff\xff\xff\xff\xff"}) {
        for (const std::size_t n : {0u, 1u, 2u, 255u, 256u, 257u, 2000u}) {
            SCOPED_TRACE(std::to_string(n) + " lines, stem of " + std::to_string(stem.size()));
            const auto lines = tying_lines(random, n, stem);
            for (const auto& line : lines) run.add(line);
            run.sorted_into(chunk, sizes);
            EXPECT_EQ(run.size(), 0u);
            ASSERT_EQ(std::string(chunk.view()), crlf_sorted_lower(lines));
            std::size_t bytes = 0;
            for (std::size_t size : sizes) bytes += size + 2;
            EXPECT_EQ(sizes.size(), n);
            EXPECT_EQ(bytes, chunk.size());
        }
    }
}

// A run read a block at a time holds the lines that reading them one by one gives: every
// kind of line end, a CR LF and a lone CR at the reader's block edge, a line longer than
// a block, a last line without its end, runs that end inside a block and at its edge; in
// GB18030 the second bytes stay.
TEST(SortEngine, RunReadByBlocksHoldsTheLinesReadOneByOne) {
    std::mt19937 random(5);
    const std::string pieces[] = {"\r\n",  "\r", "\n",  "\r\r",     "\n\r",
                                  "",      "Ab", "xYz", "\x81\x41", "QQQQQQQQQQQQQQQQQQQ",
                                  " ;\"\t"};
    auto random_text = [&](std::size_t bytes) {
        std::string text;
        while (text.size() < bytes) text += pieces[random() % std::size(pieces)];
        return text;
    };
    const std::size_t block = 1 << 16;
    std::vector<std::string> texts = {"", "a", "a\r", "\r\n", "A\r\nb"};
    for (std::size_t at = block - 2; at <= block + 1; ++at)
        for (const char* end : {"\r\n", "\r", "\n"})
            texts.push_back(std::string(at, 'K') + end + "B\r\rc\n");
    texts.push_back(std::string(3 * block / 2, 'L') + "\r\n" + random_text(block));
    for (int k = 0; k < 6; ++k) texts.push_back(random_text(2 * block + random() % 5000));
    for (const int code_page : {1252, 54936}) {
        const TextMeasure measure(code_page);
        rowkeep::Run by_block(measure), by_line(measure);
        Bytes chunk, expected;
        std::vector<std::size_t> sizes, expected_sizes;
        for (std::size_t t = 0; t < texts.size(); ++t) {
            for (const std::size_t limit : {std::size_t{1}, std::size_t{7}, std::size_t{2000}}) {
                SCOPED_TRACE("text " + std::to_string(t) + ", runs of " + std::to_string(limit) +
                             ", code page " + std::to_string(code_page));
                TempDir dir;
                dir.write("t.txt", texts[t]);
                TextReader blocks(dir.path(), "t.txt"), lines(dir.path(), "t.txt");
                for (std::size_t runs = 0;; ++runs) {
                    by_block.read(blocks, limit);
                    std::string_view line;
                    while (by_line.size() < limit && lines.next_line(line)) by_line.add(line);
                    ASSERT_EQ(by_block.size(), by_line.size()) << "run " << runs;
                    const bool last = by_line.size() < limit;
                    by_block.sorted_into(chunk, sizes);
                    by_line.sorted_into(expected, expected_sizes);
                    ASSERT_EQ(chunk.view(), expected.view()) << "run " << runs;
                    ASSERT_EQ(sizes, expected_sizes);
                    ASSERT_EQ(by_block.shared(), by_line.shared());
                    if (last) break;
                }
                EXPECT_TRUE(blocks.at_end());
            }
        }
    }
}

// The tournament puts out the runs' lines in order when their heads tie on the prefix
// its nodes hold: equal prefixes that differ later, lines of 0xFF bytes as great as a
// finished run's marker, lines shorter than eight bytes; with and without a lead run.
TEST(SortEngine, TournamentOrdersLinesWhosePrefixesTie) {
    std::mt19937 random(91);
    for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE(trial);
        const std::string stem = trial % 3 == 0 ? "" : "\"page_1";
        std::vector<std::vector<std::string>> runs(1 + random() % 9);
        std::vector<std::string> all;
        for (auto& lines : runs) {
            lines = tying_lines(random, random() % 40,
                                trial % 2 == 0 ? "\xff\xff\xff\xff\xff\xff\xff\xff" : "abcdefgh");
            for (auto& line : lines) line = stem + lower_az(line);
            std::sort(lines.begin(), lines.end());
            all.insert(all.end(), lines.begin(), lines.end());
        }
        for (const bool lead : {false, true}) {
            const auto [out, ordered] = tournament_output(runs, stem, lead);
            EXPECT_TRUE(ordered);
            EXPECT_EQ(out, crlf_sorted_lower(all));
        }
    }
}

// A part reader given a block of any size reads a file's lines from its offset on, lines
// longer than the block and lines that end across its edge among them.
TEST(SortEngine, PartReaderReadsTheLinesWhateverItsBlock) {
    TempDir dir;
    std::mt19937 random(5);
    std::vector<std::string> lines;
    std::string text;
    for (int i = 0; i < 300; ++i) {
        lines.push_back(std::string(random() % 3 == 0 ? random() % 200 : random() % 20,
                                    static_cast<char>('a' + i % 26)));
        text += lines.back() + "\r\n";
    }
    dir.write("run.txt", text);
    TestSession t(dir.path(), "");
    TextReader file(t.session.files, "run.txt");
    for (const std::size_t size : {1u, 7u, 64u, 4096u}) {
        SCOPED_TRACE(size);
        for (const std::size_t from : {0u, 1u, 150u, 299u}) {
            std::uint64_t at = 0;
            for (std::size_t k = 0; k < from; ++k) at += lines[k].size() + 2;
            std::vector<char> block(size);
            PartReader part(file.descriptor(), at, block.data(), size);
            std::vector<std::string> read;
            for (std::string_view line; part.next_line(line);) read.emplace_back(line);
            EXPECT_EQ(read, std::vector<std::string>(lines.begin() + static_cast<long>(from),
                                                     lines.end()));
        }
    }
}

// A run file changed behind the sort's back, one line made the smallest of all: the sort
// says "sort error" and ends exactly when sort_output.txt holds its lines out of order,
// wherever that line comes out: in a pass merged whole, before the cut of a pass merged in
// two, after it, or as the first line after it; in the first pass and in the last.
TEST(SortEngine, RunFileOutOfOrderFoundWhereverItsLineComesOut) {
    const std::string input = crlf_joined(numbered_lines(150, 12));
    for (const bool cut : {true, false}) {
        for (const std::size_t width : {200u, 3u}) {
            std::size_t split = 0, errors = 0, tried = 0;
            for (const bool last_pass : {false, true}) {
                if (last_pass && width == 200) continue;  // one pass only
                // The runs the pass merges: 6, 3 in the first of three, 2 in the last.
                const std::size_t runs = width == 200 ? 6 : last_pass ? 2 : 3;
                for (std::size_t j = 1; j <= runs; ++j) {
                    for (std::size_t k = 0;; ++k) {
                        SCOPED_TRACE("cut " + std::to_string(cut) + " width " +
                                     std::to_string(width) + " last " + std::to_string(last_pass) +
                                     " run " + std::to_string(j) + " line " + std::to_string(k));
                        TempDir dir;
                        dir.write("in.txt", input);
                        TestSession t(dir.path(), "");
                        SortJob job = small_job(25, width, 4, 0);
                        job.split_lines = cut ? 1 : SIZE_MAX;
                        job.passes_split = &split;
                        std::size_t passes = width == 3 ? 3 : 1, pass = 0;
                        bool changed = false;
                        job.before_pass = [&] {
                            if (++pass != (last_pass ? passes : 1)) return;
                            const std::string name = "file_03_" + std::to_string(j) + ".txt";
                            std::vector<std::string> lines = file_lines(dir, name);
                            if (k >= lines.size()) return;
                            lines[k] = std::string(lines[k].size(), '!');
                            dir.write(name, crlf_joined(lines));
                            changed = true;
                        };
                        const bool ended = t.run([&](Session& s) { sort_file(s, job); });
                        if (!changed) break;  // past the file's last line
                        ++tried;
                        const std::vector<std::string> out = file_lines(dir, "sort_output.txt");
                        const bool sorted = std::is_sorted(out.begin(), out.end());
                        EXPECT_EQ(ended, !sorted);
                        EXPECT_EQ(t.screen().find("sort error") != std::string::npos, !sorted);
                        if (!sorted) ++errors;
                    }
                }
            }
            EXPECT_GE(tried, 150u);
            EXPECT_GT(errors, 100u);
            EXPECT_LT(errors, tried);
            if (cut) {
                EXPECT_GT(split, 100u);
            }
        }
    }
}

// The run files of a long sort are made ahead and given out one a name, as many as the runs
// need less the spares held (the last sort's run files, kept), each as a file written anew
// would be made; what is not given out is removed, and a name that is taken is not given one.
TEST(SortEngine, FilesMadeAheadAreGivenOutAsNewFilesAndTheRestRemoved) {
    TempDir dir;
    dir.write("file_03_9.txt", "old run");
    auto temporaries = [&] {
        std::size_t n = 0;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (is_temporary_name(entry.path().filename().string())) ++n;
        return n;
    };
    {
        SpareFiles ahead(dir.path());
        ahead.keep_run_files();
        make_run_files_ahead(ahead, 4001, 1000);  // five runs, one file there already
        ahead.wait_made();
        EXPECT_FALSE(ahead.give(dir.path() / "file_03_9.txt"));
        for (const char* name : {"a", "b", "c", "d"}) EXPECT_TRUE(ahead.give(dir.path() / name));
        EXPECT_FALSE(ahead.give(dir.path() / "e"));  // the old run file still has its name
        TextWriter(dir.path(), "written.txt").print_text("x");
        struct stat made {
        }, written{};
        ASSERT_EQ(lstat((dir.path() / "a").c_str(), &made), 0);
        ASSERT_EQ(lstat((dir.path() / "written.txt").c_str(), &written), 0);
        EXPECT_EQ(made.st_mode, written.st_mode);
        EXPECT_EQ(made.st_uid, written.st_uid);
        EXPECT_EQ(made.st_gid, written.st_gid);
        EXPECT_EQ(made.st_nlink, 1u);
        EXPECT_EQ(made.st_size, 0);
        EXPECT_EQ(temporaries(), 0u);
        EXPECT_EQ(dir.read("file_03_9.txt"), "old run");
    }
    {
        SpareFiles ahead(dir.path());
        make_run_files_ahead(ahead, 20000, 1000);
        while (ahead.ready() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(ahead.give(dir.path() / "f"));
    }  // gone while it makes the rest
    EXPECT_EQ(temporaries(), 0u);
}

// With its run files made ahead (by the caller, by the sort itself, or not at all), a sort
// leaves the same files, screen and failures whichever failure point fails, and no
// temporary.
TEST(SortEngine, RunFilesMadeAheadLeaveWhatFilesMadeAsNeededLeave) {
    const std::string input = crlf_joined(numbered_lines(150, 5)) + awkward_lines(50, 6);
    auto sort_in = [&](int way, long n, bool& fired) {
        TempDir dir;
        dir.write("in.txt", input);
        TestSession t(dir.path(), "");
        SortJob job = small_job(20, 4, 4);  // 10 runs in three passes
        job.ahead_runs = way == 0 ? SIZE_MAX : 1;
        std::optional<SpareFiles> ahead;
        if (way == 2) {
            job.spares = &ahead.emplace(dir.path());
            make_run_files_ahead(*job.spares, 200, 20);
        }
        t.session.faults.fail_at(n, ENOSPC);
        const bool ended = t.run([&](Session& s) { sort_file(s, job); });
        ahead.reset();  // its unused files go before the folder is read
        fired = t.session.faults.fired();
        return leftovers_of(dir, t, ended);
    };
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        bool fired = false, fired_own = false, fired_given = false;
        const Leftovers plain = sort_in(0, n, fired), own = sort_in(1, n, fired_own),
                        given = sort_in(2, n, fired_given);
        EXPECT_EQ(fired_own, fired);
        EXPECT_EQ(fired_given, fired);
        EXPECT_EQ(own, plain);
        EXPECT_EQ(given, plain);
        if (n > 0 && !fired) break;
    }
}

}  // namespace
}  // namespace rowkeep::testing
