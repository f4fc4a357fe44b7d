#include "viewer/rows_ahead.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "console/table_file.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// Values as a working file holds them, and some it may hold after a hand edit: unquoted,
// with a comma inside quotes, empty, a quote left open at the line's end.
std::string record_file(int rows, int columns, unsigned seed) {
    std::mt19937 random(seed);
    const std::vector<std::string> kinds = {"\"plain\"", "\"a, b\"", "\"\"",    "bare",
                                            "\"  x \"",  "\"open",   "\"é ř\"", "\"12.5\""};
    std::string out;
    for (int r = 0; r < rows; ++r)
        for (int k = 0; k < columns; ++k)
            out += kinds[random() % kinds.size()] + std::to_string(r) + "\r\n";
    return out;
}

// Values as the program writes them ("v", between values, "v" CR LF at a row's end) with
// near misses among them that the reader's rules take otherwise: blanks or a letter after
// the closing quote, a lone CR or LF, a quote inside, a value too long for the reader's
// buffer, so values also lie across its refills.
std::string written_file(int rows, int columns, unsigned seed) {
    std::mt19937 random(seed);
    const std::vector<std::string> odd = {"\"x\"  ,",
                                          "\"x\"y,",
                                          "\"x\"\r",
                                          "\"x\"\n",
                                          "\"a\"b\",",
                                          "\"\"\"",
                                          "\"" + std::string(70000, 'L') + "\","};
    std::string out;
    for (int r = 0; r < rows; ++r)
        for (int k = 1; k <= columns; ++k) {
            if (random() % 50 == 0) {
                out += odd[random() % odd.size()];
                continue;
            }
            out += "\"" + std::string(random() % 20, 'v') + std::to_string(r) + "\"";
            out += k < columns ? "," : "\r\n";
        }
    return out;
}

// What the set-up's loops read without reading ahead: the rows up to rows_max while
// bytes are left, each the value in `column` or, with 0, all values joined by ";".
std::vector<std::string> read_directly(TextReader& in, int columns, int column, long rows_max) {
    std::vector<std::string> rows;
    std::string value;
    while (static_cast<long>(rows.size()) < rows_max && row_available(in, columns)) {
        std::string row;
        for (int k = 1; k <= columns; ++k) {
            if (column == 0 || k == column) {
                if (column == 0 && k > 1) row += ';';
                in.read_value(value);
                row += value;
            } else {
                in.skip_value();
            }
        }
        rows.push_back(row);
    }
    return rows;
}

// The rows read ahead are the rows read directly, over several batches and a file that
// ends inside a row; afterwards the reader stands where direct reading leaves it.
TEST(RowsAhead, GivesTheRowsDirectReadingGives) {
    TempDir dir;
    const int columns = 3;
    for (bool as_written : {false, true}) {
        std::string bytes =
            as_written ? written_file(9000, columns, 6) : record_file(9000, columns, 5);
        bytes += "\"last row, cut short\"\r\n";
        dir.write("f.txt", bytes);
        for (int column : {0, 1, 3})
            for (long rows_max : {0L, 1L, 4095L, 4096L, 4097L, 9000L, 9001L, 20000L}) {
                SCOPED_TRACE("column " + std::to_string(column) + ", rows_max " +
                             std::to_string(rows_max));
                TextReader direct(dir.path(), "f.txt"), ahead(dir.path(), "f.txt");
                // The heading row is read before, as the set-up does.
                (void)read_directly(direct, columns, 0, 1);
                (void)read_directly(ahead, columns, 0, 1);
                const auto expected = read_directly(direct, columns, column, rows_max);
                std::vector<std::string> got;
                {
                    RowsAhead rows(ahead, columns, column, rows_max);
                    std::string_view row;
                    while (rows.next(row)) got.emplace_back(row);
                    EXPECT_FALSE(rows.next(row));
                }
                EXPECT_EQ(got, expected);
                EXPECT_EQ(ahead.tell(), direct.tell());
                EXPECT_EQ(ahead.read_value(), direct.read_value());
            }
    }
}

TEST(RowsAhead, NoColumnsOrNoFileGiveNoRows) {
    TempDir dir;
    dir.write("f.txt", record_file(10, 2, 1));
    std::string_view row;
    {
        TextReader in(dir.path(), "f.txt");
        RowsAhead rows(in, 0, 0, 10);
        EXPECT_FALSE(rows.next(row));
        EXPECT_EQ(in.tell(), 0u);
    }
    {
        TextReader in(dir.path(), "missing.txt");
        RowsAhead rows(in, 2, 1, 10);
        EXPECT_FALSE(rows.next(row));
    }
}

// A caller that stops early leaves no thread behind, nor one blocked on a full queue.
TEST(RowsAhead, StoppingEarlyEndsTheReading) {
    TempDir dir;
    dir.write("f.txt", record_file(30000, 2, 2));
    for (int taken : {0, 1, 5000}) {
        TextReader in(dir.path(), "f.txt");
        RowsAhead rows(in, 2, 2, 30000);
        std::string_view row;
        for (int i = 0; i < taken; ++i) ASSERT_TRUE(rows.next(row));
    }
}

}  // namespace
}  // namespace rowkeep::testing
