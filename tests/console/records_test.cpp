#include "console/records.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

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

// A file written over ends as a file emptied at the open would, whatever fails, and a
// failure is recorded alike: over a longer file, a shorter one, a missing one, with pieces
// through the buffer and one larger than it.
TEST(Records, WritingOverEndsAsAnEmptiedFileWhateverFails) {
    const std::string big(100000, 'b');
    for (const std::string& old :
         {std::string("old and rather long\r\n") + big, std::string("o"), std::string()}) {
        for (long n = 0; n <= 5; ++n) {
            SCOPED_TRACE(std::to_string(old.size()) + " bytes, failure at " + std::to_string(n));
            std::string files[2], causes[2];
            bool closed[2];
            for (int over = 0; over < 2; ++over) {
                TempDir dir;
                if (!old.empty()) dir.write("t.txt", old);
                FileFaults faults;
                faults.fail_at(n, ENOSPC);
                const FileSystem fsys(dir.path(), &faults);
                TextWriter w;
                if (over)
                    w.open_over(fsys, dir.path() / "t.txt");
                else
                    w.open_path(fsys, dir.path() / "t.txt");
                w.print_text("new");
                w.write_raw(big.substr(0, 70000));
                w.print_text("end");
                closed[over] = w.close();
                files[over] = dir.exists("t.txt") ? dir.read("t.txt") : "(none)";
                causes[over] = std::to_string(faults.failures()) + " " + faults.last_cause();
            }
            EXPECT_EQ(files[1], files[0]);
            EXPECT_EQ(closed[1], closed[0]);
            EXPECT_EQ(causes[1], causes[0]);
            if (n == 0) {
                EXPECT_EQ(files[1], "new\r\n" + big.substr(0, 70000) + "end\r\n");
            }
        }
    }
}

