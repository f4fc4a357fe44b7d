// Keys typed before the program has set up its terminal (while it starts, or while a build
// runs in front of it) are kept: entering raw mode must not discard them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <string>

#include "harness.h"
#include "pty_driver.h"

namespace rowkeep::testing {
namespace {

TEST(TypeAhead, KeysTypedBeforeRawModeReachTheFirstScreens) {
    TempDir dir;
    TempDir gate;
    // The program starts only once the keys are in the terminal's input queue, so they are
    // typed while the line discipline is still the shell's (canonical, echoing).
    const fs::path flag = gate.path() / "go";
    const fs::path starter = gate.path() / "start";
    {
        std::ofstream out(starter);
        out << "#!/bin/sh\nwhile [ ! -e '" << flag.string() << "' ]; do sleep 0.02; done\nexec '"
            << ROWKEEP_BINARY << "'\n";
    }
    ASSERT_EQ(chmod(starter.c_str(), 0755), 0);

    PtyProgram p(starter.string(), dir.path(), {80, 25, {"LANG=C"}});
    ASSERT_TRUE(p.started());
    p.type("11238");  // accept, continue, choose Windows-1250, end
    std::ofstream(flag).put('\n');

    std::optional<int> status = p.wait_exit();
    ASSERT_TRUE(status.has_value()) << "the keys typed ahead were lost; the screen shows:\n"
                                    << p.screen();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_NE(p.plain().find("Windows code page = Windows-1250"), std::string::npos);
}

}  // namespace
}  // namespace rowkeep::testing
