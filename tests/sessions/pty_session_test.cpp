// The real binary on a real (pseudo) terminal: raw mode and its restoring, escape keys,
// the echoed line entry, idle CPU and the code page conversion to a UTF-8 terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "harness.h"
#include "pty_driver.h"
#include "pty_steps.h"

namespace rowkeep::testing {
namespace {

bool raw_mode(const termios& t) {
    return (t.c_lflag & (ICANON | ECHO)) == 0;
}

// Types keys into the line entry and waits until the echoed line reads as expected.
::testing::AssertionResult typed(PtyProgram& p, std::string_view keys, std::string_view shown) {
    p.type(keys);
    if (p.wait_until([&] { return p.last_line() == shown; })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "typing " << ::testing::PrintToString(std::string(keys)) << " shows "
           << ::testing::PrintToString(p.last_line()) << ", not "
           << ::testing::PrintToString(std::string(shown));
}

std::string people_table() {
    std::string t = "name;city;n\r\nAnna;Brno;7\r\n";
    for (int i = 3; i <= 31; ++i) t += "p" + std::to_string(i) + ";c;" + std::to_string(i) + "\r\n";
    return t;
}

TEST(PtySession, WholeSessionWithEscapeKeysLineEditingInsertAndSave) {
    TempDir dir;
    dir.write("people.csv", people_table());
    // Wrong sizes in the environment: the terminal's own size must win.
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C", "COLUMNS=132", "LINES=50"}});
    ASSERT_TRUE(p.started());

    ASSERT_TRUE(shows(p, "Do you accept the terms of use?"));
    ASSERT_TRUE(shows(p, "<2> no,  end"));
    {
        auto t = p.settings();
        ASSERT_TRUE(t);
        EXPECT_TRUE(raw_mode(*t)) << "no echo and no line buffering while the program runs";
        EXPECT_TRUE(t->c_lflag & ISIG) << "Ctrl+C must still reach the program as a signal";
    }
    // Keys that are no menu choice, some of whose sequences hold the choice digits.
    p.type(std::string(kUp) + kPgDn + "\x1b[1;5C" + "\x1b[200~" + kDelete + "\x1b[21~");
    p.type("1");
    ASSERT_TRUE(shows(p, "<2> end"));
    EXPECT_EQ(p.since_mark().find("Do you accept"), std::string::npos);
    p.type("1");
    ASSERT_TRUE(shows(p, "<8> exit, end"));

    // Stepping through the code pages: an arrow is one key, and a lone Esc is one key.
    p.type("2");
    ASSERT_TRUE(shows(p, "Windows-1250"));
    ASSERT_TRUE(shows(p, "<3> select, <8> exit"));
    p.type(kDown);
    ASSERT_TRUE(shows(p, "Windows-1251"));
    ASSERT_TRUE(shows(p, "<3> select, <8> exit"));
    p.type("\x1b");
    ASSERT_TRUE(shows(p, "Windows-1252"));
    ASSERT_TRUE(shows(p, "<3> select, <8> exit"));
    p.type("8");
    ASSERT_TRUE(shows(p, "<8> exit, end"));
    EXPECT_EQ(p.plain().find("Windows-1253"), std::string::npos);
    p.type("2");
    ASSERT_TRUE(shows(p, "<3> select, <8> exit"));
    p.type("3");
    ASSERT_TRUE(shows(p, "Windows code page = Windows-1250"));
    ASSERT_TRUE(shows(p, "<8> exit,  end"));

    // The viewer: 80 x 25 from the terminal and a rule of 79; the second key line wraps
    // there, so the page gives up a row to keep its heading: 16 rows.
    ASSERT_NO_FATAL_FAILURE(open_first_table(p));
    {
        std::string page = p.screen();
        EXPECT_NE(page.find("\n      1|name        |city        |n           |\n"),
                  std::string::npos)
            << page;
        EXPECT_NE(page.find("\n     16|p16         |c           |          16|\n"),
                  std::string::npos);
        EXPECT_EQ(page.find("     17|"), std::string::npos);
        EXPECT_NE(page.find("\n" + std::string(79, '-') + "\n"), std::string::npos);
        EXPECT_EQ(page.find(std::string(80, '-')), std::string::npos);
        EXPECT_NE(page.find("table = people.csv" + std::string(10, ' ') +
                            "f_15_1.txt  rows =  31  columns =  3"),
                  std::string::npos);
    }
    // Other keys without a character only redraw: none of their bytes acts as "3", "5",
    // "6". (The arrows and the page keys move the viewer: pty_screen_test.)
    p.type(std::string(kHome) + kEnd + kDelete + "\x1b[1;5C" + "\x1b[99~" + "\x1bOQ" + "\x1b[15~");
    p.type("3");
    ASSERT_TRUE(shows(p, "move_up(2 -> 1)"));
    {
        std::string page = p.screen();
        EXPECT_NE(page.find("\n      2|Anna        |Brno        |           7|\n"),
                  std::string::npos)
            << page;
        EXPECT_NE(page.find("|C1(A) name  |C2(B) city  |C3(C) n     |"), std::string::npos);
    }
    p.type("+");
    ASSERT_TRUE(shows(p, "move_up(17 -> 16)"));
    EXPECT_NE(p.screen().find("\n     31|p31 "), std::string::npos);
    p.type("-");
    ASSERT_TRUE(shows(p, "move_up(2 -> 1)"));
    p.type("\r");
    ASSERT_TRUE(shows(p, "<1> or <Enter> edit top row ( 2)"));
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));

