// The two arguments a Linux user tries first print and end without touching the folder or
// waiting for keys; any other argument still starts the program as if there were none.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

struct Ran {
    std::string out;
    int status;
};

// The binary in dir with the arguments, its input the keys.
Ran run_binary(const fs::path& dir, const std::string& args, const std::string& keys) {
    std::string command = "cd '" + dir.string() + "' && printf '" + keys + "' | '" +
                          ROWKEEP_BINARY + "' " + args + " 2>&1";
    Ran r{"", -1};
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    r.status = pclose(p);
    return r;
}

bool empty_folder(const fs::path& dir) {
    return fs::directory_iterator(dir) == fs::directory_iterator();
}

TEST(CommandLine, HelpAndVersionPrintAndLeaveTheFolderAlone) {
    TempDir dir;
    // Keys that would end the program at once were it started: they must stay unread.
    Ran help = run_binary(dir.path(), "--help", "2");
    ASSERT_TRUE(WIFEXITED(help.status));
    EXPECT_EQ(WEXITSTATUS(help.status), 0);
    EXPECT_TRUE(help.out.starts_with("Usage: rowkeep [--help | --version]\n")) << help.out;
    for (const char* topic : {"current folder", "f_*.txt", "VISUAL", "LINES", "man rowkeep"})
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
    EXPECT_EQ(help.out.find("\x1b"), std::string::npos) << "no screen was drawn";

    Ran version = run_binary(dir.path(), "other --version", "2");
    ASSERT_TRUE(WIFEXITED(version.status));
    EXPECT_EQ(WEXITSTATUS(version.status), 0);
    EXPECT_TRUE(version.out.starts_with("rowkeep ")) << version.out;
    EXPECT_EQ(version.out.find('\n'), version.out.size() - 1) << "one line";
    EXPECT_TRUE(empty_folder(dir.path()));
}

TEST(CommandLine, OtherArgumentsAreIgnored) {
    TempDir dir;
    Ran r = run_binary(dir.path(), "-h extra", "2");  // "2" declines the terms: the end
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 0);
    EXPECT_NE(r.out.find("Do you accept the terms of use?"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Usage:"), std::string::npos);
}

}  // namespace
}  // namespace rowkeep::testing
