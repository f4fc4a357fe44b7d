#include "viewer/sort_setup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "console/replace_file.h"
#include "harness.h"
#include "viewer/sort_engine.h"
#include "viewer/view_table.h"

namespace rowkeep::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string crlf(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

std::string quoted(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items) out += "\"" + i + "\"\r\n";
    return out;
}

// The sort set-up over a working file, as the viewer hands it over: row 1 read into
// column_names, the counts set.
struct SortSetup {
    SortSetup(const Rows& rows, std::string_view keys, std::string table = "prices.csv")
        : t(dir.path(), keys) {
        dir.write("f_15_1.txt", working_file(rows));
        Session& s = t.session;
        s.column_count = rows.empty() ? 0 : static_cast<int>(rows.front().size());
        s.row_count = static_cast<int>(rows.size());
        s.table_name = std::move(table);
        s.first_col = 3;
        s.size_arrays();
        for (int k = 1; k <= s.column_count; ++k)
            s.column_names[k] = rows.front()[static_cast<std::size_t>(k - 1)];
    }
    // True when the set-up ended the program (a completed sort).
    bool run() {
        return t.run([&](Session& s) { sort_setup(s, saved_first_col); });
    }
    std::vector<std::string> lines() const { return screen_lines(t.screen()); }
    bool shows(std::string_view text) const { return t.screen().find(text) != std::string::npos; }

    TempDir dir;
    TestSession t;
    int saved_first_col = 0;
};

// Key presses that select the columns given (1-based, in this order) with "<2>", one
// pass over the columns per choice.
std::string choose(int columns, const std::vector<int>& picks) {
    std::string keys;
    for (int pick : picks) {
        keys += "2";
        for (int k = 1; k <= columns; ++k) keys += k == pick ? "3" : "x";
    }
    return keys;
}

// "<8>" to leave the column menu, the positions typed for each entry, each confirmed
// with any key, then "<8>" to sort.
std::string positions(const std::vector<std::pair<int, int>>& ranges) {
    std::string keys = "8";
    for (auto [first, last] : ranges)
        keys += std::to_string(first) + "\r" + std::to_string(last) + "\rx";
    return keys + "8";
}

// Text padded with blanks to the next print zone.
std::string zone(std::string text) {
    text.resize((text.size() / 14 + 1) * 14, ' ');
    return text;
}

// An entry as the lists show it: its number padded to the next zone, then the name.
std::string entry(const std::string& number, std::string_view name) {
    return zone(number) + std::string(name);
}

// A preview or key-part line: number and name each padded to the next zone, then text.
std::string zoned(const std::string& head, std::string_view name, std::string_view text) {
    return zone(entry(head, name)) + std::string(text);
}