    // The row editor's line entry, key by key, checked on the echoed line.
    p.type("1");
    ASSERT_TRUE(shows(p, "      2|Anna        |Brno        |7           |"));
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = "; }));
    ASSERT_TRUE(typed(p, "cat", "      = cat"));
    ASSERT_TRUE(typed(p, std::string(kLeft) + kLeft + "X", "      = cXat"));
    ASSERT_TRUE(typed(p, std::string(kHome) + kDelete, "      = Xat"));
    ASSERT_TRUE(typed(p, std::string(kEnd) + "\x7f", "      = Xa"));
    ASSERT_TRUE(typed(p, std::string(kRight) + kDelete + "!", "      = Xa!"));  // no-ops at the end
    EXPECT_NE(p.raw().find('\a'), std::string::npos) << "Delete at the end of the line beeps";
    ASSERT_TRUE(typed(p, "\tT", "      = Xa!     T"));
    ASSERT_TRUE(typed(p, std::string(kHome) + kRight + "\b", "      = a!     T"));
    ASSERT_TRUE(typed(p, "\x1b", "      = "));  // Esc clears the line
    ASSERT_TRUE(typed(p, "Olga \x1b[D\x1b[D;x", "      = Olg;xa "));
    p.type("\r");
    ASSERT_TRUE(shows(p, "      2|Brno        |7           |"));
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = "; }));
    p.type("Praha\r");
    ASSERT_TRUE(shows(p, "      2|7           |"));
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = "; }));
    p.type("8\r");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));

    // Insert one row after row 2 and fill it in.
    p.type("2");
    ASSERT_TRUE(shows(p, "<8> exit"));
    p.type("1");
    ASSERT_TRUE(shows(p, "<Enter>/<9>exit"));
    p.type("9");
    ASSERT_TRUE(shows(p, "select row for insert (after slected row) = ? "));
    p.type("2\r");
    ASSERT_TRUE(shows(p, "number inserted rows                      = ? "));
    p.type("1\r");
    ASSERT_TRUE(shows(p, "rows =  32"));
    ASSERT_TRUE(shows(p, "<Enter>/<9>exit"));
    EXPECT_NE(p.screen().find("\n      3|            |            |            |\n"),
              std::string::npos)
        << p.screen();
    p.type("9");
    ASSERT_TRUE(shows(p, "<1> or <Enter> edit top row ( 2)"));
    p.type("5");
    ASSERT_TRUE(shows(p, "<Enter>/<9>exit"));
    p.type("9");
    ASSERT_TRUE(shows(p, "<1> or <Enter> edit top row ( 3)"));
    p.type("\r");
    ASSERT_TRUE(shows(p, "      3|            |"));
    p.type("New\r");
    ASSERT_TRUE(shows(p, "      3|            |            |"));
    p.type("Town\r");
    ASSERT_TRUE(shows(p, "      3|            |"));
    p.type("0\r");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));

    // Save, then end.
    p.type("9");
    ASSERT_TRUE(shows(p, "<1> or <Enter> save table (*.csv, *.htm)"));
    p.type("1");
    ASSERT_TRUE(shows(p, "copy/save ========== people.csv   rows = 32 / 32 =========="));
    ASSERT_TRUE(shows(p, "Any key to continue, end program"));
    p.type(kDown);  // an extended key is a key too
    ASSERT_TRUE(shows(p, "<> any key to continue"));
    p.type(kPgUp);
    ASSERT_TRUE(shows(p, "<8> exit"));
    p.type("8");
    ASSERT_TRUE(shows(p, "end  program"));
    p.type("9");
    ASSERT_TRUE(shows(p, "End"));
    auto status = p.wait_exit();
    ASSERT_TRUE(status) << "the program did not end";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    auto after = p.settings();
    ASSERT_TRUE(after);
    EXPECT_TRUE(same_line_discipline(*after, p.settings_at_start()));

    std::string expected = people_table();
    expected.replace(expected.find("Anna;Brno;7"), 11, "Olg,xa ;Praha;8\r\nNew;Town;0");
    EXPECT_EQ(dir.read("people.csv"), expected);
    EXPECT_FALSE(dir.exists("f_15_1.txt"));
}

