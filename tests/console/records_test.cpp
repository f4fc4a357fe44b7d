#include "console/records.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

TEST(Records, QuotedRecordRoundTrip) {
    TempDir d;
    {
        TextWriter w(d.path(), "r.txt");
        w.write_value("a", false);
        w.write_value("", false);
        w.write_value("b,c", true);
        w.print_number(12);
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(d.read("r.txt"), "\"a\",\"\",\"b,c\"\r\n 12\r\n");
    EXPECT_EQ(d.read("r.txt").find("\r\n"), 12u);
    TextReader r(d.path(), "r.txt");
    EXPECT_EQ(r.read_value(), "a");
    EXPECT_EQ(r.read_value(), "");
    EXPECT_EQ(r.read_value(), "b,c");
    EXPECT_EQ(r.read_line(), " 12");
    EXPECT_TRUE(r.at_end());
    EXPECT_EQ(r.read_value(), "");
    EXPECT_EQ(r.read_line(), "");
    r.rewind();
    EXPECT_EQ(r.read_line(), "\"a\",\"\",\"b,c\"");
}

TEST(Records, LineEndsLfCrLfAndLoneCr) {
    TempDir d;
    d.write("l.txt", "one\ntwo\r\nthree\rfour");
    TextReader r(d.path(), "l.txt");
    EXPECT_EQ(r.read_line(), "one");
    EXPECT_EQ(r.read_line(), "two");
    EXPECT_EQ(r.read_line(), "three");
    EXPECT_EQ(r.read_line(), "four");
    EXPECT_TRUE(r.at_end());
    d.write("v.txt", "\"x\"\n\"y\"\r");
    TextReader v(d.path(), "v.txt");
    EXPECT_EQ(v.read_value(), "x");
    EXPECT_EQ(v.read_value(), "y");
    EXPECT_TRUE(v.at_end());
}

TEST(Records, LongLinesAndValuesStayWhole) {
    TempDir d;
    d.write("long.txt",
            std::string(5000, 'z') + "\r\n\"" + std::string(9000, 'q') + "\",\"next\"\r\n");
    TextReader r(d.path(), "long.txt");
    EXPECT_EQ(r.read_line().size(), 5000u);
    r.rewind();
    EXPECT_EQ(r.read_value(), std::string(5000, 'z'));
    EXPECT_EQ(r.read_value(), std::string(9000, 'q'));
    EXPECT_EQ(r.read_value(), "next");
    EXPECT_TRUE(r.at_end());
}

TEST(Records, QuotedValueFollowedByOtherCharacters) {
    TempDir d;
    d.write("q.txt", "  \"ab\" cd,\"e\"\r\n");
    TextReader r(d.path(), "q.txt");
    EXPECT_EQ(r.read_value(), "ab");
    EXPECT_EQ(r.read_value(), "cd");
    EXPECT_EQ(r.read_value(), "e");
    EXPECT_TRUE(r.at_end());
}

TEST(Records, MissingFileReadsAsEmpty) {
    TempDir d;
    TextReader r(d.path(), "absent.txt");
    EXPECT_FALSE(r.is_open());
    EXPECT_TRUE(r.at_end());
    EXPECT_EQ(r.read_value(), "");
    EXPECT_EQ(r.read_line(), "");
}

TEST(Records, ZonesInFilesNeverBreakTheLine) {
    TempDir d;
    {
        TextWriter w(d.path(), "z.txt");
        for (int i = 0; i < 8; ++i) w.print_number(i, Ending::zone);
        w.print_newline();
    }
    std::string line = d.read("z.txt");
    EXPECT_EQ(line.size(), 8u * 14 + 2);
    EXPECT_EQ(line.substr(14, 3), " 1 ");
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(Records, ReplacingWriterKeepsTheOldFileUntilClose) {
    TempDir d;
    d.write("T.csv", "old");
    TextWriter w;
    ASSERT_TRUE(w.open_replacing(d.path(), "t.csv"));
    w.write_raw("new");
    EXPECT_EQ(d.read("T.csv"), "old");
    EXPECT_TRUE(w.close());
    EXPECT_EQ(d.read("T.csv"), "new");
    EXPECT_FALSE(d.exists("t.csv") && !fs::equivalent(d.path() / "t.csv", d.path() / "T.csv"));
}

TEST(Names, LookupIgnoresCaseAndStaysInTheFolder) {
    TempDir d;
    d.write("MyTab.csv", "x");
    d.write("Htm_In/Page.HTM", "p");
    EXPECT_EQ(FileSystem(d.path()).resolve("mytab.csv"), d.path() / "MyTab.csv");
    EXPECT_EQ(FileSystem(d.path()).resolve("htm_in\\page.htm"), d.path() / "Htm_In" / "Page.HTM");
    EXPECT_EQ(FileSystem(d.path()).resolve("new.csv"), d.path() / "new.csv");
    EXPECT_EQ(FileSystem(d.path()).resolve("..\\..\\etc\\passwd"), d.path() / "etc" / "passwd");
    EXPECT_TRUE(matches_pattern("*.csv", "A.CSV"));
    EXPECT_TRUE(matches_pattern("f_??.txt", "F_03.txt"));
    EXPECT_FALSE(matches_pattern("f_??.txt", "f_3.txt"));
    EXPECT_TRUE(matches_pattern("*.*", "noext"));
    EXPECT_TRUE(matches_pattern("page_*.htm", "page_12.htm"));
    EXPECT_FALSE(matches_pattern("*.csv", "a.csv.bak"));
}

}  // namespace
}  // namespace rowkeep::testing

