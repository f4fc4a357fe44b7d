#include "console/load_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace rowkeep::testing {
namespace {

class StringOutput : public LoadOutput {
  public:
    void write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

// The table file's lines, as reading it line by line gives them.
std::vector<std::string> lines_of(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
            open = false;
        } else {
            line += c;
            open = true;
        }
    }
    if (open) lines.push_back(line);
    return lines;
}

std::vector<std::string> cells_of(const std::string& line) {
    std::vector<std::string> cells(1);
    for (char c : line) {
        if (c == ';')
            cells.emplace_back();
        else
            cells.back() += c == '"' ? '\'' : c;
    }
    return cells;
}

struct Expected {
    std::string characters, cells, working;
    int rows = 0, widest = 0;
    std::vector<std::string> first_row;
};

// The load as it was written step by step: every file from the one before it, the working
// file from the cells' records, a new row where the line number changes or the row is full.
Expected reference(const std::string& bytes, int width) {
    Expected e;
    for (char c : bytes) e.characters += std::string("\"") + c + "\"\r\n";
    struct Record {
        int line;
        std::string cell;
    };
    std::vector<Record> records;
    int line_number = 0;
    for (const auto& line : lines_of(bytes)) {
        ++line_number;
        const auto cells = cells_of(line);
        e.widest = std::max(e.widest, static_cast<int>(cells.size()));
        for (std::size_t k = 0; k < cells.size(); ++k) {
            e.cells += "\"" + std::to_string(line_number) + "\",\"" + std::to_string(k + 1) +
                       "\",\"" + cells[k] + "\"\r\n";
            records.push_back({line_number, cells[k]});
        }
    }
    int current = -1, filled = 0;
    auto finish_row = [&] {
        for (; filled < width; ++filled) e.working += "\"\"\r\n";
    };
    for (const auto& r : records) {
        if (width <= 0) break;
        if (r.line != current || filled == width) {
            if (e.rows > 0) finish_row();
            current = r.line;
            filled = 0;
            ++e.rows;
        }
        if (e.rows == 1) e.first_row.push_back(r.cell);
        e.working += "\"" + r.cell + "\"\r\n";
        ++filled;
    }
    if (e.rows > 0) finish_row();
    return e;
}

// Feeds the bytes in pieces of random sizes, each with bytes behind it that are not the
// file's (a pass that read them as the file's would show it).
template <class Feed>
void in_pieces(const std::string& bytes, std::mt19937& random, std::size_t largest, Feed&& feed) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t n = std::min(bytes.size() - at, 1 + random() % largest);
        std::string piece = bytes.substr(at, n) + std::string(LoadPass::kLookAhead, ';');
        for (std::size_t k = n; k < piece.size(); k += 3) piece[k] = "\r\n;"[random() % 3];
        feed(piece.data(), n);
        at += n;
    }
}

std::string random_table(std::mt19937& random) {
    static const std::string kKinds[] = {
        "a", "bc", ";", "\r\n", "\n", "\r", "\"", " ,x", std::string(40, 'y')};
    std::string bytes;
    const std::size_t parts = random() % 120;
    for (std::size_t i = 0; i < parts; ++i) bytes += kKinds[random() % std::size(kKinds)];
    return bytes;
}

TEST(LoadPass, OnePassWritesWhatTheStepsWrote) {
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        const std::string bytes = random_table(random);
        SCOPED_TRACE(::testing::PrintToString(bytes));
        LineWidths widths;
        in_pieces(bytes, random, 1 + random() % 70,
                  [&](const char* p, std::size_t n) { widths.feed(p, n); });
        const Expected widest = reference(bytes, 0);
        ASSERT_EQ(widths.widest(), widest.widest);
        // The widest line's count, and narrower rows than that (cells that go on in the
        // next row) as a table file changed between the two readings would give.
        for (int width : {widest.widest, widest.widest / 2}) {
            const Expected e = reference(bytes, width);
            StringOutput characters, cells, working;
            LoadPass pass(width, characters, cells, working);
            in_pieces(bytes, random, 1 + random() % 70,
                      [&](const char* p, std::size_t n) { pass.feed(p, n); });
            pass.finish();
            ASSERT_EQ(characters.text, e.characters);
            ASSERT_EQ(cells.text, e.cells);
            ASSERT_EQ(working.text, e.working) << "width " << width;
            ASSERT_EQ(pass.rows(), e.rows);
            ASSERT_EQ(pass.first_row(), e.first_row);
        }
    }
}

// Line ends split between two pieces, long cells across many, and files that end without
// a line end, each fed a byte at a time and whole.
TEST(LoadPass, PiecesSplitAnywhere) {
    const std::string tables[] = {
        "a;b\r",
        "a;b\r\n",
        "a;b\r\r\n\n",
        "\r\n",
        "\n\r",
        ";",
        "x",
        "",
        "\"q\";\"\r\n1",
        "h1;h2;h3\r\n" + std::string(100, 'z') + ";" + std::string(33, '"') + "\r\n;;\n",
    };
    for (const std::string& bytes : tables) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        const Expected e = reference(bytes, reference(bytes, 0).widest);
        for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{17}, bytes.size()}) {
            if (piece == 0) continue;
            LineWidths widths;
            StringOutput characters, cells, working;
            LoadPass pass(e.widest, characters, cells, working);
            for (std::size_t at = 0; at < bytes.size(); at += piece) {
                std::string p = bytes.substr(at, piece) + std::string(LoadPass::kLookAhead, '\n');
                const std::size_t n = std::min(piece, bytes.size() - at);
                widths.feed(p.data(), n);
                pass.feed(p.data(), n);
            }
            pass.finish();
            EXPECT_EQ(widths.widest(), e.widest);
            EXPECT_EQ(cells.text, e.cells);
            EXPECT_EQ(working.text, e.working);
            EXPECT_EQ(pass.rows(), e.rows);
        }
    }
}

}  // namespace
}  // namespace rowkeep::testing
