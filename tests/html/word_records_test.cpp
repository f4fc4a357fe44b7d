#include "html/word_records.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "console/tokens.h"
#include "harness.h"
#include "html/html_names.h"
#include "html/keyword_extraction.h"

namespace rowkeep::testing {
namespace {

// A record line as the program writes it, or, now and then, spoilt in one of the ways a
// hand edit or a cut-off file would spoil it.
std::string record_line(std::mt19937& g, int values) {
    auto value = [&]() {
        switch (g() % 9) {
            case 0:
                return std::string(g() % 70000, 'v');  // across the reader's buffer
            case 1:
                return std::string();
            case 2:
                return std::string("a,b");
            default:
                return std::string("w") + std::to_string(g() % 1000);
        }
    };
    std::string line;
    for (int k = 0; k < values; ++k) line += (k ? "," : "") + ("\"" + value() + "\"");
    static const std::vector<std::string> kSpoils = {
        " ",      "\t\"x\"", "\"open", "un\"quoted", ",",  "\"a\" ,\"b\"",
        "\"a\"x", "\"\"\"",  "plain,", "\r",         "\n", ",\"extra\"",
    };
    if (g() % 4 == 0) {
        const std::string spoil = kSpoils[g() % kSpoils.size()];
        line.insert(g() % (line.size() + 1), spoil);
    }
    if (g() % 5 == 0) line.resize(g() % (line.size() + 1));  // fewer values
    const int end = static_cast<int>(g() % 8);
    return line + (end == 0 ? "\n" : end == 1 ? "\r" : "\r\n");
}

TEST(WordRecords, ReaderReadsEveryFileAsTheTokenRulesDo) {
    std::mt19937 g(3);
    for (int round = 0; round < 30; ++round) {
        const int values = 5 + static_cast<int>(g() % 2);
        std::string file;
        for (int r = 0; r < 60; ++r) file += record_line(g, values);
        if (g() % 3 == 0) file.resize(file.size() - 1 - g() % 3);  // cut off at the end
        TempDir dir;
        dir.write("w.txt", file);

        TextReader reference(dir.path(), "w.txt");
        WordFileReader reader(dir.path(), "w.txt");
        for (int r = 0;; ++r) {
            const bool more = !reference.at_end();
            ASSERT_EQ(reader.read(static_cast<std::size_t>(values)), more) << "record " << r;
            if (!more) break;
            for (int k = 0; k < values; ++k)
                ASSERT_EQ(reader[static_cast<std::size_t>(k)], reference.read_value())
                    << "round " << round << " record " << r << " value " << k;
        }
    }
}

// A record copied from the reader is written as its values would be, whether its line
// was copied whole or not.
TEST(WordRecords, CopiedRecordsAreTheirValuesWritten) {
    std::mt19937 g(5);
    for (int round = 0; round < 20; ++round) {
        std::string file;
        for (int r = 0; r < 60; ++r) file += record_line(g, 6);
        TempDir dir;
        dir.write("w.txt", file);
        {
            WordFileReader reader(dir.path(), "w.txt");
            TextWriter copied(dir.path(), "copied.txt"), written(dir.path(), "written.txt");
            while (reader.read(6)) {
                copy_record(copied, reader, 6);
                write_record(written, reader[0], reader[1], reader[2], reader[3], reader[4],
                             reader[5]);
            }
        }
        ASSERT_EQ(dir.read("copied.txt"), dir.read("written.txt")) << "round " << round;
    }
}

TEST(WordRecords, LineEndsAtTheEdgeOfTheReadersBuffer) {
    // The reader takes 65536 bytes at a time: a CR as the last of them, an LF as the
    // last, a line end as the first of the next ones.
    for (std::size_t line_length : {65535u, 65534u, 65536u, 65533u}) {
        for (const char* end : {"\r\n", "\n", "\r"}) {
            const std::string first =
                "\"" + std::string(line_length - 14, 'x') + "\",\"a\",\"b\",\"c\"";
            ASSERT_EQ(first.size(), line_length);
            const std::string file =
                first + end + "\"d\",\"e\",\"f\",\"g\"" + end + "\"h\",\"i\",\"j\",\"k\"";
            TempDir dir;
            dir.write("w.txt", file);
            WordFileReader reader(dir.path(), "w.txt");
            ASSERT_TRUE(reader.read(4));
            EXPECT_EQ(reader[0].size(), line_length - 14);
            EXPECT_EQ(reader[3], "c");
            ASSERT_TRUE(reader.read(4));
            EXPECT_EQ(reader[0], "d");
            EXPECT_EQ(reader[3], "g");
            ASSERT_TRUE(reader.read(4));
            EXPECT_EQ(reader[3], "k");
            EXPECT_FALSE(reader.read(4));
        }
    }
}

// Read ahead on a thread, a file gives the records and plain lines that reading it here
// gives: across the batches it is handed over in, with lines the token rules read,
// records longer than a batch, a cut-off end, no file at all; and a reader left before
// the end stops its thread.
TEST(WordRecords, ReadAheadGivesWhatReadingHereGives) {
    std::mt19937 g(11);
    for (int round = 0; round < 10; ++round) {
        const std::size_t values = 5 + g() % 2;
        std::string file;
        // Short plain records by the thousand (some megabytes: several batches), now and
        // then one spoilt or long among them.
        const std::size_t size = round == 9 ? 0 : (std::size_t{1} << 20) + g() % 600000;
        while (file.size() < size) {
            if (g() % 40 == 0) {
                file += record_line(g, static_cast<int>(values));
                continue;
            }
            for (std::size_t k = 0; k < values; ++k)
                file += (k ? ",\"" : "\"") +
                        std::string(g() % 12, static_cast<char>('a' + g() % 26)) + "\"";
            file += "\r\n";
        }
        if (round == 1) file += "\"" + std::string(700000, 'L') + "\",\"\",\"\",\"\",\"\"\r\n";
        if (round % 3 == 0 && !file.empty()) file.resize(file.size() - 1 - g() % 3);
        TempDir dir;
        if (round != 8) dir.write("w.txt", file);
        WordFileReader here(dir.path(), "w.txt"), ahead(dir.path(), "w.txt");
        ahead.read_ahead();
        const long left_at = round == 5 ? 3000 : -1;
        long r = 0;
        for (; r != left_at; ++r) {
            const bool more = here.read(values);
            ASSERT_EQ(ahead.read(values), more) << "round " << round << " record " << r;
            if (!more) break;
            for (std::size_t k = 0; k < values; ++k)
                ASSERT_EQ(ahead[k], here[k]) << "round " << round << " record " << r;
            ASSERT_EQ(ahead.plain_line(), here.plain_line()) << "round " << round;
        }
        if (round < 8) {
            EXPECT_GT(r, 500) << "round " << round;
        }
    }
}

TEST(WordRecords, WrittenRecordsAreThoseOfTheValueWriter) {
    TempDir dir;
    {
        TextWriter a(dir.path(), "a.txt"), b(dir.path(), "b.txt");
        const std::vector<std::string> values = {
            "page_1.htm", "         3", "     12", std::string(70000, 'x'), "", "id000001"};
        for (int n = 0; n < 3; ++n) {
            write_record(a, values[0], values[1], values[2], values[3], values[4], values[5]);
            for (std::size_t k = 0; k < values.size(); ++k)
                b.write_value(values[k], k + 1 == values.size());
        }
        write_line(a, "<a href=\"", "x", "\">", Digits(-12), "</a>");
        b.print_text("<a href=\"x\">-12</a>");
    }
    EXPECT_EQ(dir.read("a.txt"), dir.read("b.txt"));
}

// Records and lines of pieces of every short length, put into the writer's buffer where
// they fit and written piece by piece where they reach past its end (at every offset).
TEST(WordRecords, PiecesOfEveryLengthAcrossTheBuffer) {
    TempDir dir;
    {
        TextWriter a(dir.path(), "a.txt"), b(dir.path(), "b.txt");
        std::mt19937 g(7);
        for (int n = 0; n < 12000; ++n) {
            std::string v[4];
            for (auto& value : v) value = std::string(g() % 41, static_cast<char>('a' + g() % 26));
            if (n % 3 == 0) {
                write_record(a, v[0], v[1], v[2], v[3]);
                for (int k = 0; k < 4; ++k) b.write_value(v[k], k == 3);
            } else if (n % 3 == 1) {
                // Literals of their own lengths, and numbers held in place, between texts.
                write_pieces(a, "", v[0], "x", v[1], "<span hidden id=\"", Digits(n), v[2],
                             "\">\r\n(<a href=\"#", WordId(n), "\">&gt;</a>,\r\n", v[3], "\r\n");
                b.print_text(v[0] + "x" + v[1] + "<span hidden id=\"" + std::to_string(n) + v[2] +
                             "\">\r\n(<a href=\"#" + word_id(n) + "\">&gt;</a>,\r\n" + v[3]);
                write_record(a, "", v[0], "page_1.htm", Digits(n));
                b.write_value("", false);
                b.write_value(v[0], false);
                b.write_value("page_1.htm", false);
                b.write_value(std::to_string(n), true);
            } else {
                write_line(a, v[0], "<", v[1], v[2], ">", v[3]);
                b.print_text(v[0] + "<" + v[1] + v[2] + ">" + v[3]);
            }
        }
    }
    const std::string written = dir.read("a.txt");
    EXPECT_GT(written.size(), std::size_t{3} << 16);
    EXPECT_EQ(written, dir.read("b.txt"));
}

// The position's number as the library reads it after the "~" and the blanks.
long long position_value_by_the_library(std::string_view field) {
    if (!field.empty() && field.front() == '~') field.remove_prefix(1);
    while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
    long long value = 0;
    std::from_chars(field.data(), field.data() + field.size(), value);
    return value;
}

TEST(WordRecords, NumbersIdsAndTheIdTest) {
    for (const char* text : {"         3", "12", "  -7x", "+5", "", "abc", " \t\n42", "007",
                             "99999999999999999999", "-99999999999999999999", "9223372036854775807",
                             "-9223372036854775808", "   123456789012345678", "1 2"})
        EXPECT_EQ(leading_number(text), std::atoll(text)) << text;
    WordId id;
    for (long long n : {0LL, 17LL, 999999LL, 1000000LL, 123456789LL, 9223372036854775807LL}) {
        id.set(n);
        EXPECT_EQ(std::string_view(id), word_id(n));
    }
    for (const char* field : {"     7", "~     1048576", "  +5", " 12x", "", "~", "   ", "-3"})
        EXPECT_EQ(position_value(field), position_value_by_the_library(field)) << field;
    for (const char* text : {"id000001", "ID000001", "iD", "xId", "i", "", "di", "page_1"})
        EXPECT_EQ(contains_id_any_case(text), contains(lower_az(text), "id")) << text;
}

}  // namespace
}  // namespace rowkeep::testing
