// The pages of a UTF-8 table (Windows-65001) in a real browser: headless Chromium reads
// them as UTF-8 and shows the letters as they were typed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

// Appended to a copy of a page: the character set the browser decoded it with.
constexpr std::string_view kProbe =
    "<script>var p = document.createElement('pre');"
    "p.textContent = 'charset:' + document.characterSet + ':end';"
    "document.body.appendChild(p);</script>\r\n";

std::string dump_dom(const fs::path& profile, const fs::path& page, const fs::path& output) {
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int null = open("/dev/null", O_WRONLY);
        if (out < 0 || null < 0) _exit(127);
        dup2(out, 1);
        dup2(null, 2);
        const std::string user_data = "--user-data-dir=" + profile.string();
        const std::string url = "file://" + page.string();
        execl("/usr/bin/timeout", "timeout", "60", kChromium, "--headless", "--no-sandbox",
              "--disable-gpu", "--no-first-run", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", user_data.c_str(), "--dump-dom",
              url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return "";
    std::ifstream in(output, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Utf8Browser, TablePageAndIndexPagesReadAsUtf8) {
    if (!fs::exists(kChromium))
        GTEST_SKIP() << "no browser to test with: " << kChromium << " is absent";
    TempDir dir;
    dir.write("komuni.csv",
              "Komune;Regione\r\n"
              "Agli\xC3\xA8;Piemonte\r\n"
              "Doberd\xC3\xB2;S\xC3\xBC"
              "dtirol \xE5\x8C\x97\xE4\xBA\xAC\r\n");
    // Windows-65001, open the table, save it with its pages.
    run_program(dir.path(), "112" + std::string(10, 'x') +
                                "3"
                                "131\r"
                                "9"
                                "9"
                                "1"
                                "x"
                                "x");
    const std::string page = dir.read("htm_in/file_komuni.htm");
    ASSERT_NE(page.find("charset=UTF-8\""), std::string::npos) << page;
    ASSERT_EQ(page.find("charset=Windows-65001"), std::string::npos);

    TempDir profile;
    dir.write("probe_table.htm", page + std::string(kProbe));
    std::string dom = dump_dom(profile.path() / "table", dir.path() / "probe_table.htm",
                               profile.path() / "table.dom");
    EXPECT_NE(dom.find("charset:UTF-8:end"), std::string::npos) << dom.substr(0, 2000);
    EXPECT_NE(dom.find("Agli\xC3\xA8"), std::string::npos) << dom.substr(0, 2000);
    EXPECT_NE(dom.find("S\xC3\xBC"
                       "dtirol \xE5\x8C\x97\xE4\xBA\xAC"),
              std::string::npos);

    const std::string search = dir.read("htm_out/search.htm");
    ASSERT_FALSE(search.empty());
    dir.write("htm_out/probe_search.htm", search + std::string(kProbe));
    dom = dump_dom(profile.path() / "search", dir.path() / "htm_out/probe_search.htm",
                   profile.path() / "search.dom");
    EXPECT_NE(dom.find("charset:UTF-8:end"), std::string::npos) << dom.substr(0, 2000);
}

}  // namespace
}  // namespace rowkeep::testing
