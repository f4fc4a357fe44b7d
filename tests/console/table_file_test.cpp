#include "console/table_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "console/replace_file.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

struct Loaded {
    int column_count;
    int row_count;
    std::string working;
};

Loaded load(const TempDir& dir, std::string_view table, std::string name = "t.csv") {
    if (!table.empty() || name == "t.csv") dir.write(name, table);
    TestSession t(dir.path(), "");
    t.session.table_name = name;
    load_table(t.session);
    EXPECT_EQ(t.session.cells.size(), static_cast<std::size_t>(t.session.column_count + 1));
    return {t.session.column_count, t.session.row_count, dir.read("f_15_1.txt")};
}

std::string saved(const TempDir& dir, int column_count, int* rows = nullptr,
                  std::string name = "out.csv") {
    TestSession t(dir.path(), "");
    t.session.column_count = column_count;
    // The rows of the working file, as a load or an edit leaves row_count.
    const std::string working = dir.read("f_15_1.txt");
    const auto values = std::count(working.begin(), working.end(), '\n');
    t.session.row_count = column_count > 0 ? static_cast<int>(values / column_count) : 0;
    int written = -1;
    EXPECT_TRUE(save_table(t.session, name, written));
    if (rows) *rows = written;
    return dir.read(name);
}

TEST(LoadTable, EveryIntermediateFileAndCopyInOrder) {
    TempDir dir;
    dir.write("t.csv", "a;b\r\n1;\"2\"\r\n");
    TestSession t(dir.path(), "");
    t.session.table_name = "t.csv";
    load_table(t.session);
    EXPECT_EQ(t.session.column_count, 2);
    EXPECT_EQ(dir.read("f_11_1.txt"),
              "\"a\"\r\n\";\"\r\n\"b\"\r\n\"\r\"\r\n\"\n\"\r\n\"1\"\r\n\";\"\r\n\"\"\"\r\n"
              "\"2\"\r\n\"\"\"\r\n\"\r\"\r\n\"\n\"\r\n");
    const std::string cells =
        "\"1\",\"1\",\"a\"\r\n\"1\",\"2\",\"b\"\r\n\"2\",\"1\",\"1\"\r\n\"2\",\"2\",\"'2'\"\r\n";
    EXPECT_EQ(dir.read("f_12_1.txt"), cells);
    for (auto name : {"f_12_2.txt", "f_13_2.txt", "f_13_3.txt", "f_14_1.txt"})
        EXPECT_EQ(dir.read(name), cells) << name;
    EXPECT_EQ(dir.read("f_15_1.txt"), "\"a\"\r\n\"b\"\r\n\"1\"\r\n\"'2'\"\r\n");
    const std::vector<std::string> expected = {"copy /y f_12_1.txt  f_12_2.txt > out_null.txt",
                                               "copy /y f_12_1.txt f_13_2.txt > out_null.txt",
                                               "copy /y f_13_2.txt f_13_3.txt > out_null.txt",
                                               "copy /y f_13_3.txt f_14_1.txt > out_null.txt"};
    EXPECT_EQ(t.shell_owner->history(), expected);
}

TEST(LoadTable, CellsAndCounts) {
    TempDir dir;
    auto l = load(dir, "a;b\r\n1;2\r\n3;4\r\n");
    EXPECT_EQ(l.column_count, 2);
    EXPECT_EQ(l.row_count, 3);
    EXPECT_EQ(l.working, "\"a\"\r\n\"b\"\r\n\"1\"\r\n\"2\"\r\n\"3\"\r\n\"4\"\r\n");

    l = load(dir, "x;;y\r\n");
    EXPECT_EQ(l.column_count, 3);
    EXPECT_EQ(l.working, "\"x\"\r\n\"\"\r\n\"y\"\r\n");

    // Commas and blanks stay in the cell; the line ends of every kind end a row.
    l = load(dir, " a, b ;c\rd;e\nf;g");
    EXPECT_EQ(l.column_count, 2);
    EXPECT_EQ(l.row_count, 3);
    EXPECT_EQ(l.working, "\" a, b \"\r\n\"c\"\r\n\"d\"\r\n\"e\"\r\n\"f\"\r\n\"g\"\r\n");

    l = load(dir, "id\r\n7\r\n");
    EXPECT_EQ(l.column_count, 1);
    EXPECT_EQ(l.working, "\"id\"\r\n\"7\"\r\n");
}