namespace rowkeep::testing {
namespace {

// The value rules read one byte at a time, as plainly as they can be written: the
// reference for the buffered reader.
struct PlainValueReader {
    const std::string& bytes;
    std::size_t pos = 0;
    int peek() const { return pos < bytes.size() ? static_cast<unsigned char>(bytes[pos]) : -1; }
    bool line_end() {
        if (peek() == '\r') {
            ++pos;
            if (peek() == '\n') ++pos;
            return true;
        }
        if (peek() == '\n') {
            ++pos;
            return true;
        }
        return false;
    }
    std::string value() {
        while (peek() == ' ' || peek() == '\t') ++pos;
        std::string v;
        if (peek() == '"') {
            ++pos;
            for (;;) {
                if (peek() < 0) return v;
                if (peek() == '"') break;
                if (line_end()) return v;
                v += bytes[pos++];
            }
            ++pos;
            while (peek() == ' ' || peek() == '\t') ++pos;
            if (peek() == ',')
                ++pos;
            else
                line_end();
            return v;
        }
        for (;;) {
            if (peek() < 0) return v;
            if (peek() == ',') {
                ++pos;
                return v;
            }
            if (line_end()) return v;
            v += bytes[pos++];
        }
    }
};

// Random bytes of the kinds the value rules treat apart, long enough that values, quotes,
// blanks and CR LF pairs fall across the reader's buffer edges.
TEST(Records, BufferedValuesMatchTheByteRulesAcrossBufferEdges) {
    std::mt19937 random(5);
    for (const std::string_view alphabet : {"ab \t\",\r\n", "aaaaaaaab\"\r\n", "ab  ,\r\n"}) {
        std::string bytes;
        std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
        for (int i = 0; i < 300000; ++i) bytes += alphabet[pick(random)];
        TempDir d;
        d.write("v.txt", bytes);
        TextReader r(d.path(), "v.txt");
        PlainValueReader plain{bytes};
        while (plain.peek() >= 0) {
            const std::string expected = plain.value();
            ASSERT_EQ(r.read_value(), expected) << "at " << plain.pos;
            ASSERT_EQ(r.tell(), plain.pos);
        }
        EXPECT_TRUE(r.at_end());
    }
}

// Pieces of every size, small ones gathered and large ones passed through, arrive whole
// and in order.
TEST(Records, WriterKeepsEveryPieceInOrder) {
    TempDir d;
    std::string expected;
    {
        TextWriter w(d.path(), "w.txt");
        for (std::size_t n : {0, 1, 3, 70000, 5, 65532, 65536, 2, 200000, 1}) {
            const std::string piece(n, static_cast<char>('a' + n % 26));
            w.write_value(piece, n % 2 == 0);
            expected += "\"" + piece + (n % 2 == 0 ? "\"\r\n" : "\",");
            w.write_raw(piece);
            expected += piece;
        }
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(d.read("w.txt"), expected);
}

}  // namespace
}  // namespace rowkeep::testing
