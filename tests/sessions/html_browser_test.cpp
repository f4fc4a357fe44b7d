// The exported pages in a real browser: headless Chromium opens the search page and an
// anchored page at a word's anchor, and a small probe appended to a copy of each page
// writes the computed style of the named elements into the DOM it dumps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace rowkeep::testing {
namespace {

// For every element whose id is the address's anchor: hidden attribute, colour, weight,
// font size, the parent's font size, display; then how many hidden spans are displayed.
constexpr std::string_view kProbe = R"(<script>
(function () {
  var id = decodeURIComponent(location.hash.substring(1));
  var found = document.querySelectorAll('[id="' + id + '"]');
  var out = [];
  for (var i = 0; i < found.length; i++) {
    var e = found[i], cs = getComputedStyle(e), ps = getComputedStyle(e.parentNode);
    out.push([e.hidden ? 'hidden' : 'plain', cs.color, cs.fontWeight, cs.fontSize,
              ps.fontSize, cs.display].join('|'));
  }
  var shown = 0, blocks = document.querySelectorAll('span[hidden]');
  for (var j = 0; j < blocks.length; j++)
    if (getComputedStyle(blocks[j]).display != 'none') shown++;
  out.push('shown|' + shown);
  var pre = document.createElement('pre');
  pre.textContent = 'probe:' + out.join(';') + ':end';
  document.body.appendChild(pre);
})();
</script>
)";

struct Probed {
    std::string color, weight, display;
    double size = 0, parent_size = 0;
    bool hidden = false;
};

// The probe's report: one entry per element named, and the count of shown hidden spans.
std::vector<Probed> parse_probe(const std::string& dom, int& shown) {
    std::vector<Probed> found;
    shown = -1;
    const std::string lead = "<pre>probe:";
    std::size_t at = dom.find(lead);
    if (at == std::string::npos) return found;
    at += lead.size();
    const std::string report = dom.substr(at, dom.find(":end", at) - at);
    std::size_t start = 0;
    while (start <= report.size()) {
        std::size_t end = report.find(';', start);
        if (end == std::string::npos) end = report.size();
        std::vector<std::string> f;
        for (std::size_t p = start; p <= end;) {
            std::size_t bar = report.find('|', p);
            if (bar == std::string::npos || bar > end) bar = end;
            f.push_back(report.substr(p, bar - p));
            p = bar + 1;
        }
        if (f.size() == 2 && f[0] == "shown") shown = std::atoi(f[1].c_str());
        if (f.size() == 6)
            found.push_back({f[1], f[2], f[5], std::atof(f[3].c_str()), std::atof(f[4].c_str()),
                             f[0] == "hidden"});
        start = end + 1;
    }
    return found;
}

void expect_highlighted(const Probed& p, const std::string& where) {
    EXPECT_EQ(p.color, "rgb(255, 0, 0)") << where;
    EXPECT_EQ(p.weight, "700") << where;
    ASSERT_GT(p.parent_size, 0) << where;
    EXPECT_NEAR(p.size / p.parent_size, 1.2, 0.01) << where;
    EXPECT_EQ(p.display, "inline") << where;
}

// The id index.htm gives the word.
std::string id_of(const std::string& index, const std::string& word) {
    std::size_t at = index.find("\">" + word + "</a>");
    if (at == std::string::npos) return "";
    std::size_t id = index.rfind("id=\"", at);
    return index.substr(id + 4, at - id - 4);
}

TEST(HtmlBrowser, NamedWordIsHighlightedAndItsNavigationShown) {
    if (!fs::exists(kChromium))
        GTEST_SKIP() << "no browser to test with: " << kChromium << " is absent";
    TempDir dir;
    dir.write("shop.csv", "item;price;note\r\nbread;1,20;fresh daily\r\nmilk;0,90;fresh\r\n");
    RunResult r = run_program(dir.path(), std::string(kStartKeys) +
                                              "131\r"
                                              "9"
                                              "9"
                                              "1"
                                              "x"
                                              "x");
    const fs::path out = dir.path() / "htm_out";
    const std::string index = dir.read("htm_out/index.htm");
    const std::string bread = id_of(index, "bread"), fresh = id_of(index, "fresh");
    ASSERT_FALSE(bread.empty()) << index;
    ASSERT_FALSE(fresh.empty()) << index;

    dir.write("htm_out/probe_search.htm", dir.read("htm_out/search.htm") + std::string(kProbe));
    dir.write("htm_out/probe_page.htm", dir.read("htm_out/page_1.htm") + std::string(kProbe));
    TempDir profile;  // an empty, fresh browser profile for each run
    int shown = -1;

    // The search page at the word's first line.
    std::string dom =
        browser_dom(profile.path() / "search",
                    "file://" + (out / "probe_search.htm").string() + "#" + bread + "_1",
                    profile.path() / "search.dom");
    std::vector<Probed> found = parse_probe(dom, shown);
    ASSERT_EQ(found.size(), 1u) << dom.substr(0, 2000);
    expect_highlighted(found[0], "search.htm#" + bread + "_1");

    // The anchored page at a word found twice: both occurrences and both of their
    // navigation blocks are shown, and no other word's block.
    dom = browser_dom(profile.path() / "page",
                      "file://" + (out / "probe_page.htm").string() + "#" + fresh,
                      profile.path() / "page.dom");
    found = parse_probe(dom, shown);
    ASSERT_EQ(found.size(), 4u) << dom.substr(0, 2000);
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].hidden, i % 2 == 1);  // word span, then its navigation block
        expect_highlighted(found[i], "page_1.htm#" + fresh + " element " + std::to_string(i));
    }
    EXPECT_EQ(shown, 2);
}

}  // namespace
}  // namespace rowkeep::testing