TEST(LoadTable, RaggedLinesArePaddedInPlace) {
    TempDir dir;
    auto l = load(dir, "a;b;c\r\n1\r\n2;3\r\n4;5;6\r\n\r\n");
    EXPECT_EQ(l.column_count, 3);
    EXPECT_EQ(l.row_count, 5);
    EXPECT_EQ(l.working,
              "\"a\"\r\n\"b\"\r\n\"c\"\r\n"
              "\"1\"\r\n\"\"\r\n\"\"\r\n"
              "\"2\"\r\n\"3\"\r\n\"\"\r\n"
              "\"4\"\r\n\"5\"\r\n\"6\"\r\n"
              "\"\"\r\n\"\"\r\n\"\"\r\n");
    // The intermediate file still holds only the cells that are there.
    const std::string records = dir.read("f_14_1.txt");
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 10);
    EXPECT_NE(dir.read("f_14_1.txt").find("\"5\",\"1\",\"\"\r\n"), std::string::npos);
}

TEST(LoadTable, EmptyAndMissingFilesHaveNoColumns) {
    TempDir dir;
    auto l = load(dir, "");
    EXPECT_EQ(l.column_count, 0);
    EXPECT_EQ(l.row_count, 0);
    EXPECT_EQ(l.working, "");

    TempDir other;
    l = load(other, "", "missing.csv");
    EXPECT_EQ(l.column_count, 0);
    EXPECT_EQ(l.working, "");
    EXPECT_TRUE(other.exists("f_14_1.txt"));
}

