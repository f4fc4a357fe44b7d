#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console/table_file.h"
#include "harness.h"
#include "table/save_copy.h"
#include "viewer/sort_engine.h"

namespace rowkeep::testing {
namespace {

// The first data line a viewer screen shows, or "" when it shows none.
std::string first_viewer_row(const std::string& screen) {
    auto lines = screen_lines(screen);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].rfind("       |C1(A)", 0) == 0) return lines[i + 1];
    return "";
}

TEST(TableSession, CapitalNameLoadedLowerCaseAndTheLoop) {
    TempDir dir;
    const std::string table = "a;b\r\n1;2\r\n3;4\r\n5;6\r\n7;8\r\n";
    dir.write("MyTab.csv", table);
    // Choose 1, leave the viewer, "5" three times, an unlisted key, "9" from the edit
    // menu, save, then end from the end menu.
    RunResult r = run_program(dir.path(), from_main_menu("131\r9"
                                                         "59"
                                                         "59"
                                                         "59"
                                                         "x"
                                                         "29"
                                                         "1  "
                                                         "89"));
    EXPECT_FALSE(r.input_ended);
    EXPECT_TRUE(screen_has(r, "<1> or <Enter> edit top row ( 2)"));
    EXPECT_TRUE(screen_has(r, "<1> or <Enter> edit top row ( 5)\r\n"));
    EXPECT_TRUE(screen_has(r, "mytab.csv     f_15_1.txt  rows =  5  columns =  2\r\n"));
    auto screens = split_screens(r.screen);
    int offered5 = 0;
    std::vector<std::string> viewer_tops;
    for (const auto& screen : screens) {
        if (screen.find("top row ( 5)") != std::string::npos) ++offered5;
        std::string row = first_viewer_row(screen);
        if (!row.empty()) viewer_tops.push_back(row.substr(0, 8));
    }
    EXPECT_EQ(offered5, 2);  // after the third "5" and again after the unlisted key
    // The load's view, then one view for each "5".
    EXPECT_EQ(viewer_tops,
              (std::vector<std::string>{"      1|", "      3|", "      4|", "      5|"}));
    EXPECT_TRUE(screen_has(r, "copy/save ========== mytab.csv   rows = 5 / 5 =========="));
    EXPECT_EQ(screen_lines(r.screen).back(), "End");
    EXPECT_FALSE(dir.exists("f_15_1.txt"));
    // The save replaced the table under its own name, beside no lower-case twin.
    std::vector<std::string> tables;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.path().extension() == ".csv") tables.push_back(entry.path().filename());
    EXPECT_EQ(tables, std::vector<std::string>{"MyTab.csv"});
    EXPECT_EQ(dir.read("MyTab.csv"), table);
}

bool is_reserved_scratch(const std::string& name) {
    return name.rfind("f_", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".txt";
}

TEST(TableSession, SaveCopyAndTheEndMenu) {
    TempDir dir;
    const std::string table = "a;b\r\n1;2\r\n3;4\r\n5;6\r\n";
    dir.write("t.csv", table);
    // Each save waits twice: for the export's results and for its own summary.
    RunResult r = run_program(dir.path(), from_main_menu("131\r9"
                                                         "9"
                                                         "2plain\r "  // copy under a plain name
                                                         "2\r "       // copy with no name
                                                         "1  "        // save
                                                         "81"         // end menu, back to editing
                                                         "1X\r\r9"    // row 2, column 1 becomes X
                                                         "9"
                                                         "8x"   // end menu, then an unlisted key
                                                         "1  "  // the save menu's "1": save
                                                         "89"));
    EXPECT_FALSE(r.input_ended);
    const std::string saved = "copy/save ========== t.csv   rows = 4 / 4 ==========";
    EXPECT_TRUE(screen_has(r, "copy/save ========== plain.csv   rows = 4 / 4 =========="));
    EXPECT_TRUE(
        screen_has(r, "copy/save ========== noname_05-22-2017_14_03_59.csv   rows = 4 / 4"));
    std::size_t first_save = r.screen.find(saved);
    ASSERT_NE(first_save, std::string::npos);
    std::size_t second_save = r.screen.find(saved, first_save + 1);
    ASSERT_NE(second_save, std::string::npos);
    // After the unlisted key the save menu waits without printing its block again.
    std::size_t end_menu = r.screen.rfind("<9>            end  program", second_save);
    ASSERT_NE(end_menu, std::string::npos);
    EXPECT_EQ(r.screen.substr(end_menu, second_save - end_menu).find("<1> or <Enter> save"),
              std::string::npos);
    // Back in the loop the open table is still t.csv (the copies do not change it), and
    // still of 4 rows (the export counts other things on the way).
    std::size_t header = r.screen.find("t.csv         ", first_save);
    ASSERT_NE(header, std::string::npos);
    std::string header_line = screen_lines(r.screen.substr(header)).front();
    EXPECT_EQ(header_line.substr(header_line.find("  rows")), "  rows =  4  columns =  2");

    for (auto name : {"plain.csv", "noname_05-22-2017_14_03_59.csv"})
        EXPECT_EQ(dir.read(name), table) << name;
    // The edit after the first save went into the working file that the save brought back.
    EXPECT_EQ(dir.read("t.csv"), "a;b\r\nX;2\r\n3;4\r\n5;6\r\n");
    EXPECT_EQ(dir.read("txt_in/f_15_1.txt"),
              "\"a\"\r\n\"b\"\r\n\"X\"\r\n\"2\"\r\n\"3\"\r\n\"4\"\r\n\"5\"\r\n\"6\"\r\n");
    // Copies write no HTML page: their names appear only as the two table files.
    int copy_files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        std::string name = entry.path().filename().string();
        if (name.find("plain") == std::string::npos && name.find("noname") == std::string::npos)
            continue;
        ++copy_files;
        EXPECT_EQ(entry.path().parent_path(), dir.path()) << name;
        EXPECT_EQ(entry.path().extension(), ".csv") << name;
    }
    EXPECT_EQ(copy_files, 2);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_FALSE(is_reserved_scratch(entry.path().filename().string()))
            << entry.path().filename();
    EXPECT_EQ(r.commands.back(), "for %i in (f_*.txt) do del /q %i > out_null.txt");
    EXPECT_EQ(screen_lines(r.screen).back(), "End");
}

TEST(TableSession, SaveThatCannotWriteLosesNothing) {
    TempDir dir;
    const std::string working = "\"a\"\r\n\"1\"\r\n";
    dir.write("f_15_1.txt", working);
    // A non-empty folder where the table file should go: no rename can replace it, also
    // for a user whom permissions do not stop.
    dir.write("t.csv/keep", "x");
    TestSession t(dir.path(),
                  "1x8"
                  "1");
    t.session.table_name = "t.csv";
    t.session.column_count = 1;
    t.session.size_arrays();
    t.run(save_menu);
    EXPECT_NE(t.screen().find("table (file) can not be written: t.csv"), std::string::npos);
    EXPECT_EQ(t.screen().find("copy/save"), std::string::npos);
    EXPECT_EQ(dir.read("f_15_1.txt"), working);
    EXPECT_EQ(t.session.edit_mode, EditMode::editing);
}

}  // namespace
}  // namespace rowkeep::testing
