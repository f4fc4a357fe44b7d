#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console/table_file.h"
#include "harness.h"
#include "table/save_copy.h"
#include "viewer/sort_engine.h"

namespace rowkeep::testing {
namespace {

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