TEST(SortSetup, PricesExampleWritesEveryFileAndEndsTheProgram) {
    const Rows prices = {{"Item", "Price"}, {"nail", "12"}, {"Screw", "abc"}, {"bolt", ""}};
    SortSetup st(prices, choose(2, {2}) + positions({{1, 5}}));
    ASSERT_TRUE(st.run());
    EXPECT_FALSE(st.t.input_ended);
    EXPECT_EQ(st.saved_first_col, 3);
    EXPECT_EQ(st.t.session.first_col, 1);

    const std::vector<std::string> parts = {"   12", "abc  ", "     "};
    EXPECT_EQ(st.dir.read("file_18.txt"), quoted(parts));
    EXPECT_EQ(st.dir.read("file_20_1.txt"), quoted(parts));
    EXPECT_EQ(st.dir.read("file_21_2.txt"), quoted(parts));
    EXPECT_FALSE(st.dir.exists("file_20_2.txt"));
    EXPECT_FALSE(st.dir.exists("file_21_3.txt"));
    EXPECT_EQ(st.dir.read("file_24_1.txt"), crlf({"   12|", "abc  |", "     |"}));
    EXPECT_EQ(st.dir.read("file_26_1.txt"),
              crlf({"   12;nail;12", "abc  ;Screw;abc", "     ;bolt;"}));
    const std::string sorted = crlf({"     ;bolt;", "   12;nail;12", "abc  ;screw;abc"});
    EXPECT_EQ(st.dir.read("file_26_2.txt"), sorted);
    EXPECT_EQ(st.dir.read("file_28.txt"), "s_Price;Item;Price\r\n" + sorted);
    EXPECT_EQ(st.dir.read("prices_sort.csv"), st.dir.read("file_28.txt"));
    EXPECT_EQ(st.dir.read("f_15_1.txt"), working_file(prices));

    const auto& history = st.t.shell_owner->history();
    const std::vector<std::string> commands = {"copy /y file_20_1.txt file_21_2.txt > out_null.txt",
                                               "del /q file_03_*.txt > null.txt",
                                               "copy file_28.txt prices_sort.csv"};
    EXPECT_EQ(history, commands);

    const auto lines = st.lines();
    auto at = [&](const std::string& line) {
        auto it = std::find(lines.begin(), lines.end(), line);
        EXPECT_NE(it, lines.end()) << line;
        return it - lines.begin();
    };
    // Positions: the entry as 1/1, then the column name alone; then the preview, which
    // skips the row whose cut text is empty.
    auto asked = at(entry("1/1", "Price"));
    EXPECT_EQ(lines.at(static_cast<std::size_t>(asked + 1)), "Price");
    EXPECT_EQ(lines.at(static_cast<std::size_t>(asked + 2)), "first position for key string = ? 1");
    EXPECT_EQ(lines.at(static_cast<std::size_t>(asked + 3)), "last  position for key string = ? 5");
    auto preview = at(zoned(" 2", "Price", "   1>     <5"));
    EXPECT_EQ(lines.at(static_cast<std::size_t>(preview + 1)), zoned(" 2", "Price", "     12"));
    EXPECT_EQ(lines.at(static_cast<std::size_t>(preview + 2)), zoned(" 2", "Price", "        12"));
    EXPECT_EQ(lines.at(static_cast<std::size_t>(preview + 5)), zoned(" 3", "Price", "     abc  "));
    EXPECT_EQ(lines.at(static_cast<std::size_t>(preview + 6)),
              "<> any key to continue,  <Enter> repeat,  <-> skip up");
    // The key parts, every row, then the split.
    auto listed = at(zoned("row =  4", "Price", std::string(10, ' ')));
    EXPECT_GT(listed, at(zoned("row =  2", "Price", "        12")));
    EXPECT_EQ(lines.at(static_cast<std::size_t>(listed + 1)), std::string(36, '-'));
    EXPECT_EQ(lines.at(static_cast<std::size_t>(listed + 2)), "Fields for sort");
    EXPECT_EQ(lines.at(static_cast<std::size_t>(listed + 3)), entry(" 1", "Price"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "output sort table = prices_sort.csv");
    EXPECT_EQ(lines.back(), "End");
}

TEST(SortSetup, TwoEntriesJoinTheirPartsInEntryOrderAndOnlyTheHeadingKeepsCase) {
    const Rows rows = {{"Name", "Town", "Code"},
                       {"Wolfgang", "Wien", "B7"},
                       {"ant", "Graz", "a"},
                       {"Ann", "Linz", "a"}};
    // Column 3 is chosen first, then column 1; "-" on the first entry stays there.
    SortSetup st(rows, choose(3, {3, 1}) + "3-\r\r" + positions({{1, 2}, {1, 4}}));
    ASSERT_TRUE(st.run());
    EXPECT_TRUE(st.shows(entry("2/2", "Name")));
    EXPECT_EQ(st.dir.read("file_18.txt"), quoted({"B7", "a ", "a ", "Wolf", "ant ", "Ann "}));
    EXPECT_EQ(st.dir.read("file_20_1.txt"), quoted({"B7", "a ", "a "}));
    EXPECT_EQ(st.dir.read("file_20_2.txt"), quoted({"Wolf", "ant ", "Ann "}));
    EXPECT_EQ(st.dir.read("file_21_2.txt"), quoted({"B7", "a ", "a "}));
    EXPECT_EQ(st.dir.read("file_21_3.txt"), quoted({"B7Wolf", "a ant ", "a Ann "}));
    EXPECT_EQ(st.dir.read("file_24_1.txt"), crlf({"B7Wolf|", "a ant |", "a Ann |"}));
    EXPECT_EQ(st.dir.read("prices_sort.csv"),
              crlf({"s_Code + s_Name;Name;Town;Code", "a ann ;ann;linz;a", "a ant ;ant;graz;a",
                    "b7wolf;wolfgang;wien;b7"}));
}

TEST(SortSetup, NumericPartsAreRightAlignedSoNineSortsBeforeTen) {
    const Rows rows = {{"n"}, {"10"}, {"ab"}, {"9"}, {"100"}, {"-5"}};
    SortSetup st(rows, choose(1, {1}) + positions({{1, 3}}));
    ASSERT_TRUE(st.run());
    EXPECT_EQ(st.dir.read("file_18.txt"), quoted({" 10", "ab ", "  9", "100", " -5"}));
    EXPECT_EQ(st.dir.read("file_26_2.txt"),
              crlf({"  9;9", " -5;-5", " 10;10", "100;100", "ab ;ab"}));
}

TEST(SortSetup, SpaceBarRemovesAnEntryAndOffersTheNextAtOnce) {
    const Rows rows = {{"a", "b", "c"}, {"1", "2", "3"}};
    // Entries a, b, c; the review keeps a, removes b, then is offered c in its place.
    SortSetup st(rows,
                 "2333"
                 "3\r \r"
                 "3\r\r" +
                     positions({{1, 1}, {1, 1}}));
    ASSERT_TRUE(st.run());
    const std::string rule =
        "-------------- sort, a list of already selected columns --------------";
    EXPECT_TRUE(st.shows(rule + "\r\n" + entry(" 1", "a") + "\r\n" + entry(" 2", "b") + "\r\n" +
                         entry(" 3", "c") + "\r\n\r\n" + rule + "\r\n"));
    const std::string offer = "<Enter> continue, <Space Bar> cancel, <-> skip up\r\n\r\n";
    EXPECT_TRUE(st.shows(entry(" 2", "b") + "\r\n" + offer + entry(" 2", "b") +
                         "\r\ncolumn was excluded\r\n\r\n" + entry(" 2", "c") + "\r\n" + offer));
    // The second review lists two entries.
    EXPECT_TRUE(
        st.shows(rule + "\r\n" + entry(" 1", "a") + "\r\n" + entry(" 2", "c") + "\r\n\r\n" + rule));
    EXPECT_EQ(st.dir.read("file_28.txt"), crlf({"s_a + s_c;a;b;c", "13;1;2;3"}));
    EXPECT_FALSE(st.dir.exists("file_20_3.txt"));
}

TEST(SortSetup, RemovingFromAllThirtyEntriesClearsTheFreedLastOne) {
    Rows rows(2);
    for (int k = 1; k <= 30; ++k) {
        std::string n = (k < 10 ? "0" : "") + std::to_string(k);
        rows[0].push_back("n" + n);
        rows[1].push_back("v" + n);
    }
    // All 30 columns chosen; a 31st choice takes nothing; the review removes entry 2.
    std::string keys = "2" + std::string(30, '3') + "23" + std::string(29, 'x');
    keys += "3\r " + std::string(28, '\r');
    keys += positions(std::vector<std::pair<int, int>>(29, {2, 3}));
    SortSetup st(rows, keys);
    ASSERT_TRUE(st.run());
    std::size_t chosen = 0;
    for (const auto& line : st.lines())
        if (line.find("selected column = ") != std::string::npos) ++chosen;
    EXPECT_EQ(chosen, 30u);
    EXPECT_TRUE(st.shows(entry("29/29", "n30")));
    EXPECT_FALSE(st.shows("/30"));

    std::string heading = "s_n01", key = "01", row;
    for (int k = 3; k <= 30; ++k) {
        heading += " + s_n" + std::to_string(k).insert(0, k < 10 ? "0" : "");
        key += std::to_string(k).insert(0, k < 10 ? "0" : "");
    }
    for (int k = 1; k <= 30; ++k) {
        std::string n = (k < 10 ? "0" : "") + std::to_string(k);
        heading += ";n" + n;
        row += ";v" + n;
    }
    EXPECT_EQ(st.dir.read("file_28.txt"), crlf({heading, key + row}));
    EXPECT_TRUE(st.t.session.sort_keys.at(30)[1].empty());
    EXPECT_EQ(st.t.session.sort_keys.at(29)[2], "n30");
}

TEST(SortSetup, LastBelowFirstGivesAnEmptyPartAndFirstBeyondTheCellBlanks) {
    const Rows rows = {{"a", "b", "c"}, {"hello", "9", "xy"}, {"x", "10", "z"}};
    SortSetup st(rows, choose(3, {1, 2, 3}) + positions({{3, 1}, {1, 2}, {5, 7}}));
    ASSERT_TRUE(st.run());
    EXPECT_EQ(st.dir.read("file_20_1.txt"), quoted({"", ""}));
    EXPECT_EQ(st.dir.read("file_20_3.txt"), quoted({"   ", "   "}));
    EXPECT_EQ(st.dir.read("file_24_1.txt"), crlf({" 9   |", "10   |"}));
    // Nothing was cut, so no row is previewed for entry 1 (nor for entry 3).
    EXPECT_FALSE(st.shows(zoned(" 2", "a", "")));
    EXPECT_FALSE(st.shows(zoned(" 2", "c", "")));
    EXPECT_TRUE(st.shows(zoned("row =  2", "a", "       ")));
}

TEST(SortSetup, PositionsAreAskedAgainOnRequestAndBounded) {
    const Rows rows = {{"n", "m"}, {"9", "x"}, {"10", "y"}};
    std::string keys = choose(2, {1, 2}) + "8";
    keys +=
        "1\r1\r\r"
        "1\r2\rx";      // entry 1, asked again with Enter
    keys += "1\r1\r-";  // entry 2, then back to entry 1
    keys +=
        "1\r1\rx"
        "1\r1\rx";  // entries 1 and 2
    keys += "3";    // all positions once more
    keys +=
        "0\r99999999999\rx"
        "2\r1\rx"
        "8";
    SortSetup st(rows, keys);
    ASSERT_TRUE(st.run());
    std::size_t first_asked = 0, second_asked = 0;
    for (const auto& line : st.lines()) {
        first_asked += line == entry("1/2", "n");
        second_asked += line == entry("2/2", "m");
    }
    EXPECT_EQ(first_asked, 4u);
    EXPECT_EQ(second_asked, 3u);
    EXPECT_TRUE(st.shows(zoned(" 2", "n", "   1>  <2")));
    // Before position 1 there is nothing to cut; a huge last position is bounded.
    EXPECT_EQ(st.t.session.sort_keys.at(1)[3], "1");
    EXPECT_EQ(st.t.session.sort_keys.at(1)[4], "32767");
    const auto padded = screen_lines(st.dir.read("file_24_1.txt"));
    ASSERT_EQ(padded.size(), 2u);
    EXPECT_EQ(padded[0].size(), 32768u);
    EXPECT_EQ(padded[0].find_first_not_of(' '), 32766u);
    EXPECT_EQ(padded[1].find_first_not_of(' '), 32765u);
    EXPECT_EQ(padded[1].substr(32765), "10|");
}

TEST(SortSetup, KeysLongerThanAFileValueStayOnTheirRows) {
    const Rows rows = {{"x", "y"}, {"b", "2"}, {"a", "1"}, {"c", "3"}};
    SortSetup st(rows, choose(2, {1, 2}) + positions({{1, 3000}, {1, 3000}}));
    ASSERT_TRUE(st.run());
    auto key = [](char text, char number) { return text + std::string(2999 + 2999, ' ') + number; };
    EXPECT_EQ(st.dir.read("file_21_3.txt"), quoted({key('b', '2'), key('a', '1'), key('c', '3')}));
    EXPECT_EQ(st.dir.read("file_28.txt"), crlf({"s_x + s_y;x;y", key('a', '1') + ";a;1",
                                                key('b', '2') + ";b;2", key('c', '3') + ";c;3"}));
}

TEST(SortSetup, OutputNamesAndATableWithoutDataRows) {
    struct Case {
        std::string table, output;
    };
    for (const Case& c : {Case{"prices", "prices_sort.csv"}, Case{"a.csv.csv", "a_sort.csv"},
                          Case{"my table.csv", "my table_sort.csv"}}) {
        // An existing output is replaced when the overwrite question is answered yes.
        SortSetup st({{"k"}}, choose(1, {1}) + positions({{1, 2}}) + "y\r", c.table);
        st.dir.write(c.output, "old");
        ASSERT_TRUE(st.run()) << c.table;
        EXPECT_EQ(st.dir.read(c.output), "s_k;k\r\n") << c.table;
        EXPECT_TRUE(st.shows("output sort table = " + c.output + "\r\nEnd\r\n"));
        EXPECT_EQ(st.dir.read("file_26_1.txt"), "");
    }
}

TEST(SortSetup, NoColumnChosenLeavesTheViewerWithoutSorting) {
    const Rows rows = {{"a", "b"}, {"1", "2"}};
    SortSetup st(rows, "1x8");
    // Entries of an earlier set-up are cleared on entry.
    st.t.session.sort_keys.assign(31, SortKey{"", "1", "a", "1", "1"});
    EXPECT_FALSE(st.run());
    EXPECT_EQ(st.saved_first_col, 3);
    EXPECT_TRUE(st.shows(entry(" 1", "a") + "\r\n" + entry(" 2", "b") + "\r\n"));
    EXPECT_FALSE(st.dir.exists("file_18.txt"));
    EXPECT_TRUE(st.t.shell_owner->history().empty());

    // Through the viewer: "S" is offered in every edit mode; the viewer then leaves as on
    // "9" with first_col as it stood when "S" was pressed (the set-up saves it again); a
    // finished sort ends the program from inside it.
    for (std::string keys : {"1S8", "1s2x381\r4\rx8"}) {
        SortSetup v(rows, keys);
        v.t.session.edit_mode = EditMode::editing;
        v.t.session.top_row = 2;
        v.t.session.first_col = 1;
        v.t.session.row_label_width = 7;
        bool ended = v.t.run([](Session& s) { view_table(s, s.top_row); });
        EXPECT_EQ(ended, keys != "1S8");
        EXPECT_EQ(v.t.session.first_col, ended ? 1 : 2);
        EXPECT_EQ(v.t.session.top_row, 2);
        EXPECT_TRUE(
            v.shows("<1> list          columns - all\r\n"
                    "<2> list/select   columns - increment\r\n"
                    "<3> list selected columns\r\n<8> exit, continue\r\n\r\n"));
        if (ended) {
            EXPECT_EQ(v.dir.read("prices_sort.csv"), "s_b;a;b\r\n   2;1;2\r\n");
        }
    }
}

// Runs LC_ALL=C /usr/bin/sort from in into out; false when it cannot be run.
bool standard_sort(const fs::path& in, const fs::path& out) {
    if (!fs::exists("/usr/bin/sort")) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char program[] = "sort";
    char locale[] = "LC_ALL=C";
    char* argv[] = {program, nullptr};
    char* envp[] = {locale, nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, "/usr/bin/sort", &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A key part built the plain way: cut, trimmed, numbers to the right.
std::string reference_part(const std::string& cell, std::size_t first, std::size_t last) {
    std::string cut = first <= cell.size() ? cell.substr(first - 1, last - first + 1) : "";
    auto b = cut.find_first_not_of(' ');
    cut = b == std::string::npos ? "" : cut.substr(b, cut.find_last_not_of(' ') - b + 1);
    const std::size_t length = last - first + 1;
    bool numeric = !cut.empty() && cut.find_first_not_of("+,-.0123456789") == std::string::npos;
    std::string pad(length - cut.size(), ' ');
    return numeric ? pad + cut : cut + pad;
}

TEST(SortSetup, FiveThousandRowsSortAsTheStandardSortDoes) {
    std::mt19937 random(5000);
    auto word = [&](std::size_t max) {
        std::string w;
        std::size_t n = random() % (max + 1);
        for (std::size_t i = 0; i < n; ++i) {
            int pick = static_cast<int>(random() % 30);
            w += pick < 13   ? static_cast<char>('a' + pick)
                 : pick < 26 ? static_cast<char>('A' + pick - 13)
                 : pick < 28 ? ' '
                             : static_cast<char>('0' + random() % 10);
        }
        return w;
    };
    Rows rows = {{"Name", "Amount", "Note"}};
    for (int r = 0; r < 5000; ++r) {
        std::string amount = random() % 10 == 0 ? word(4) : std::to_string(random() % 200000);
        rows.push_back({word(9), amount, word(6)});
    }
    // Entry 1: Amount at positions 1 to 6; entry 2: Name at positions 2 to 5.
    SortSetup st(rows, choose(3, {2, 1}) + positions({{1, 6}, {2, 5}}), "big.csv");
    ASSERT_TRUE(st.run());
    EXPECT_TRUE(st.shows(" file_03_1.txt  2000/ 5000\r\n file_03_2.txt  4000/ 5000\r\n"));
    EXPECT_FALSE(st.shows("file_03_3.txt"));

    std::string reference_input;
    std::vector<std::string> keys;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const auto& row = rows[r];
        keys.push_back(reference_part(row[1], 1, 6) + reference_part(row[0], 2, 5));
        std::string line = keys.back() + ";" + row[0] + ";" + row[1] + ";" + row[2];
        for (char& c : line)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        reference_input += line + "\n";
    }
    std::string padded;
    for (const auto& k : keys) padded += k + "|\r\n";
    EXPECT_EQ(st.dir.read("file_24_1.txt"), padded);

    st.dir.write("reference_in.txt", reference_input);
    if (!standard_sort(st.dir.path() / "reference_in.txt", st.dir.path() / "reference_out.txt"))
        GTEST_SKIP() << "no /usr/bin/sort to compare with";
    const auto expected = screen_lines([&] {
        std::string text = st.dir.read("reference_out.txt"), out;
        for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return out;
    }());
    ASSERT_EQ(expected.size(), 5000u);
    const auto sorted = screen_lines(st.dir.read("file_26_2.txt"));
    ASSERT_EQ(sorted.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(sorted[i], expected[i]) << "line " << i + 1;
    const auto table = screen_lines(st.dir.read("big_sort.csv"));
    ASSERT_EQ(table.size(), 5001u);
    EXPECT_EQ(table[0], "s_Amount + s_Name;Name;Amount;Note");
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), table.begin() + 1));
}

