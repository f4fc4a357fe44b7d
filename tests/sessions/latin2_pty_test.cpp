// The real binary in a terminal whose locale is ISO-8859-2: a UTF-8 table under
// Windows-65001 shows its letters in the terminal's character set, and a letter typed in
// that set is stored in UTF-8.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "harness.h"
#include "pty_driver.h"
#include "pty_steps.h"

namespace rowkeep::testing {
namespace {

// A Czech locale in ISO-8859-2 made in the folder; false when it cannot be made here.
bool make_latin2_locale(const fs::path& folder) {
    const std::string command = "localedef -i cs_CZ -f ISO-8859-2 '" +
                                (folder / "cs_CZ.ISO-8859-2").string() + "' >/dev/null 2>&1";
    // localedef may report warnings with a non-zero status and still make the locale.
    [[maybe_unused]] const int status = std::system(command.c_str());
    return fs::exists(folder / "cs_CZ.ISO-8859-2" / "LC_CTYPE");
}

TEST(Latin2Pty, Utf8TableIsShownAndTypedInTheTerminalsCharacterSet) {
    TempDir locales;
    if (!make_latin2_locale(locales.path()))
        GTEST_SKIP() << "no cs_CZ.ISO-8859-2 locale could be made with localedef "
                        "(Debian package locales)";
    TempDir dir;
    // "jméno;město / Šťastný;Brno" in UTF-8.
    dir.write("t.csv",
              "jm\xC3\xA9no;m\xC4\x9Bsto\r\n\xC5\xA0\xC5\xA5"
              "astn\xC3\xBD;Brno\r\n");
    PtyProgram p(
        ROWKEEP_BINARY, dir.path(),
        {100, 30, {"LOCPATH=" + locales.path().string(), "LANG=cs_CZ.ISO-8859-2", "LC_ALL="}});
    ASSERT_TRUE(p.started());
    reach_main_menu_in_utf8(p);
    open_first_table(p);
    // The cells in ISO-8859-2, padded by letters: "Šťastný" is 7 of the 12 columns.
    EXPECT_NE(p.screen().find("      2|\xA9\xBB"
                              "astn\xFD     |Brno        |"),
              std::string::npos)
        << p.screen();

    // "č" typed as the terminal sends it (E8) goes into the working file in UTF-8.
    p.type("\r");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    p.type("1");
    ASSERT_TRUE(shows(p, "      = "));
    p.type("\xE8");
    ASSERT_TRUE(shows(p, "\xE8"));
    p.type("\r\r9");  // the next cell left empty, then exit
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    EXPECT_EQ(dir.read("f_15_1.txt"),
              "\"jm\xC3\xA9no\"\r\n\"m\xC4\x9Bsto\"\r\n\"\xC4\x8D\"\r\n\"Brno\"\r\n");
    p.close_terminal();
    p.wait_exit();
}

}  // namespace
}  // namespace rowkeep::testing
