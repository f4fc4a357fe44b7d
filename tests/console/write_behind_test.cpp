#include "console/write_behind.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "console/records.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// What writing a file left: the file, and the failures.
struct Outcome {
    bool closed = false;
    long failures = 0, points = 0;
    std::string cause, bytes;
    bool operator==(const Outcome&) const = default;
};

// Pieces of every kind a writer takes: small ones by the thousand (many buffers full),
// zone endings across the buffer's end, numbers, values, and a piece larger than the
// buffer between them.
void write_pieces(TextWriter& out) {
    for (int i = 0; i < 40000; ++i) {
        out.print_text("line " + std::to_string(i), Ending::zone);
        out.print_number(i, i % 3 == 0 ? Ending::newline : Ending::zone);
        out.write_value("v" + std::to_string(i), i % 2 == 0);
        if (i == 20000) out.print_text(std::string(3u << 20, 'x'));
    }
}

Outcome write_file(bool behind, long fail_at, int error) {
    TempDir dir;
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    faults.fail_at(fail_at, error);
    Outcome o;
    {
        TextWriter out(files, "wrd_01.txt");
        if (behind) out.write_behind();
        write_pieces(out);
        o.closed = out.close();
    }
    o.failures = faults.failures();
    o.points = faults.points();
    o.cause = faults.last_cause();
    if (dir.exists("wrd_01.txt")) o.bytes = dir.read("wrd_01.txt");
    return o;
}

TEST(WriteBehind, AWriterWritesAndFailsAsWithoutIt) {
    const Outcome plain = write_file(false, 0, 0);
    ASSERT_TRUE(plain.closed);
    EXPECT_GT(plain.bytes.size(), 4u << 20);
    EXPECT_EQ(write_file(true, 0, 0), plain);
    ASSERT_EQ(plain.points, 4);  // open, first write, flush, close
    for (long n = 1; n <= plain.points; ++n) {
        SCOPED_TRACE(n);
        const Outcome failed = write_file(false, n, EIO);
        EXPECT_FALSE(failed.closed);
        EXPECT_EQ(failed.failures, 1);
        EXPECT_EQ(write_file(true, n, EIO), failed);
    }
}

// A write that fails on the thread (the file may grow no further than 2 MB) is recorded
// once, with its cause, and nothing is written after it.
TEST(WriteBehind, AWriteFailingOnTheThreadIsRecordedOnce) {
    Outcome plain, behind;
    {
        FileSizeLimit limit(2u << 20);
        ASSERT_TRUE(limit.set());
        plain = write_file(false, 0, 0);
        behind = write_file(true, 0, 0);
    }

    EXPECT_FALSE(plain.closed);
    EXPECT_EQ(plain.failures, 1);
    EXPECT_EQ(plain.cause, "File too large");
    EXPECT_EQ(behind.closed, plain.closed);
    EXPECT_EQ(behind.failures, plain.failures);
    EXPECT_EQ(behind.cause, plain.cause);
    EXPECT_EQ(behind.points, plain.points);
    EXPECT_LE(behind.bytes.size(), 2u << 20);
    EXPECT_EQ(behind.bytes, plain.bytes.substr(0, behind.bytes.size()));
}

}  // namespace
}  // namespace rowkeep::testing
