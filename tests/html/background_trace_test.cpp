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

// A page of short lines (many trace pieces of nearly a megabyte), a line of two megabytes
// (a piece written directly between hand-overs) and short lines again.
std::vector<std::string> page_lines() {
    std::vector<std::string> lines;
    for (int i = 0; i < 6000; ++i)
        lines.push_back("<td>word" + std::to_string(i) + " \"quoted\" text</td>");
    std::string long_line;
    while (long_line.size() < (2u << 20)) long_line += "abcdefghi ";
    lines.push_back(long_line);
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

}  // namespace
}  // namespace rowkeep::testing
