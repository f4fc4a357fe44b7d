#include "html/html_export.h"

#include "html/code_page_check.h"
#include "html/index_pages.h"
#include "html/keyword_extraction.h"
#include "html/table_page.h"

namespace rowkeep {

void html_export(Session& s) {
    write_table_page(s);
    s.mark_step("table page");
    const IndexSettings settings = check_code_page(s);
    s.mark_step("code page check");
    number_and_scan_pages(s);
    s.mark_step("extraction");
    sort_and_number_words(s);
    write_index_pages(s, settings);
}

}  // namespace rowkeep