// The last row of the modelled screen that starts with the text, or -1.
int row_starting(const PtyProgram& p, std::string_view text, int rows = 25) {
    for (int r = rows - 1; r >= 0; --r)
        if (p.model().row(r).starts_with(text)) return r;
    return -1;
}

TEST(PtySession, TypedLineLongerThanTheScreenLineWrapsAndEditsInPlace) {
    TempDir dir;
    dir.write("t.csv", "a;b\r\n1;2\r\n");
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C"}});
    ASSERT_TRUE(p.started());
    ASSERT_NO_FATAL_FAILURE(reach_main_menu(p));
    p.type("1");
    ASSERT_TRUE(shows(p, "<3> select  table"));
    p.type("3");
    const std::string prompt = "select table (row) = ? ";
    ASSERT_TRUE(shows(p, prompt));
    std::string text;
    for (int i = 0; i < 8; ++i) text += "abcdefghij";

    // 23 + 80 characters: 57 on the prompt's row, 23 on the next.
    p.type(text);
    int r = -1;
    auto rows_read = [&](const std::string& first, const std::string& second) {
        return p.wait_until([&] {
            r = row_starting(p, prompt);
            return r >= 0 && r + 1 < 25 && p.model().row(r) == first &&
                   p.model().row(r + 1) == second;
        });
    };
    ASSERT_TRUE(rows_read(prompt + text.substr(0, 57), text.substr(57))) << p.model().row(r) << "\n"
                                                                         << p.model().row(r + 1);

    // Home goes back onto the prompt's row; what is typed there pushes the rest on.
    p.type(std::string(kHome) + "X");
    ASSERT_TRUE(rows_read(prompt + "X" + text.substr(0, 56), text.substr(56)))
        << p.model().row(r) << "\n"
        << p.model().row(r + 1);
    EXPECT_EQ(p.model().cursor_row(), r);
    EXPECT_EQ(p.model().cursor_col(), 24);

    // Shorter again: the second row is wiped.
    p.type(kEnd);
    p.type(std::string(30, '\x7f'));
    ASSERT_TRUE(rows_read(prompt + "X" + text.substr(0, 50), "")) << p.model().row(r) << "\n"
                                                                  << p.model().row(r + 1);
    EXPECT_EQ(p.model().cursor_col(), 74);

    // Exactly to the right edge and one past it.
    p.type("\x1b");
    ASSERT_TRUE(rows_read(prompt, ""));
    p.type(text.substr(0, 57));
    ASSERT_TRUE(rows_read(prompt + text.substr(0, 57), ""));
    EXPECT_EQ(p.model().cursor_row(), r + 1);
    EXPECT_EQ(p.model().cursor_col(), 0);
    p.type(std::string(kLeft) + "Y");
    ASSERT_TRUE(rows_read(prompt + text.substr(0, 56) + "Y", "g"));

    // The line entered is what was typed: not a number, so no table is chosen.
    p.type("\r");
    ASSERT_TRUE(shows(p, "<3> select  table"));
    EXPECT_EQ(p.since_mark().find("rows ="), std::string::npos);
}

