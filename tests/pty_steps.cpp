#include "pty_steps.h"

#include <string>

namespace rowkeep::testing {

::testing::AssertionResult shows(PtyProgram& p, std::string_view text) {
    if (p.wait_for(text)) return ::testing::AssertionSuccess();
    std::string tail = p.plain().substr(p.plain().size() > 1500 ? p.plain().size() - 1500 : 0);
    return ::testing::AssertionFailure()
           << "no " << ::testing::PrintToString(std::string(text)) << "; the screen ended with:\n"
           << tail;
}

void reach_main_menu(PtyProgram& p) {
    ASSERT_TRUE(shows(p, "<2> no,  end"));
    p.type("1");
    ASSERT_TRUE(shows(p, "<2> end"));
    p.type("1");
    ASSERT_TRUE(shows(p, "<8> exit, end"));
    p.type("2");
    ASSERT_TRUE(shows(p, "<3> select, <8> exit"));
    p.type("3");
    ASSERT_TRUE(shows(p, "Windows code page = Windows-1250"));
    ASSERT_TRUE(shows(p, "<8> exit,  end"));
}

void reach_main_menu_in_utf8(PtyProgram& p) {
    ASSERT_TRUE(shows(p, "<2> no,  end"));
    p.type("1");
    ASSERT_TRUE(shows(p, "<2> end"));
    p.type("1");
    ASSERT_TRUE(shows(p, "<8> exit, end"));
    p.type("2" + std::string(10, ' '));
    ASSERT_TRUE(shows(p, "Unicode (UTF-8): all languages"));
    p.type("3");
    ASSERT_TRUE(shows(p, "Windows code page = Windows-65001"));
    ASSERT_TRUE(shows(p, "<8> exit,  end"));
}

void open_first_table(PtyProgram& p) {
    p.type("1");
    ASSERT_TRUE(shows(p, "<3> select  table"));
    p.type("3");
    ASSERT_TRUE(shows(p, "select table (row) = ? "));
    p.type("1\r");
    ASSERT_TRUE(shows(p, "<Enter>/<9>exit"));
}

}  // namespace rowkeep::testing