// A long table's files are read ahead and written behind on threads of their own; a
// failure at any point of the set-up's own files still stops the sort with its message,
// and no output table is claimed or written.
TEST(SortSetup, ALongTableStopsAtEveryFailureOfItsKeyFiles) {
    Rows rows = {{"Name", "Code"}};
    for (int r = 0; r < 17000; ++r)
        rows.push_back({"n" + std::to_string(r * 7919 % 17011), std::to_string(r % 97)});
    const std::string keys = choose(2, {1}) + positions({{1, 4}});
    long points = 0;
    std::string sorted;
    {
        SortSetup clean(rows, keys, "long.csv");
        ASSERT_TRUE(clean.run());
        sorted = clean.dir.read("long_sort.csv");
        points = clean.t.session.faults.points();
    }
    // The set-up's own files come before the sort engine's runs. A preview that could not
    // read the working file says so, and the sort that follows may still succeed.
    for (long n = 1; n <= std::min(points, 30L); ++n) {
        SCOPED_TRACE("failing point " + std::to_string(n));
        SortSetup st(rows, keys, "long.csv");
        st.t.session.faults.fail_at(n, ENOSPC);
        ASSERT_TRUE(st.run());
        ASSERT_TRUE(st.t.session.faults.fired());
        EXPECT_TRUE(st.shows("can not be") || st.shows("sort error"));
        if (st.shows("output sort table = "))
            EXPECT_EQ(st.dir.read("long_sort.csv"), sorted);
        else
            EXPECT_FALSE(st.dir.exists("long_sort.csv"));
        EXPECT_EQ(st.shows("output sort table = "),
                  st.shows("working file can not be read: ") &&
                      !st.shows("sort table can not be written: "));
    }
}

