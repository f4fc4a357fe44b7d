#include "html/html_export.h"

#include <optional>
#include <string>

#include "console/console.h"
#include "html/code_page_check.h"
#include "html/index_pages.h"
#include "html/keyword_extraction.h"
#include "html/table_page.h"
#include "html/word_records.h"
#include "viewer/spare_files.h"

namespace rowkeep {

namespace {

// True when nothing failed since `before`; else says which step failed and why.
bool step_ok(Session& s, long before, std::string_view step) {
    if (s.faults.failures() == before) return true;
    Console& c = s.console;
    c.print_newline();
    c.print_text("HTML export failed (" + std::string(step) + "): " + s.faults.last_cause());
    c.print_text("<> any key to continue");
    c.wait_any_key();
    return false;
}

// The export's own first files (the table page, the answer to chcp, the page listing,
// the clean copy, the word file and the trace), made ahead on a thread of their own while
// the main thread writes the table page: all are new, empty files.
constexpr std::size_t kOwnFilesAhead = 6;

class FreshSpares final : public NewFileSource {
  public:
    explicit FreshSpares(Session& s) : s_(s), spares_(s.dir) {
        spares_.make_ahead(kOwnFilesAhead);
        s_.files.use_new_files(this);
    }
    ~FreshSpares() { s_.files.use_new_files(nullptr); }
    FreshSpares(const FreshSpares&) = delete;
    FreshSpares& operator=(const FreshSpares&) = delete;
    // Only one ready now: a miss must not count as one the thread need not make.
    bool give(const fs::path& path) override { return spares_.ready() > 0 && spares_.give(path); }

  private:
    Session& s_;
    SpareFiles spares_;
};

}  // namespace

bool html_export(Session& s) {
    const long before = s.faults.failures();
    // Until the scan is done; what is left of them goes then.
    std::optional<FreshSpares> fresh;
    fresh.emplace(s);
    write_table_page(s);
    s.mark_step("table page");
    if (!step_ok(s, before, "table page")) return false;
    const IndexSettings settings = check_code_page(s);
    s.mark_step("code page check");
    if (!step_ok(s, before, "code page check")) return false;
    std::uint64_t records = 0;
    {
        // The sorts' files, made ahead while the pages are scanned; what is left of them goes
        // before the index pages are written.
        SpareFiles spares(s.dir);
        struct Lending {
            Session& s;
            ~Lending() { s.spares = nullptr; }
        } lending{s};
        s.spares = &spares;
        number_and_scan_pages(s);
        fresh.reset();
        s.mark_step("extraction");
        if (!step_ok(s, before, "keyword extraction")) return false;
        records = sort_and_number_words(s);
    }
    if (!step_ok(s, before, "word sort")) return false;
    write_index_pages(s, settings, records >= kWriteBehindRecords);
    if (!step_ok(s, before, "index pages")) return false;

    Console& c = s.console;
    c.print_newline();
    c.print_text("---------- HTML results ----------");
    c.print_text("View dir : htm_out");
    c.print_text("View file: index.htm");
    c.print_newline();
    c.print_text("Any key to continue, end program");
    c.wait_any_key();
    return true;
}

}  // namespace rowkeep
