#include "html/code_page_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/shell.h"
#include "console/terminal.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// An interpreter on which chcp cannot be found: the report file is made by the
// redirection, but nothing (or only blanks) is written into it.
class NoChcpShell : public Shell {
  public:
    NoChcpShell(const fs::path& dir, Console& console, std::string report)
        : Shell(dir, console), dir_(dir), report_(std::move(report)) {}
    void run_command(std::string_view line) override {
        lines.emplace_back(line);
        if (line == "chcp < return.txt > check_01.txt") {
            write_file(dir_, "check_01.txt", report_);
            return;
        }
        Shell::run_command(line);
    }
    std::vector<std::string> lines;

  private:
    static void write_file(const fs::path& dir, const char* name, const std::string& bytes) {
        std::FILE* f = std::fopen((dir / name).c_str(), "wb");
        if (!f) return;
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    fs::path dir_;
    std::string report_;
};

// A session whose interpreter writes the given report for the code page query.
struct NoChcpRun {
    NoChcpRun(const fs::path& dir, std::string_view keys, const std::string& report)
        : t(dir, keys, [&](Console& c) {
              auto made = std::make_unique<NoChcpShell>(dir, c, report);
              shell = made.get();
              return made;
          }) {}
    bool run() { return t.run(check_code_page); }
    NoChcpShell* shell = nullptr;
    TestSession t;
};

TEST(CodePageCheck, UnreachableChcpEndsOnlyOnNine) {
    for (const std::string report : {"", "   \r\n\r\n"}) {
        TempDir dir;
        dir.write("f_15_1.txt", "\"a\"\r\n");
        dir.write("t.htm", "<p>page</p>\r\n");
        NoChcpRun r(dir.path(), "x1\r8a9", report);
        r.t.session.code_page = "Windows-1250";
        ASSERT_TRUE(r.run());
        EXPECT_FALSE(r.t.input_ended);  // "9" ended it, not the end of the keys
        EXPECT_EQ(r.t.screen(),
                  "checking chcp.com\r\n"
                  "Check availability chcp.com\r\n"
                  "Most likely it is necessary to updated the system path variable.\r\n"
                  "<9> continue and end\r\n");
        EXPECT_EQ(r.t.session.row_count, 0);
        EXPECT_EQ(dir.read("return.txt"), "\r\r\n");
        // Nothing switched, nothing deleted.
        EXPECT_EQ(r.shell->lines, (std::vector<std::string>{"chcp < return.txt > check_01.txt"}));
        EXPECT_TRUE(dir.exists("f_15_1.txt"));
        EXPECT_TRUE(dir.exists("t.htm"));
        EXPECT_EQ(r.t.session.code_page, "Windows-1250");
    }
    // Without a "9" the dialogue waits until the keys run out.
    TempDir dir;
    NoChcpRun r(dir.path(), "12345678", "");
    ASSERT_TRUE(r.run());
    EXPECT_TRUE(r.t.input_ended);
}

TEST(CodePageCheck, CodePagesCharsetsAndTheClearedFolder) {
    struct Case {
        std::string code_page, command, charset, kept;
    };
    for (const Case& c :
         std::vector<Case>{{"Windows-65001", "chcp 65001", "UTF-8", "Windows-65001"},
                           {"Windows-1252", "chcp 1252", "1252", "Windows-1252"},
                           {"", "chcp 65001", "UTF-8", "Windows-65001"}}) {
        TempDir dir;
        dir.write("f_15_1.txt", "\"a\"\r\n");
        dir.write("Page.HTM", "x");
        dir.write("T.htm", "the table page");
        dir.write("t.csv", "a\r\n");
        dir.write("htm_in/t.htm", "x");
        TestSession t(dir.path(), "");
        t.session.code_page = c.code_page;
        t.session.table_name = "t.csv";
        IndexSettings settings;
        ASSERT_FALSE(t.run([&](Session& s) { settings = check_code_page(s); }));
        EXPECT_EQ(settings.charset, c.charset);
        EXPECT_EQ(settings.highlight_colour, "red");
        EXPECT_EQ(settings.highlight_size, "120%");
        EXPECT_EQ(settings.show_navigation, 1);
        EXPECT_EQ(t.session.code_page, c.kept);
        EXPECT_EQ(t.session.row_count, 1);  // "Active code page: 1250."
        EXPECT_EQ(t.shell_owner->history(),
                  (std::vector<std::string>{"chcp < return.txt > check_01.txt", c.command}));
        EXPECT_EQ(t.terminal.code_page(), c.command == "chcp 65001" ? 65001 : 1252);
        EXPECT_FALSE(dir.exists("f_15_1.txt"));
        EXPECT_FALSE(dir.exists("check_01.txt"));
        // The program's files and the table's page go; a page of the user's own stays.
        EXPECT_FALSE(dir.exists("T.htm"));
        EXPECT_TRUE(dir.exists("Page.HTM"));
        EXPECT_TRUE(dir.exists("t.csv"));
        EXPECT_TRUE(dir.exists("htm_in/t.htm"));
    }
    EXPECT_EQ(code_page_number("Windows-1250"), "1250");
    EXPECT_EQ(code_page_number("Windows-"), "");
    EXPECT_EQ(charset_name("65001"), "UTF-8");
}

}  // namespace
}  // namespace rowkeep::testing
