// Tables named with Czech and Polish letters in a UTF-8 locale: created, listed, opened,
// saved and copied with their names in UTF-8 on the disk and in the code page on screen.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "pty_driver.h"
#include "pty_steps.h"

namespace rowkeep::testing {
namespace {

std::vector<std::string> tables_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".csv") names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileNamesSession, TableCreatedListedOpenedAndCopiedUnderWindows1250) {
    TempDir dir;
    Options utf8;
    utf8.locale_charset = "UTF-8";
    // "Wydatki Łódź" typed in Windows-1250, one column k; then opened from the list, left,
    // copied as "ceník kopie", saved, and the program ended.
    RunResult r = run_program(dir.path(),
                              from_main_menu("21Wydatki \xA3\xF3"
                                             "d\x9F\r1\rk\r8"
                                             "1131\r9"
                                             "92cen\xEDk kopie\r "
                                             "1  "
                                             "89"),
                              utf8);
    EXPECT_FALSE(r.input_ended);
    const std::string polish =
        "wydatki \xC5\x81\xC3\xB3"
        "d\xC5\xBA.csv";
    const std::string czech = "cen\xC3\xADk kopie.csv";
    EXPECT_EQ(tables_in(dir.path()), (std::vector<std::string>{czech, polish}));
    EXPECT_EQ(dir.read(polish), "k\r\n \r\n");
    EXPECT_EQ(dir.read(czech), "k\r\n \r\n");
    EXPECT_TRUE(screen_has(r,
                           "        1  wydatki \xA3\xF3"
                           "d\x9F.csv\r\n"));
    EXPECT_TRUE(screen_has(r, "copy/save ========== cen\xEDk kopie.csv   rows = 2 / 2"));
    // Saved with its pages: the table's own page is named in UTF-8 too, and no name
    // anywhere holds the code page's bytes.
    EXPECT_TRUE(fs::exists(dir.path() / "htm_in" /
                           "file_wydatki \xC5\x81\xC3\xB3"
                           "d\xC5\xBA.htm"));
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find_first_of("\xA3\xED\x9F"), std::string::npos)
            << entry.path();
}

TEST(FileNamesSession, ANameTheCodePageLacksListsWithAQuestionMarkAndStillOpens) {
    TempDir dir;
    const std::string spanish = "ce\xC3\xB1ik.csv";  // ñ: not in Windows-1250
    const std::string table = "a;b\r\n1;2\r\n3;4\r\n";
    dir.write(spanish, table);
    Options utf8;
    utf8.locale_charset = "UTF-8";
    // Opened from the list, then saved with its pages, then ended.
    RunResult r = run_program(dir.path(),
                              from_main_menu("1131\r9"
                                             "91  "
                                             "89"),
                              utf8);
    EXPECT_FALSE(r.input_ended);
    EXPECT_TRUE(screen_has(r, "        1  ce?ik.csv\r\n"));
    EXPECT_TRUE(screen_has(r, "ce?ik.csv     f_15_1.txt  rows =  3  columns =  2"));
    EXPECT_TRUE(screen_has(r, "copy/save ========== ce?ik.csv   rows = 3 / 3"));
    // Saved into its own file: no second table under the name with "?".
    EXPECT_EQ(dir.read(spanish), table);
    EXPECT_FALSE(dir.exists("ce?ik.csv"));
}

// The real binary in a UTF-8 pseudo-terminal: the names typed in UTF-8 reach the disk in
// UTF-8 (what `ls` shows), and the program lists them as typed.
TEST(FileNamesSession, RealTerminalCreatesAndCopiesTablesNamedInUtf8) {
    TempDir dir;
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {100, 30, {"LANG=C.UTF-8"}});
    ASSERT_TRUE(p.started());
    const std::string polish =
        "Wydatki \xC5\x81\xC3\xB3"
        "d\xC5\xBA";                                 // Wydatki Łódź
    const std::string czech = "cen\xC3\xADk kopie";  // ceník kopie
    reach_main_menu(p);
    p.type("21");
    ASSERT_TRUE(shows(p, "new table name (without .csv extension) = "));
    p.type(polish + "\r");
    ASSERT_TRUE(shows(p, "number of columns = "));
    p.type("1\rk\r8");
    ASSERT_TRUE(shows(p, "<8> exit,  end"));
    p.type("113");
    ASSERT_TRUE(shows(p,
                      "        1  wydatki \xC5\x81\xC3\xB3"
                      "d\xC5\xBA.csv"));
    ASSERT_TRUE(shows(p, "select table (row) = ? "));
    p.type("1\r");
    ASSERT_TRUE(shows(p, "<Enter>/<9>exit"));
    p.type("9");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    p.type("92");
    ASSERT_TRUE(shows(p, "destination table name (without extension) = "));
    p.type(czech + "\r");
    ASSERT_TRUE(shows(p, "copy/save ========== " + czech + ".csv   rows = 2 / 2"));
    p.type(" 89");
    auto status = p.wait_exit();
    ASSERT_TRUE(status) << p.plain();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    const std::string polish_file =
        "wydatki \xC5\x81\xC3\xB3"
        "d\xC5\xBA.csv";
    EXPECT_EQ(tables_in(dir.path()), (std::vector<std::string>{czech + ".csv", polish_file}));
    EXPECT_EQ(dir.read(czech + ".csv"), "k\r\n \r\n");

    // Started again, the list shows both names as they were typed.
    PtyProgram again(ROWKEEP_BINARY, dir.path(), {100, 30, {"LANG=C.UTF-8"}});
    ASSERT_TRUE(again.started());
    reach_main_menu(again);
    again.type("11");
    ASSERT_TRUE(shows(again, "        1  " + czech + ".csv\n        2  " + polish_file));
}

}  // namespace
}  // namespace rowkeep::testing