TEST(PtySession, IdleMenuSleepsAndCtrlCEndsWithTheTerminalRestored) {
    TempDir dir;
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C"}});
    ASSERT_TRUE(p.started());
    ASSERT_TRUE(shows(p, "<2> no,  end"));

    // A menu waiting for a key sleeps in the kernel: under 2 % of a core over 2 s.
    const long before = p.cpu_ticks();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long after = p.cpu_ticks();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_GE(before, 0);
    ASSERT_GE(after, 0);
    const double share =
        static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
    std::printf("idle menu: %ld ticks of CPU in %.2f s (%.2f %% of a core)\n", after - before,
                seconds, share * 100);
    EXPECT_LT(share, 0.02);

    // In raw mode Ctrl+C is still the interrupt: the program ends by it and puts the
    // terminal back as it found it.
    p.type("\x03");
    auto status = p.wait_exit();
    ASSERT_TRUE(status) << "Ctrl+C did not end the program";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGINT) << *status;
    auto t = p.settings();
    ASSERT_TRUE(t);
    EXPECT_TRUE(same_line_discipline(*t, p.settings_at_start()));
}

TEST(PtySession, StoppedAndContinuedTakesUpRawModeAgain) {
    TempDir dir;
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C"}});
    ASSERT_TRUE(p.started());
    ASSERT_TRUE(shows(p, "<2> no,  end"));
    auto in_raw_mode = [&] {
        auto t = p.settings();
        return t && raw_mode(*t);
    };

    // Stopped, the shell puts its own settings back; continued, the program must take
    // up raw mode again, or the next key would wait for a line end and be echoed.
    ASSERT_EQ(kill(p.pid(), SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(waitpid(p.pid(), &status, WUNTRACED), p.pid());
    ASSERT_TRUE(WIFSTOPPED(status));
    ASSERT_TRUE(p.set_settings(p.settings_at_start()));
    ASSERT_EQ(kill(p.pid(), SIGCONT), 0);
    ASSERT_TRUE(p.wait_until(in_raw_mode));
    p.type("1");
    ASSERT_TRUE(shows(p, "<2> end"));

    // Ctrl+Z where stopping is refused (this terminal's session has no job control):
    // the program goes on in raw mode.
    ASSERT_EQ(kill(p.pid(), SIGTSTP), 0);
    p.type("1");
    ASSERT_TRUE(shows(p, "<8> exit, end"));
    EXPECT_TRUE(in_raw_mode());

    p.type("8");
    ASSERT_TRUE(shows(p, "End"));
    auto ended = p.wait_exit();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0);
    EXPECT_TRUE(same_line_discipline(*p.settings(), p.settings_at_start()));
}

TEST(PtySession, ClosedTerminalEndsTheProgram) {
    TempDir dir;
    dir.write("t.csv", "a;b\r\n1;2\r\n");
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C"}});
    ASSERT_TRUE(p.started());
    ASSERT_NO_FATAL_FAILURE(reach_main_menu(p));
    ASSERT_NO_FATAL_FAILURE(open_first_table(p));
    p.close_terminal();
    auto status = p.wait_exit();
    ASSERT_TRUE(status) << "the program outlived its terminal";
    EXPECT_TRUE(WIFSIGNALED(*status) || WIFEXITED(*status));
    // Nothing was saved: the table is as it was.
    EXPECT_EQ(dir.read("t.csv"), "a;b\r\n1;2\r\n");
}

// Windows-1250 bytes of the table, and the same letters as the UTF-8 terminal shows them.
constexpr std::string_view kCentralTable =
    "jm\xE9no;m\xECsto\r\n"
    "\xF8"
    "eka;\x9A\xEDp\r\n"
    "\x9E"
    "ena;\xB3\xF3"
    "d\x9F\r\n"
    "\xF5r;x\r\n";

TEST(PtySession, Windows1250TableOnAUtf8Terminal) {
    TempDir dir;
    dir.write("cz.csv", kCentralTable);
    PtyProgram p(ROWKEEP_BINARY, dir.path(), {80, 25, {"LANG=C.UTF-8"}});
    ASSERT_TRUE(p.started());
    ASSERT_NO_FATAL_FAILURE(reach_main_menu(p));
    ASSERT_NO_FATAL_FAILURE(open_first_table(p));
    {
        std::string page = p.screen();
        EXPECT_NE(page.find("      1|jm\xC3\xA9no       |m\xC4\x9Bsto       |"), std::string::npos)
            << page;
        EXPECT_NE(page.find("      2|\xC5\x99"
                            "eka        |\xC5\xA1\xC3\xADp         |"),
                  std::string::npos);
        EXPECT_NE(page.find("      3|\xC5\xBE"
                            "ena        |\xC5\x82\xC3\xB3"
                            "d\xC5\xBA        |"),
                  std::string::npos);
        EXPECT_NE(page.find("      4|\xC5\x91r          |x           |"), std::string::npos);
    }
    p.type("\r");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    p.type("1");
    ASSERT_TRUE(
        p.wait_for("      2|\xC5\x99"
                   "eka        |\xC5\xA1\xC3\xADp         |"));
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = "; }));
    // Typed as UTF-8, edited by letters, stored in the code page; a letter the code page
    // lacks becomes "?".
    ASSERT_TRUE(typed(p, "\xC4\x8D\xC4\x84\xC5\xB1", "      = \xC4\x8D\xC4\x84\xC5\xB1"));
    ASSERT_TRUE(typed(p, std::string(kLeft) + "\xD0\xB6", "      = \xC4\x8D\xC4\x84?\xC5\xB1"));
    p.type("\r");
    ASSERT_TRUE(shows(p, "      2|\xC5\xA1\xC3\xADp         |"));
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = "; }));
    p.type("\xC5\x81\r");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    p.type("9");
    ASSERT_TRUE(shows(p, "<1> or <Enter> save table (*.csv, *.htm)"));
    p.type("1");
    ASSERT_TRUE(shows(p, "Any key to continue, end program"));
    p.type(" ");
    ASSERT_TRUE(shows(p, "<> any key to continue"));
    p.type(" ");
    ASSERT_TRUE(shows(p, "<8> exit"));
    std::string saved(kCentralTable);
    saved.replace(saved.find("\xF8"
                             "eka;\x9A\xEDp"),
                  8, "\xE8\xA5?\xFB;\xA3");
    EXPECT_EQ(dir.read("cz.csv"), saved);

    // Editing goes on after the save in the table's own code page: the export switched
    // the console's page for its run, and the letters must neither show nor go in as
    // those of another page.
    p.type("8");
    ASSERT_TRUE(shows(p, "end  program"));
    p.type("1");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    p.type("1");
    ASSERT_TRUE(shows(p, "      2|\xC4\x8D\xC4\x84?\xC5\xB1        |\xC5\x81           |"));
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = "; }));
    ASSERT_TRUE(typed(p, "\xC5\x99\xC5\xBE", "      = \xC5\x99\xC5\xBE"));
    p.type("\r");
    ASSERT_TRUE(shows(p, "      2|\xC5\x81           |"));
    ASSERT_TRUE(p.wait_until([&] { return p.last_line() == "      = "; }));
    p.type("\r");
    ASSERT_TRUE(shows(p, "<9> exit"));
    p.type("9");
    ASSERT_TRUE(shows(p, "<9> save/copy, exit, end"));
    p.type("9");
    ASSERT_TRUE(shows(p, "<1> or <Enter> save table (*.csv, *.htm)"));
    p.type("1");
    ASSERT_TRUE(shows(p, "Any key to continue, end program"));
    p.type(" ");
    ASSERT_TRUE(shows(p, "<> any key to continue"));
    p.type(" ");
    ASSERT_TRUE(shows(p, "<8> exit"));
    p.type("8");
    ASSERT_TRUE(shows(p, "end  program"));
    p.type("9");
    auto status = p.wait_exit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

    std::string expected(kCentralTable);
    expected.replace(expected.find("\xF8"
                                   "eka;\x9A\xEDp"),
                     8, "\xF8\x9E;\xA3");
    EXPECT_EQ(dir.read("cz.csv"), expected);
}

}  // namespace
}  // namespace rowkeep::testing
