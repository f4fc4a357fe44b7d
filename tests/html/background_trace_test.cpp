#include "html/background_trace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "console/records.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// The trace file as it was written before: through a TextWriter, on the caller's thread.
class WriterTrace final : public TraceFile {
  public:
    WriterTrace(const FileSystem& files, std::string_view name) : out_(files, name) {}
    void write(std::string_view bytes) override { out_.write_raw(bytes); }
    bool close() { return out_.close(); }

  private:
    TextWriter out_;
};

// Only counts the trace's bytes.
struct CountedTrace final : TraceFile {
    void write(std::string_view text) override { bytes += text.size(); }
    std::size_t bytes = 0;
};

// A page of short lines (many trace pieces of nearly a megabyte), a line of two megabytes
// (a piece written directly between hand-overs), one of 300 kB and short lines again.
std::vector<std::string> page_lines() {
    std::vector<std::string> lines;
    for (int i = 0; i < 6000; ++i)
        lines.push_back("<td>word" + std::to_string(i) + " \"quoted\" text</td>");
    std::string long_line;
    while (long_line.size() < (2u << 20)) long_line += "abcdefghi ";
    lines.push_back(long_line);
    // Longer than the room left past a piece, shorter than a piece: the buffer grows.
    lines.push_back(long_line.substr(0, 300000));
    for (int i = 0; i < 3000; ++i) lines.push_back("<br> more " + std::to_string(i));
    return lines;
}

// What a scan of the page through a trace file left: the file, and the failures.
struct Outcome {
    bool closed = false;
    long failures = 0, points = 0;
    std::string cause, bytes;
    bool operator==(const Outcome&) const = default;
};

template <class Trace>
Outcome scan_into(const std::vector<std::string>& lines, long fail_at, int error) {
    TempDir dir;
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    faults.fail_at(fail_at, error);
    Outcome o;
    {
        Trace trace(files, "page_1.txt");
        KeywordScanner scanner;
        scanner.start_page();
        for (const std::string& line : lines) scanner.scan_gathering(line, trace);
        scanner.finish_trace(trace);
        o.closed = trace.close();
    }
    o.failures = faults.failures();
    o.points = faults.points();
    o.cause = faults.last_cause();
    if (dir.exists("page_1.txt")) o.bytes = dir.read("page_1.txt");
    return o;
}

TEST(BackgroundTrace, WritesAndFailsAsTheWriterOnTheCallersThread) {
    const std::vector<std::string> lines = page_lines();
    const Outcome written = scan_into<WriterTrace>(lines, 0, 0);
    ASSERT_TRUE(written.closed);
    EXPECT_GT(written.bytes.size(), 8u << 20);
    EXPECT_EQ(scan_into<BackgroundTrace>(lines, 0, 0), written);
    // open, first write, flush, close: each fails at the same point with the same result.
    ASSERT_EQ(written.points, 4);
    for (long n = 1; n <= written.points; ++n) {
        SCOPED_TRACE(n);
        const Outcome failed = scan_into<WriterTrace>(lines, n, ENOSPC);
        EXPECT_FALSE(failed.closed);
        EXPECT_EQ(failed.failures, 1);
        EXPECT_EQ(scan_into<BackgroundTrace>(lines, n, ENOSPC), failed);
    }
}

// A write that fails on the thread (the file may grow no further than 3 MB) is recorded
// once, with its cause, and nothing more is written after it.
TEST(BackgroundTrace, AWriteFailingOnTheThreadIsRecordedAsTheWritersIs) {
    const std::vector<std::string> lines = page_lines();
    Outcome failed, background;
    {
        FileSizeLimit limit(3u << 20);
        ASSERT_TRUE(limit.set());
        failed = scan_into<WriterTrace>(lines, 0, 0);
        background = scan_into<BackgroundTrace>(lines, 0, 0);
    }

    EXPECT_FALSE(failed.closed);
    EXPECT_EQ(failed.failures, 1);
    EXPECT_EQ(failed.cause, "File too large");
    EXPECT_EQ(background.closed, failed.closed);
    EXPECT_EQ(background.failures, failed.failures);
    EXPECT_EQ(background.cause, failed.cause);
    EXPECT_EQ(background.points, failed.points);
    // Both stop at the limit; the writer's last piece may have gone in part.
    EXPECT_LE(background.bytes.size(), 3u << 20);
    EXPECT_EQ(background.bytes, failed.bytes.substr(0, background.bytes.size()));
}

// The file is first written at the line end that fills the first piece, not before: the
// failure point keeps its place among the other files' points.
TEST(BackgroundTrace, FirstWrittenWhenTheFirstPieceIsDone) {
    TempDir dir;
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    BackgroundTrace trace(files, "page_1.txt");
    ASSERT_EQ(faults.points(), 1);  // the open
    KeywordScanner scanner;
    scanner.start_page();
    KeywordScanner counter;  // the same scan, its trace counted line by line
    counter.start_page();
    CountedTrace counted;
    std::size_t& bytes = counted.bytes;
    int lines = 0;
    for (; bytes < KeywordScanner::kTracePiece; ++lines) {
        const std::string line = "<td>cell " + std::to_string(lines) + "</td> and more";
        counter.scan(line, &counted);
        scanner.scan_gathering(line, trace);
        if (bytes < KeywordScanner::kTracePiece) {
            ASSERT_EQ(faults.points(), 1) << lines << " lines, " << bytes << " bytes";
        }
    }
    EXPECT_EQ(faults.points(), 2);  // the first write, at the line that filled the piece
    scanner.finish_trace(trace);
    ASSERT_TRUE(trace.close());
    EXPECT_EQ(dir.read("page_1.txt").size(), bytes);
}

// One scanner over pages of a trace file each: every page's file whole, the buffer the
// last page's file gave back (or none) filled again from the page's start.
TEST(BackgroundTrace, EachPagesFileAsTheWritersThroughOneScanner) {
    const std::vector<std::string> lines = page_lines();
    auto scan_pages = [&]<class Trace>(Trace*) {
        TempDir dir;
        FileFaults faults;
        FileSystem files(dir.path(), &faults);
        KeywordScanner scanner;
        std::vector<std::string> pages;
        for (std::size_t page = 0; page < 3; ++page) {
            Trace trace(files, "page_" + std::to_string(page) + ".txt");
            scanner.start_page();
            // Pages of 300, 4000 and all the lines: under one piece, over, and long.
            const std::size_t count = page == 2 ? lines.size() : 300 + 3700 * page;
            for (std::size_t i = 0; i < count; ++i) scanner.scan_gathering(lines[i], trace);
            scanner.finish_trace(trace);
            EXPECT_TRUE(trace.close());
            pages.push_back(dir.read("page_" + std::to_string(page) + ".txt"));
        }
        pages.push_back(std::to_string(faults.points()));
        return pages;
    };
    const std::vector<std::string> written = scan_pages(static_cast<WriterTrace*>(nullptr));
    ASSERT_EQ(written.size(), 4u);
    EXPECT_LT(written[0].size(), KeywordScanner::kTracePiece);
    EXPECT_GT(written[1].size(), 2 * KeywordScanner::kTracePiece);
    EXPECT_EQ(scan_pages(static_cast<BackgroundTrace*>(nullptr)), written);
}

}  // namespace
}  // namespace rowkeep::testing
