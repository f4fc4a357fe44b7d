// The pages of a UTF-8 table (Windows-65001) in a real browser: headless Chromium reads
// them as UTF-8 and shows the letters as they were typed.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

// Appended to a copy of a page: the character set the browser decoded it with.
constexpr std::string_view kProbe =
    "<script>var p = document.createElement('pre');"
    "p.textContent = 'charset:' + document.characterSet + ':end';"
    "document.body.appendChild(p);</script>\r\n";

// The DOM of a page file as the browser reads it.
std::string dump_dom(const fs::path& profile, const fs::path& page, const fs::path& output) {
    return browser_dom(profile, "file://" + page.string(), output);
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
