// The real ISTAT list of Italian municipalities (UTF-8 with a byte-order mark) opened
// under Windows-65001 in the real binary on a UTF-8 pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "harness.h"
#include "pty_driver.h"
#include "pty_steps.h"

namespace rowkeep::testing {
namespace {

TEST(Utf8Pty, RealItalianTableShowsItsLettersAndStoresTypedOnesInUtf8) {
    const fs::path source = realdata_dir() / "csv" / "it_istat_Elenco-comuni-italiani.csv";
    if (!fs::exists(source)) GTEST_SKIP() << realdata_absent(source);
    TempDir dir;
    fs::copy_file(source, dir.path() / "comuni.csv");
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {132, 40, {"LANG=C.UTF-8"}});
    ASSERT_TRUE(p.started());
    reach_main_menu_in_utf8(p);
    open_first_table(p);

    // Column 6 on: the name cells of row 4, padded by letters, not by bytes.
    p.type("11111");
    ASSERT_TRUE(shows(p, "      4|Agli\xC3\xA8       |Agli\xC3\xA8       |            |"));
    // Find shows whole cells.
    p.type("F");
    ASSERT_TRUE(shows(p, "find string = ? "));
    p.type("doberd\r");
    ASSERT_TRUE(shows(p, "Doberd\xC3\xB2 del Lago-Doberdob"));
    ASSERT_TRUE(shows(p, "<> any key to continue"));
    p.type(" ");
    ASSERT_TRUE(shows(p, "<Enter>/<9>exit"));
    p.type("F");
    ASSERT_TRUE(shows(p, "find string = ? "));
    p.type(
        "S\xC3\xBC"
        "dtirol\r");
    ASSERT_TRUE(shows(p,
                      " : 11   Trentino-Alto Adige/S\xC3\xBC"
                      "dtirol\n"));
    ASSERT_TRUE(shows(p, "<> any key to continue"));
    p.type(" ");
    ASSERT_TRUE(shows(p, "<Enter>/<9>exit"));

    // A typed letter goes into the working file as UTF-8.
    p.type("\r");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    p.type("1");
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = "; }));
    p.type("\xC4\x8D");
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = \xC4\x8D"; }));
    p.type("\r\r9");  // the next cell left empty, then exit
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    std::ifstream in(dir.path() / "f_15_1.txt", std::ios::binary);
    const std::string working{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(working.find("\r\n\"\xC4\x8D\"\r\n"), std::string::npos);
    p.close_terminal();
    p.wait_exit();
}

}  // namespace
}  // namespace rowkeep::testing