// The set-up's files are made ahead as hidden spares: none is left in the folder, whichever
// failure point fails. The sorted file is the sort's output under a second name, so a later
// sort writing its output afresh must leave it as it was.
TEST(SortSetup, FilesMadeAheadLeaveNoSpareAndTheSortedFileOutlivesTheNextSort) {
    Rows rows = {{"Name", "Code"}};
    for (int r = 0; r < 4500; ++r)
        rows.push_back({"N" + std::to_string(r * 7919 % 4513), std::to_string(r % 97)});
    const std::string keys = choose(2, {1}) + positions({{1, 4}});
    auto spares_left = [](const TempDir& dir) {
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (is_temporary_name(entry.path().filename().string()))
                left.push_back(entry.path().filename().string());
        return left;
    };
    long points = 0;
    {
        SortSetup st(rows, keys, "codes.csv");
        ASSERT_TRUE(st.run());
        points = st.t.session.faults.points();
        EXPECT_TRUE(spares_left(st.dir).empty());
        const std::string sorted = st.dir.read("file_26_2.txt");
        EXPECT_EQ(st.dir.read("sort_output.txt"), sorted);
        EXPECT_EQ(
            st.dir.read("codes_sort.csv").substr(st.dir.read("codes_sort.csv").find('\n') + 1),
            sorted);
        st.dir.write("other.txt", "b\r\na\r\n");
        ASSERT_FALSE(st.t.run([](Session& s) { sort_file(s, SortJob("other.txt", "x.txt")); }));
        EXPECT_EQ(st.dir.read("sort_output.txt"), "a\r\nb\r\n");
        EXPECT_EQ(st.dir.read("file_26_2.txt"), sorted);
        EXPECT_TRUE(spares_left(st.dir).empty());
    }
    for (long n = 1; n <= points; ++n) {
        SCOPED_TRACE("failing point " + std::to_string(n));
        SortSetup st(rows, keys, "codes.csv");
        st.t.session.faults.fail_at(n, ENOSPC);
        ASSERT_TRUE(st.run());
        EXPECT_TRUE(spares_left(st.dir).empty());
    }
}

}  // namespace
}  // namespace rowkeep::testing
