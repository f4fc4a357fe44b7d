// Whole-program saves with the HTML export: from the start screen to the save of a table
// chosen from the list, then the files the export leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "console/table_file.h"
#include "console/tokens.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// Table 1 from the list, viewer left, save menu, save, the two key waits after it; the
// keys then run out with the working file restored.
const std::string kSaveKeys = std::string(kStartKeys) +
                              "131\r"
                              "9"
                              "9"
                              "1"
                              "x"
                              "x";

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string extension(const std::string& name) {
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : lower_az(name.substr(dot));
}

// Every value of the attribute (id="..." or href="...#...") in the text.
std::set<std::string> values_after(const std::string& text, const std::string& lead) {
    std::set<std::string> values;
    for (std::size_t at = text.find(lead); at != std::string::npos; at = text.find(lead, at)) {
        at += lead.size();
        values.insert(text.substr(at, text.find('"', at) - at));
    }
    return values;
}

fs::path real_table(const std::string& name) {
    return realdata_dir() / "csv" / name;
}

// The working file that loading the table gives, made in a folder of its own.
std::string loaded_working_file(const fs::path& table) {
    TempDir other;
    fs::copy_file(table, other.path() / table.filename());
    TestSession t(other.path(), "");
    t.session.table_name = t.session.selected_table = table.filename().string();
    t.run(load_table);
    return other.read("f_15_1.txt");
}

TEST(HtmlExportSession, RealTableSavedWithItsIndex) {
    const fs::path table = real_table("pl_nbp_archiwum_tab_a_2020.csv");
    if (!fs::exists(table)) GTEST_SKIP() << realdata_absent(table);

    TempDir dir;
    fs::copy_file(table, dir.path() / table.filename());
    // The shared copy is read-only, and a read-only table is never replaced.
    fs::permissions(dir.path() / table.filename(), fs::perms::owner_write, fs::perm_options::add);
    const std::string working = loaded_working_file(table);
    RunResult r = run_program(dir.path(), kSaveKeys);
    EXPECT_TRUE(r.input_ended);
    EXPECT_NE(r.screen.find("\r\n---------- HTML results ----------\r\nView dir : htm_out\r\n"
                            "View file: index.htm\r\n\r\nAny key to continue, end program\r\n"),
              std::string::npos);

    EXPECT_EQ(names_in(dir.path() / "htm_out"),
              (std::vector<std::string>{"index.htm", "page_1.htm", "search.htm"}));
    EXPECT_EQ(names_in(dir.path() / "htm_in"),
              (std::vector<std::string>{"file_pl_nbp_archiwum_tab_a_2020.htm"}));
    for (const std::string& name : names_in(dir.path())) {
        if (name == "f_15_1.txt") continue;
        EXPECT_NE(extension(name), ".txt") << name;
        EXPECT_NE(extension(name), ".htm") << name;
    }
    EXPECT_EQ(dir.read("f_15_1.txt"), working);
    EXPECT_EQ(dir.read("txt_in/f_15_1.txt"), working);

    const std::string page = dir.read("htm_out/page_1.htm");
    const std::string index = dir.read("htm_out/index.htm");
    const std::string search = dir.read("htm_out/search.htm");
    const std::string input = dir.read("htm_in/file_pl_nbp_archiwum_tab_a_2020.htm");
    EXPECT_EQ(page.substr(0, page.find("\r\n")), input.substr(0, input.find("\r\n")));
    EXPECT_NE(page.find("</script>\r\n<body>\r\n"), std::string::npos);
    EXPECT_NE(page.find("</table>\r\n</body>\r\n</html>\r\n"), std::string::npos);
    // A code page 1250 word, lower-cased only in A to Z.
    EXPECT_NE(page.find(">dolar</span>"), std::string::npos);
    EXPECT_NE(search.find("ameryka\xf1sk"), std::string::npos);
    EXPECT_NE(index.find("charset=1250\">"), std::string::npos);
    EXPECT_NE(index.find("\r\n<a href=\"page_1.htm\">page_1.htm</a><br>\r\n"), std::string::npos);

    // The links between the three pages all land.
    const std::set<std::string> page_spans = values_after(page, "<span id=\"");
    const std::set<std::string> index_ids = values_after(index, "\" id=\"");
    const std::set<std::string> search_spans = values_after(search, "<span id=\"");
    ASSERT_GT(index_ids.size(), 100u);
    EXPECT_EQ(values_after(index, "<a href=\"page_1.htm#"), index_ids);
    for (const auto& id : index_ids) EXPECT_TRUE(page_spans.count(id)) << id;
    for (const auto& id : values_after(page, "<a href=\"index.htm#"))
        EXPECT_TRUE(index_ids.count(id)) << id;
    for (const auto& id : values_after(search, "<a href=\"index.htm#"))
        EXPECT_TRUE(index_ids.count(id)) << id;
    for (const auto& anchor : values_after(page, "<a href=\"search.htm#"))
        EXPECT_TRUE(search_spans.count(anchor)) << anchor;
    for (const auto& anchor : values_after(index, "<a href=\"search.htm#"))
        EXPECT_TRUE(search_spans.count(anchor)) << anchor;

    // The index run switched to the chosen code page and back to 1252.
    auto chosen = std::find(r.commands.begin(), r.commands.end(), "chcp 1250");
    auto back = std::find(r.commands.begin(), r.commands.end(), "chcp 1252");
    EXPECT_NE(std::find(chosen + 1, r.commands.end(), "chcp 1250"), back);
    EXPECT_LT(chosen, back);
    EXPECT_EQ(std::find(back, r.commands.end(), "copy txt_in\\f_15_1.txt"), back + 1);
}

TEST(HtmlExportSession, TableNameWithABlank) {
    TempDir dir;
    dir.write("My Prices.csv", "item;price\r\nbread roll;1,20\r\n");
    RunResult r = run_program(dir.path(), kSaveKeys);
    EXPECT_TRUE(r.input_ended);
    EXPECT_NE(r.screen.find("copy/save ========== my prices.csv   rows = 2 / 2 =========="),
              std::string::npos);
    EXPECT_EQ(names_in(dir.path() / "htm_in"), (std::vector<std::string>{"file_my prices.htm"}));
    EXPECT_EQ(names_in(dir.path() / "htm_out"),
              (std::vector<std::string>{"index.htm", "page_1.htm", "search.htm"}));
    EXPECT_NE(dir.read("htm_out/page_1.htm").find(">bread</span>"), std::string::npos);
    EXPECT_NE(dir.read("htm_in/file_my prices.htm").find("\r\nmy prices.htm\r\n</title>"),
              std::string::npos);

    int carrying = 0;
    for (const std::string& line : r.commands) {
        std::size_t at = line.find("my prices");
        if (at == std::string::npos) continue;
        ++carrying;
        // The name sits inside one pair of quotes.
        std::size_t open = line.rfind('"', at);
        ASSERT_NE(open, std::string::npos) << line;
        EXPECT_EQ(std::count(line.begin(), line.begin() + static_cast<long>(open), '"') % 2, 0)
            << line;
        EXPECT_NE(line.find('"', at), std::string::npos) << line;
    }
    EXPECT_GE(carrying, 3);
    EXPECT_NE(std::find(r.commands.begin(), r.commands.end(), "copy \"my prices.htm\" htm_in\\"),
              r.commands.end());
}

}  // namespace
}  // namespace rowkeep::testing