// Bytes written at their offsets through the descriptor (a merge's second half) past where
// a writer over a file stops: kept after a whole front, cut away with the rest when the
// front's first write failed, over a file longer than both, a shorter one and none.
TEST(Records, WritingOverCutsBytesWrittenAtOffsetsPastTheWriter) {
    const std::string front = "front\r\n", late = "late bytes\r\n";
    for (const std::string& old : {std::string(200, 'o'), std::string("o"), std::string()}) {
        // Failure points: none, the open, the first write, the flush, the close.
        const std::string expected[] = {front + late, old.empty() ? "(none)" : old, "",
                                        front + late, front + late};
        for (long n = 0; n <= 4; ++n) {
            SCOPED_TRACE(std::to_string(old.size()) + " bytes, failure at " + std::to_string(n));
            TempDir dir;
            if (!old.empty()) dir.write("t.txt", old);
            FileFaults faults;
            faults.fail_at(n, ENOSPC);
            const FileSystem fsys(dir.path(), &faults);
            TextWriter w;
            w.open_over(fsys, dir.path() / "t.txt");
            w.write_raw(front);
            std::uint64_t end = front.size();
            if (w.descriptor() >= 0) {
                ASSERT_EQ(
                    ::pwrite(w.descriptor(), late.data(), late.size(), static_cast<off_t>(end)),
                    static_cast<ssize_t>(late.size()));
                end += late.size();
            }
            w.written_to(end, 0);
            EXPECT_EQ(w.close(), n == 0);
            EXPECT_EQ(dir.exists("t.txt") ? dir.read("t.txt") : "(none)", expected[n]);
        }
    }
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

// Copying lines gives the bytes the line way gives: CR LF lines of every length across the
// reader's buffer edges (a line longer than the buffer, a CR LF split by an edge), with
// other line ends mixed in, and last lines with and without their line end.
TEST(Records, CopiedLinesAreTheLinesReadAndPrinted) {
    std::mt19937 random(11);
    std::vector<std::string> texts = {"", "\r\n", "a", "a\r", "\n\r\n\r\r\n"};
    for (const int other : {0, 1, 3}) {
        for (const bool ended : {true, false}) {
            std::string text;
            std::uniform_int_distribution<int> length(0, 90), end(0, 99);
            for (int k = 0; text.size() < 300000; ++k) {
                // Now and then a line longer than the reader's buffer.
                const auto n = static_cast<std::size_t>(k % 1500 == 7 ? 70000 + k : length(random));
                text += std::string(n, static_cast<char>('a' + k % 26));
                const int e = end(random);
                text += e < other ? "\n" : e < 2 * other ? "\r" : "\r\n";
            }
            if (!ended) text += "last";
            texts.push_back(text);
        }
    }
    // A CR LF split at the buffer's edge, and a lone CR at it.
    texts.push_back(std::string((1 << 16) - 1, 'x') + "\r\nnext\r\n");
    texts.push_back(std::string((1 << 16) - 1, 'x') + "\rnext\r\n");
    for (const std::string& text : texts) {
        for (const bool behind : {false, true}) {
            TempDir d;
            d.write("in.txt", "heading\r\n" + text);
            auto copy = [&](const char* name, bool fast) {
                TextReader in(d.path(), "in.txt");
                TextWriter out(d.path(), name);
                if (behind) out.write_behind();
                std::string_view line;
                ASSERT_TRUE(in.next_line(line));
                out.print_text("new " + std::string(line), Ending::zone);
                out.print_text("");
                if (fast) {
                    copy_lines(in, out);
                } else {
                    while (in.next_line(line)) out.print_text(line);
                }
                out.print_text("end", Ending::zone);
                out.print_text("", Ending::zone);
                ASSERT_TRUE(out.close());
            };
            copy("slow.txt", false);
            copy("fast.txt", true);
            ASSERT_EQ(d.read("fast.txt"), d.read("slow.txt")) << text.size() << " " << behind;
        }
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

// A writer that keeps the flush points while writing behind stands, at every step end, as
// a plain writer stands after the same pieces (small ones, ones across the usual buffer's
// edge, ones larger than it, zones, values, pieces put in its room), and ends the same.
TEST(Records, WriterInStepsStandsAsThePlainOneAtEachStepEnd) {
    std::mt19937 random(5);
    for (int round = 0; round < 4; ++round) {
        TempDir d;
        TextWriter plain(d.path(), "plain.txt"), kept(d.path(), "kept.txt");
        kept.write_behind_in_steps();
        auto size_of = [&](const char* name) { return fs::file_size(d.path() / name); };
        int steps = 0;
        for (int k = 0; k < 3000; ++k) {
            const int kind = static_cast<int>(random() % 100);
            const std::size_t n = kind < 2   ? 65536 + random() % 200000
                                  : kind < 4 ? 60000 + random() % 6000
                                             : random() % 300;
            const std::string piece(n, static_cast<char>('a' + k % 26));
            for (TextWriter* w : {&plain, &kept}) {
                if (kind % 7 == 0) {
                    w->write_value(piece, kind % 2 == 0);
                } else if (kind % 7 == 1) {
                    w->print_text(piece, Ending::zone);
                } else if (char* at = kind % 7 == 2 ? w->room(n) : nullptr) {
                    if (n > 0) std::memcpy(at, piece.data(), n);
                    w->added(n);
                } else {
                    w->write_raw(piece);
                }
            }
            if (random() % 50 == 0 || (round == 3 && random() % 2 == 0)) {
                kept.step_end();
                ++steps;
                ASSERT_EQ(size_of("kept.txt"), size_of("plain.txt"))
                    << "round " << round << ", piece " << k;
            }
        }
        EXPECT_GT(steps, 10);
        EXPECT_TRUE(plain.close());
        EXPECT_TRUE(kept.close());
        EXPECT_EQ(d.read("kept.txt"), d.read("plain.txt")) << "round " << round;
    }
}

// Row starts as reading value by value finds them: the reference for the row index.
std::vector<std::uint64_t> plain_row_starts(const std::string& bytes, int columns) {
    std::vector<std::uint64_t> starts;
    PlainValueReader plain{bytes};
    while (plain.peek() >= 0) {
        starts.push_back(plain.pos);
        for (int k = 0; k < columns; ++k) plain.value();
    }
    return starts;
}

// Each way the index can go: 16 or 32 bytes a step (with or without the processor's one-step
// search for the n-th line end), alone or with the latter half's line
// ends found on a second thread (wherever the split falls: a row start, inside a row, inside
// a spoilt value), once or again and again in pieces; every start kept, or every 16th or
// 3rd.
// And skipping rows, as a page does from a kept start: the reader stands at the start
// that reading value by value finds so many rows on (or at the end of the file).
void expect_same_row_starts(const std::string& bytes, int columns, const std::string& what) {
    TempDir d;
    d.write("w.txt", bytes);
    const auto expected = plain_row_starts(bytes, columns);
    using byte_kinds::Scan;
    for (Scan scan : {Scan::narrow, Scan::wide, Scan::wide_select}) {
        if (scan > byte_kinds::best_scan()) continue;
        for (int in_two : {0, 1, 2}) {
            const std::uint64_t stride = in_two == 0 ? 1 : in_two == 1 ? 16 : 3;
            TextReader r(d.path(), "w.txt");
            r.index_at_most(scan);
            if (in_two == 1) r.index_in_two(0, bytes.size());
            if (in_two == 2) r.index_in_two(0, std::max<std::size_t>(64, bytes.size() / 9));
            RowStarts starts(stride);
            r.index_rows(columns, starts);
            std::vector<std::uint64_t> kept;
            for (std::size_t i = 0; i < expected.size(); i += stride) kept.push_back(expected[i]);
            const std::string how = what + ", " + std::to_string(columns) + " columns, scan " +
                                    std::to_string(static_cast<int>(scan)) +
                                    (in_two == 1   ? ", in two"
                                     : in_two == 2 ? ", in pieces"
                                                   : "") +
                                    ", stride " + std::to_string(stride);
            ASSERT_EQ(starts.kept(), kept) << how;
            ASSERT_EQ(starts.count(), expected.size()) << how;
            ASSERT_EQ(starts.last(), expected.empty() ? 0 : expected.back()) << how;
            EXPECT_TRUE(r.at_end());
            // Again with what the first index left behind (a row move indexes anew).
            starts.clear();
            r.rewind();
            r.index_rows(columns, starts);
            ASSERT_EQ(starts.kept(), kept) << how << ", again";
            ASSERT_EQ(starts.count(), expected.size()) << how << ", again";
        }
        TextReader r(d.path(), "w.txt");
        r.index_at_most(scan);
        const std::size_t every = expected.size() < 300 ? 1 : 29;
        for (std::size_t i = 0; i < expected.size(); i += every)
            for (std::size_t rows : {0, 1, 2, 7, 15, 40}) {
                r.seek(expected[i]);
                r.skip_rows(columns, rows);
                const std::uint64_t want =
                    i + rows < expected.size() ? expected[i + rows] : bytes.size();
                ASSERT_EQ(r.tell(), want)
                    << what << ", " << columns << " columns, scan " << static_cast<int>(scan)
                    << ", " << rows << " rows skipped from row " << i + 1;
            }
    }
}

// Working files as the program writes them ('"' text '"' CR LF), spoilt here and there as a
// hand edit may spoil them: the row index finds the rows that reading value by value finds.
TEST(Records, RowIndexFindsTheRowsThatReadingFinds) {
    std::mt19937 random(11);
    const std::vector<std::string> odd = {"  \"a\"\r\n",
                                          "\"a,b\",\"c\"\r\n",
                                          "\"\r\n",
                                          "\r\n",
                                          "\"x\"\n",
                                          "\"x\"\r",
                                          "plain\r\n",
                                          "a,b,c\r\n",
                                          "\"q\"\"q\"\r\n",
                                          "\"open\r\n",
                                          "\"x\" ,\r\n",
                                          "\"\"\r\n",
                                          std::string(150, 'L') + "\r\n"};
    for (int spoil_one_in : {0, 3, 40, 1000, 100000}) {
        std::string bytes;
        std::uniform_int_distribution<int> letter(0, 25), oddity(0, 12);
        // The last is long enough for the second thread to read it in several pieces.
        while (bytes.size() < (spoil_one_in == 100000 ? 1200000u : 300000u)) {
            if (spoil_one_in > 0 && static_cast<int>(random() % spoil_one_in) == 0) {
                bytes += odd[static_cast<std::size_t>(oddity(random))];
                continue;
            }
            std::string text(random() % (random() % 7 == 0 ? 90 : 12), 'a');
            for (auto& c : text)
                c = static_cast<char>(random() % 9 == 0 ? ' ' : 'a' + letter(random));
            bytes += "\"" + text + "\"\r\n";
        }
        for (int columns : {1, 3, 10, 70})
            expect_same_row_starts(bytes, columns, "spoilt one in " + std::to_string(spoil_one_in));
    }
    // Each spoilt line at every place in the index's 64-byte steps.
    for (const std::string& spoilt : odd)
        for (std::size_t pad = 0; pad < 70; ++pad) {
            const std::string lines = "\"" + std::string(pad, 'a') + "\"\r\n\"b\"\r\n";
            const std::string bytes = lines + spoilt + "abc\"\r\n" + lines + lines + lines;
            for (int columns = 1; columns <= 3; ++columns)
                expect_same_row_starts(bytes, columns,
                                       "pad " + std::to_string(pad) + " before " + spoilt);
        }
}

// The zone ending pads from the output column, which counts the bytes after the last line
// end whatever wrote them; write_value counts its value and quotes, line ends or not.
TEST(Records, ZoneEndingsCountTheColumnAcrossEveryKindOfPiece) {
    std::mt19937 random(3);
    TempDir d;
    std::string expected;
    int column = 0;
    auto advance = [&](std::string_view text) {
        const std::size_t last = text.find_last_of("\r\n");
        column = last == std::string_view::npos ? column + static_cast<int>(text.size())
                                                : static_cast<int>(text.size() - last - 1);
    };
    {
        TextWriter w(d.path(), "z.txt");
        std::uniform_int_distribution<int> kind(0, 5), size(0, 40);
        for (int i = 0; i < 30000; ++i) {
            std::string piece(static_cast<std::size_t>(i % 997 == 0 ? 70000 : size(random)), 'x');
            for (auto& c : piece) c = "ab\r\n c"[random() % (random() % 5 == 0 ? 6 : 3)];
            switch (kind(random)) {
                case 0:
                    w.print_text(piece, Ending::stay);
                    expected += piece;
                    advance(piece);
                    break;
                case 1:
                case 2: {
                    w.print_text(piece, Ending::zone);
                    expected += piece;
                    advance(piece);
                    const std::string pad(static_cast<std::size_t>(zone_padding(column)), ' ');
                    expected += pad;
                    column += static_cast<int>(pad.size());
                    break;
                }
                case 3:
                    w.print_text(piece);
                    expected += piece + "\r\n";
                    column = 0;
                    break;
                case 4:
                    w.write_value(piece, i % 2 == 0);
                    expected += "\"" + piece + (i % 2 == 0 ? "\"\r\n" : "\",");
                    column = i % 2 == 0 ? 0 : column + static_cast<int>(piece.size()) + 3;
                    break;
                default:
                    w.write_raw(piece);
                    expected += piece;
                    advance(piece);
            }
        }
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(d.read("z.txt"), expected);
}

}  // namespace
}  // namespace rowkeep::testing
