// The index run's scratch files (the scan traces, every word file, the numbered and
// anchored pages) stay the same byte for byte while the run gets faster. They are gone
// when the export ends, so each case takes the folder's manifest (name, size, hash of
// every file) right after search.htm is written, and compares it with the reference
// checked in under tests/html/export_scratch/. Recapture, for a change meant to alter
// them, with
//   ROWKEEP_CAPTURE_REFERENCE=1 build/rowkeep_tests --gtest_filter='ExportScratch*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "console/replace_file.h"
#include "file_manifest.h"
#include "harness.h"
#include "html/index_pages.h"
#include "html/keyword_extraction.h"
#include "viewer/spare_files.h"

namespace rowkeep::testing {
namespace {

std::string word(Lcg& g) {
    static const std::string kLetters = "abcdefghijKLMNOPQRSTuvwxyz0123\xe1\xc8\x9a.,;";
    std::string w;
    for (int n = 1 + g.below(9); n > 0; --n)
        w += kLetters[static_cast<std::size_t>(g.below(static_cast<int>(kLetters.size())))];
    return w;
}

// A piece of a page line: words and blanks most often, then every kind of mark the
// scanner treats apart.
std::string piece(Lcg& g) {
    switch (g.below(24)) {
        case 0:
            return "<b>";
        case 1:
            return "</td>";
        case 2:
            return "<a href=\"x y\">";
        case 3:
            return "<img src=";  // often left open at the line's end
        case 4:
            return ">";
        case 5:
            return "\"" + word(g) + "\"";
        case 6:
            return "\"";
        case 7:
            return "it\"s";
        case 8:
            return "\t";
        case 9:
            return "\x01";
        case 10:
            return "  ";
        case 11:
            return "<td style=\"x\">";
        case 12:
            return "<";
        default:
            return g.below(2) ? " " : word(g);
    }
}

std::string line(Lcg& g, std::size_t length) {
    std::string text;
    while (text.size() < length) text += piece(g);
    return text;
}

// A page: short lines, blocks, a body line, lines of 28 and 29 words, lines past the
// length that gets shifted trace copies, and line ends of every kind.
std::string page(Lcg& g, int lines) {
    std::string text = "<html><head>\r\n<style>\r\np { x }\r\n</style>\r\n<BODY>\r\n";
    for (int i = 0; i < lines; ++i) {
        switch (g.below(40)) {
            case 0:
                text += "<script>\r\nvar a = 1;\r\n</script> lost";
                break;
            case 1:
                for (int w = 0; w < 28 + g.below(3); ++w) text += word(g) + " ";
                break;
            case 2:
                text += line(g, 2000 + static_cast<std::size_t>(g.below(3000)));
                break;
            case 3:
                text += "";
                break;
            default:
                text += line(g, static_cast<std::size_t>(g.below(90)));
        }
        const int end = g.below(10);
        text += end == 0 ? "\n" : end == 1 ? "\r" : "\r\n";
    }
    return text;
}

void compare_with_reference(const std::string& name, const std::vector<std::string>& lines) {
    rowkeep::testing::compare_with_reference(
        fs::path(ROWKEEP_SOURCE_DIR) / "tests/html/export_scratch" / (name + ".txt"), lines,
        "scratch files of " + name);
}

// The index run over the pages put into htm_in, the folder's manifest taken before the
// results are gathered (and the scratch files deleted), then once more at the end.
// With `spares`, the extraction and the sorts take their files from a set of spares, as
// the export runs them: the same manifest, and no spare left when the set is gone.
void check_index_run(const std::string& name, const std::vector<std::string>& pages,
                     const std::string& own_page = "", bool spares = false) {
    TempDir dir;
    // A page of the user's own in the folder, which the listing of pages takes in too.
    if (!own_page.empty()) dir.write(own_page, "<body>his own \"page\" words\r\nmore words\r\n");
    for (std::size_t k = 0; k < pages.size(); ++k)
        dir.write("htm_in/p" + std::to_string(k + 1) + ".htm", pages[k]);
    TestSession t(dir.path(), "x");
    std::vector<std::string> before_results;
    t.session.step_done = [&](std::string_view step) {
        if (step == "search.htm") before_results = folder_manifest(dir.path());
    };
    IndexSettings settings;
    settings.charset = "1250";
    t.run([&](Session& s) {
        {
            std::optional<SpareFiles> set;
            if (spares) s.spares = &set.emplace(s.dir);
            number_and_scan_pages(s);
            sort_and_number_words(s);
            s.spares = nullptr;
        }
        for (const auto& entry : fs::directory_iterator(s.dir))
            EXPECT_FALSE(is_temporary_name(entry.path().filename().string()))
                << "a spare left behind: " << entry.path().filename();
        write_index_pages(s, settings);
    });
    ASSERT_FALSE(before_results.empty());
    std::vector<std::string> all = before_results;
    all.push_back("-- after the results");
    for (const auto& line : folder_manifest(dir.path())) all.push_back(line);
    compare_with_reference(name, all);
}

TEST(ExportScratch, GeneratedPagesKeepEveryScratchFile) {
    for (std::uint64_t seed : {1, 2, 3}) {
        Lcg g(seed);
        std::vector<std::string> pages;
        for (int k = 0; k < 1 + g.below(4); ++k) pages.push_back(page(g, 60 + g.below(200)));
        check_index_run("pages_" + std::to_string(seed), pages);
    }
}

TEST(ExportScratch, FilesMadeAheadAndSharedKeepEveryScratchFile) {
    for (std::uint64_t seed : {1, 2, 3}) {
        Lcg g(seed);
        std::vector<std::string> pages;
        for (int k = 0; k < 1 + g.below(4); ++k) pages.push_back(page(g, 60 + g.below(200)));
        check_index_run("pages_" + std::to_string(seed), pages, "", true);
    }
    Lcg g(4);
    check_index_run("quoted_page_name", {page(g, 40), page(g, 30)}, "page_q\"x.htm", true);
}

TEST(ExportScratch, LongLinesAndAnElementAcrossPages) {
    Lcg g(9);
    std::string long_lines = "<body>\r\n";
    for (int i = 0; i < 5; ++i) long_lines += line(g, 2600) + "\r\n";  // the budget runs out
    long_lines += line(g, 300000) + " end <img\r\n";
    check_index_run("long_lines", {long_lines, "alt=\"a b\"> after all\r\nnext words\r\n"});
}

TEST(ExportScratch, PageNameWithAQuote) {
    Lcg g(4);
    check_index_run("quoted_page_name", {page(g, 40), page(g, 30)}, "page_q\"x.htm");
}

}  // namespace
}  // namespace rowkeep::testing
