// The scanner against the one it replaced (tests/html/reference_scanner.*), on random
// lines made of every mark the scan treats apart: the same words, the same trace pieces
// through a sink, and the same trace bytes as the file of the old scan held them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "console/records.h"
#include "harness.h"
#include "html/keyword_scanner.h"
#include "html/reference_scanner.h"

namespace rowkeep::testing {
namespace {

std::string random_line(std::mt19937& g, std::size_t length) {
    static const std::vector<std::string> kPieces = {
        " ",
        " ",
        "  ",
        "ab",
        "Word",
        "x",
        "\"",
        "\"q\"",
        "<",
        ">",
        "<b>",
        "</b> ",
        "<a h=\"1 2\">",
        "it\"s",
        "<script>",
        "</script>",
        "<style>",
        "</style>",
        "style=",
        "<body>",
        "\"\"",
        "<i",
        "e>",
        "\xe8\x9a",
    };
    std::string line;
    while (line.size() < length) line += kPieces[g() % kPieces.size()];
    return line;
}

// The trace pieces with their endings, one string.
struct Pieces {
    std::string text;
    TraceSink sink() {
        return [this](std::string_view piece, Ending ending) {
            text += piece;
            text += ending == Ending::newline ? "|n\n" : ending == Ending::zone ? "|z\n" : "|s\n";
        };
    }
};

// The reference scan's trace, printed into a file as the reference writes it.
struct ReferenceTrace {
    ReferenceTrace(const std::filesystem::path& dir, std::string_view name) : file(dir, name) {}
    TextWriter file;
    TraceSink sink = [this](std::string_view text, Ending ending) {
        file.print_text(text, ending);
    };
};

class StringTrace final : public TraceFile {
  public:
    void write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

std::vector<FoundWord> copied(const std::vector<WordAt>& words) {
    std::vector<FoundWord> found;
    for (const WordAt& w : words) found.push_back({w.position, std::string(w.text)});
    return found;
}

TEST(KeywordScannerReference, SameWordsPiecesAndTraceBytesOnRandomLines) {
    std::mt19937 g(5);
    for (int round = 0; round < 12; ++round) {
        TempDir dir;
        ReferenceScanner old_scan, old_pieces;
        KeywordScanner new_scan, new_pieces;
        ReferenceTrace old_file(dir.path(), "old.txt");
        StringTrace new_file;
        Pieces old_sink, new_sink;
        for (int line_no = 0; line_no < 60; ++line_no) {
            if (line_no % 20 == 0) {  // a new page: flags cleared, an open element kept
                old_scan.start_page();
                new_scan.start_page();
                old_pieces.start_page();
                new_pieces.start_page();
            }
            const std::size_t length = g() % 12 == 0 ? 1500 + g() % 3500 : g() % 120;
            const std::string line = random_line(g, length);
            const auto words = old_scan.scan_line(line, old_file.sink);
            new_scan.scan(line, &new_file);
            ASSERT_EQ(copied(new_scan.words()), words) << line;
            ASSERT_EQ(new_pieces.scan_line(line, new_sink.sink()),
                      old_pieces.scan_line(line, old_sink.sink()))
                << line;
            ASSERT_EQ(new_scan.element_continues(), old_scan.element_continues());
            ASSERT_EQ(new_scan.line_number(), old_scan.line_number());
        }
        ASSERT_TRUE(old_file.file.close());
        ASSERT_EQ(new_sink.text, old_sink.text);
        ASSERT_EQ(new_file.text, dir.read("old.txt")) << "round " << round;
    }
}

// The pieces handed to the file, as the ends of each within the whole trace.
class PieceTrace final : public TraceFile {
  public:
    void write(std::string_view bytes) override {
        text.append(bytes);
        ends.push_back(text.size());
    }
    void take(TraceBuffer& bytes, std::size_t used) override { write({bytes.bytes.get(), used}); }
    std::string text;
    std::vector<std::size_t> ends;
};

// Lines met again, in every state, long and short, until the shifted copies run out: the
// same words, flags and trace bytes as the reference scan, handed over in the same pieces
// (each at the first line end that fills a piece).
TEST(KeywordScannerReference, LinesMetAgainScanAsTheFirstTime) {
    std::mt19937 g(11);
    std::vector<std::string> pool;
    for (int i = 0; i < 40; ++i) pool.push_back(random_line(g, i % 2 ? g() % 40 : 230 + g() % 20));
    TempDir dir;
    ReferenceScanner old_scan;
    KeywordScanner new_scan;
    PieceTrace new_file;
    {
        ReferenceTrace old_file(dir.path(), "old.txt");
        for (int line_no = 0; line_no < 2000; ++line_no) {
            if (line_no % 300 == 0) {
                old_scan.start_page();
                new_scan.start_page();
            }
            const std::string& line = pool[g() % pool.size()];
            const auto words = old_scan.scan_line(line, old_file.sink);
            new_scan.scan_gathering(line, new_file);
            ASSERT_EQ(copied(new_scan.words()), words) << line_no << ": " << line;
            ASSERT_EQ(new_scan.element_continues(), old_scan.element_continues());
            ASSERT_EQ(new_scan.line_number(), old_scan.line_number());
        }
        new_scan.finish_trace(new_file);
        ASSERT_TRUE(old_file.file.close());
    }
    const std::string old_text = dir.read("old.txt");
    ASSERT_EQ(new_file.text.size(), old_text.size());
    ASSERT_TRUE(new_file.text == old_text);
    std::vector<std::size_t> ends;
    for (std::size_t at = 0, last = 0; at < old_text.size(); ++at)
        if (old_text[at] == '\n' &&
            (at + 1 - last >= KeywordScanner::kTracePiece || at + 1 == old_text.size()))
            ends.push_back(last = at + 1);
    EXPECT_GT(ends.size(), 10u);
    EXPECT_EQ(new_file.ends, ends);
}

TEST(KeywordScannerReference, LineOfMoreThanTheTracesPieceGoesWhole) {
    std::mt19937 g(7);
    TempDir dir;
    ReferenceScanner old_scan;
    KeywordScanner new_scan;
    StringTrace new_file;
    {
        ReferenceTrace old_file(dir.path(), "old.txt");
        for (std::size_t length : {100u, 1200000u, 50u, 3000000u, 10u}) {
            const std::string line = random_line(g, length);
            const auto words = old_scan.scan_line(line, old_file.sink);
            new_scan.scan(line, &new_file);
            ASSERT_EQ(copied(new_scan.words()), words);
        }
    }
    ASSERT_EQ(new_file.text, dir.read("old.txt"));
}

TEST(KeywordScannerReference, ScanWithoutTraceGivesTheSameWords) {
    std::mt19937 g(6);
    ReferenceScanner old_scan;
    KeywordScanner new_scan;
    for (int line_no = 0; line_no < 2000; ++line_no) {
        const std::string line = random_line(g, g() % 200);
        const auto words = old_scan.scan_line(line);
        new_scan.scan(line, nullptr);
        ASSERT_EQ(copied(new_scan.words()), words) << line;
    }
}

}  // namespace
}  // namespace rowkeep::testing