// The folder's entries other than the table: what a load leaves behind.
std::vector<std::string> entries(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename() != "t.csv") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A load that fails at any of its steps leaves no working file (nor its part-made draft,
// unless deleting that was the step that failed), and the next load writes every file as a
// load in a fresh folder does.
TEST(LoadTable, AFailedLoadLeavesNoWorkingFile) {
    const std::string table = "a;b;c\r\n1;\"2\";3\r\n4\r\n";
    TempDir clean;
    clean.write("t.csv", table);
    long points = 0;
    {
        TestSession t(clean.path(), "");
        t.session.table_name = "t.csv";
        ASSERT_TRUE(load_table(t.session));
        points = t.session.faults.points();
    }
    const auto made = entries(clean);
    ASSERT_GT(points, 20);
    for (long n = 1; n <= points; ++n) {
        SCOPED_TRACE(n);
        TempDir dir;
        dir.write("t.csv", table);
        TestSession t(dir.path(), std::string(2, ' '));
        t.session.table_name = "t.csv";
        t.session.faults.fail_at(n, ENOSPC);
        EXPECT_FALSE(load_table(t.session));
        EXPECT_FALSE(dir.exists("f_15_1.txt"));
        EXPECT_EQ(t.session.column_count, 0);
        std::size_t drafts = 0;
        for (const auto& name : entries(dir)) drafts += is_temporary_name(name);
        EXPECT_LE(drafts, 1u);
        t.session.faults.fail_at(0, 0);
        ASSERT_TRUE(load_table(t.session));
        EXPECT_EQ(t.session.column_count, 3);
        EXPECT_EQ(t.session.row_count, 3);
        EXPECT_EQ(entries(dir), made);
        for (const auto& name : made) EXPECT_EQ(dir.read(name), clean.read(name)) << name;
    }
}

TEST(LoadTable, NameFoundIgnoringCase) {
    TempDir dir;
    dir.write("MyTab.csv", "a;b\r\n");
    auto l = load(dir, "", "mytab.csv");
    EXPECT_EQ(l.column_count, 2);
}

TEST(LoadTable, LongCellStaysWhole) {
    TempDir dir;
    std::string cell(5000, 'x');
    auto l = load(dir, "a;" + cell + "\r\n");
    EXPECT_EQ(l.working, "\"a\"\r\n\"" + cell + "\"\r\n");
}

TEST(SaveTable, WritesRowsAndCounts) {
    TempDir dir;
    load(dir, "x;;y\r\n\"q\";2;3\r\n");
    int rows = 0;
    EXPECT_EQ(saved(dir, 3, &rows), "x;;y\r\n'q';2;3\r\n");
    EXPECT_EQ(rows, 2);

    load(dir, "id\r\n7\r\n");
    EXPECT_EQ(saved(dir, 1, &rows), "id\r\n7\r\n");
    EXPECT_EQ(rows, 2);
}

TEST(SaveTable, ZeroColumnsWritesAnEmptyTable) {
    TempDir dir;
    dir.write("f_15_1.txt", "\"a\"\r\n\"b\"\r\n");
    dir.write("out.csv", "old\r\n");
    int rows = -1;
    EXPECT_EQ(saved(dir, 0, &rows), "");
    EXPECT_EQ(rows, 0);
}

TEST(SaveTable, UnwritableTargetLeavesTheOldFile) {
    TempDir dir;
    load(dir, "a;b\r\n");
    fs::create_directory(dir.path() / "sub");
    TestSession t(dir.path(), "");
    t.session.column_count = 2;
    int rows = 0;
    EXPECT_FALSE(save_table(t.session, "nodir\\x.csv", rows));
    EXPECT_FALSE(save_table(t.session, "sub", rows));
    EXPECT_TRUE(fs::is_directory(dir.path() / "sub"));
}

TEST(LoadSave, RandomTablesRoundTrip) {
    std::mt19937 random(3);
    const std::string alphabet = "ab ,'\xe9Z9";
    for (int round = 0; round < 20; ++round) {
        TempDir dir;
        int columns = 1 + static_cast<int>(random() % 5);
        int rows = 1 + static_cast<int>(random() % 30);
        std::string table;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                if (c) table += ';';
                std::size_t len = random() % 6;
                for (std::size_t k = 0; k < len; ++k) table += alphabet[random() % alphabet.size()];
            }
            table += "\r\n";
        }
        auto l = load(dir, table);
        // A table whose lines are all empty is one column of empty cells.
        EXPECT_EQ(l.column_count, columns);
        EXPECT_EQ(l.row_count, rows);
        EXPECT_EQ(saved(dir, columns), table);
    }
}

// The table as this program keeps it: lines split at CR LF, LF or CR, quotes made
// apostrophes, every line padded to the widest with empty cells.
std::string expected_save(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += c == '"' ? '\'' : c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    std::size_t widest = 0;
    for (const auto& l : lines)
        widest = std::max(widest, static_cast<std::size_t>(std::count(l.begin(), l.end(), ';')));
    std::string out;
    for (const auto& l : lines) {
        auto n = static_cast<std::size_t>(std::count(l.begin(), l.end(), ';'));
        out += l + std::string(widest - n, ';') + "\r\n";
    }
    return out;
}

TEST(LoadSave, RealTablesKeepEveryCellInItsColumn) {
    const fs::path real = realdata_dir() / "csv";
    if (!fs::is_directory(real)) GTEST_SKIP() << realdata_absent(real);
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(real)) {
        if (entry.path().extension() != ".csv") continue;
        SCOPED_TRACE(entry.path().string());
        TempDir dir;
        fs::copy_file(entry.path(), dir.path() / "t.csv");
        TestSession t(dir.path(), "");
        t.session.table_name = "t.csv";
        load_table(t.session);
        int rows = 0;
        ASSERT_TRUE(save_table(t.session, "back.csv", rows));
        EXPECT_EQ(rows, t.session.row_count);
        EXPECT_EQ(dir.read("back.csv"), expected_save(dir.read("t.csv")));
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no *.csv in " << real.string();
}

}  // namespace
}  // namespace rowkeep::testing
