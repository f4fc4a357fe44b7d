#include "html/index_pages.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "console/console.h"
#include "console/index.h"
#include "console/program_files.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/tokens.h"
#include "html/html_names.h"
#include "html/keyword_extraction.h"

namespace rowkeep {

namespace {

struct Occurrence {
    std::string page, word, id, occurrence;
    std::string number;  // the text of line or position, as read
    long long line = 0, position = 0;
};

bool read_occurrence(TextReader& in, Occurrence& r) {
    if (in.at_end()) return false;
    // Into the record's own strings: a word file has millions of values.
    in.read_value(r.page);
    in.read_value(r.number);
    r.line = std::atoll(r.number.c_str());
    in.read_value(r.number);
    r.position = position_value(r.number);
    in.read_value(r.word);
    in.read_value(r.id);
    in.read_value(r.occurrence);
    return true;
}

// Positions are 1-based; the piece from first to before end, clamped to the line.
std::string between(const std::string& line, long long first, long long end) {
    first = std::max(first, 1LL);
    if (first > static_cast<long long>(line.size()) || end <= first) return {};
    return line.substr(idx(first - 1), idx(end - first));
}

std::string from(const std::string& line, long long first) {
    return between(line, first, static_cast<long long>(line.size()) + 1);
}

void write_all(TextWriter& out, const std::vector<std::string>& lines) {
    for (const auto& l : lines) out.print_text(l);
}

void write_head(TextWriter& out, const IndexSettings& settings, std::string_view title) {
    write_all(out, {"<html>", "<br>", "<head>", "<br>",
                    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
                        settings.charset + "\">",
                    "<br>", std::string(title), "<br>", "</head>", "<br>", "<body>"});
}

// One page being rewritten with its anchors.
class AnchoredPage {
  public:
    AnchoredPage(Session& s, const IndexSettings& settings, const std::string& page)
        : s_(s), settings_(settings), page_(page) {
        std::size_t dot = page.find(".htm");
        target_ = page.substr(0, dot == std::string::npos ? page.size() : dot) + "_02.htm";
        in_.open(s.files, page);
        out_.open(s.files, target_);
    }

    void add(const Occurrence& r) {
        while (lines_read_ < r.line && !in_.at_end()) {
            // The text after the last word of a line left behind (closing tags, "<br>")
            // belongs to the page as much as the page's last line does.
            if (word_on_line_) out_.print_text(from(line_, end_));
            line_ = in_.read_line();
            ++lines_read_;
            word_on_line_ = false;
            if (!body_seen_ && opens_with_bracket(lower_az(line_), "body")) {
                body_seen_ = true;
                write_all(out_, highlighting_script(settings_));
            }
            if (lines_read_ < r.line) out_.print_text(line_);
        }
        out_.print_text(word_on_line_ ? between(line_, end_, r.position)
                                      : between(line_, 1, r.position));
        out_.print_text("<span id=\"" + r.id + "\">" + r.word + "</span>");
        if (settings_.show_navigation == 1) {
            long long n = std::atoll(r.occurrence.c_str());
            out_.print_text("<span hidden id=\"" + r.id + "\">");
            out_.print_text("(<a href=\"#" + r.id + "_" + plain_number(n + 1) + "\">&gt;</a>,");
            out_.print_text("<a href=\"index.htm#" + r.id + "\">i</a>,");
            out_.print_text("<a href=\"search.htm#" + r.id + "_" + r.occurrence +
                            "\">s</a>)</span>");
            out_.print_text("<span id=\"" + r.id + "_" + r.occurrence + "\"></span>");
        }
        // The end never moves back: a record out of order must not make the next gap
        // write the line's text a second time.
        const long long end = r.position + static_cast<long long>(r.word.size());
        end_ = word_on_line_ ? std::max(end_, end) : end;
        word_on_line_ = true;
    }

    void finish() {
        if (word_on_line_) out_.print_text(from(line_, end_));
        while (!in_.at_end()) out_.print_text(in_.read_line());
        in_.close();
        out_.close();
        s_.shell.run_command("copy " + command_name(target_) + "  " + command_name(page_));
    }

  private:
    Session& s_;
    const IndexSettings& settings_;
    std::string page_, target_, line_;
    TextReader in_;
    TextWriter out_;
    long long lines_read_ = 0, end_ = 0;
    bool word_on_line_ = false, body_seen_ = false;
};

}  // namespace

std::vector<std::string> highlighting_script(const IndexSettings& settings) {
    std::vector<std::string> lines = {
        "<script language=\"javascript\">",
        "if (history.length > 0)",
        "{",
        "document.writeln(\"<style type=\\\"text/css\\\">\");",
        "document.writeln(self.location.hash + \" { color: " + settings.highlight_colour +
            " } \");",
        "document.writeln(self.location.hash + \" { font-size: " + settings.highlight_size +
            " } \");",
        "document.writeln(self.location.hash + \" { font-weight: bold } \");"};
    if (settings.show_navigation == 1)
        lines.push_back("document.writeln(self.location.hash + \" { display: inline } \");");
    lines.insert(lines.end(), {"document.writeln(\"</style>\");", "}", "</script>"});
    return lines;
}

std::string search_query(std::string_view word_list, int words, std::size_t previous_length,
                         std::mt19937& random) {
    constexpr int kSlots = 28;
    if (words <= kSlots) return std::string(word_list);
    std::vector<std::string> slots(kSlots);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto length = static_cast<double>(previous_length);
    for (auto& slot : slots) {
        auto p = static_cast<std::size_t>(uniform(random) * length);
        if (p < 1) p = 1;
        std::size_t space = word_list.find(' ', p - 1);  // 1-based p
        if (space == std::string_view::npos || space + 1 > previous_length) continue;
        std::size_t next = word_list.find(' ', space + 1);
        if (next == std::string_view::npos) continue;
        slot = std::string(word_list.substr(space, next - space));
    }
    std::string query;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        bool repeated = std::find(slots.begin(), slots.begin() + static_cast<long>(i), slots[i]) !=
                        slots.begin() + static_cast<long>(i);
        if (!repeated) query += slots[i];
    }
    return query;
}

void write_anchored_pages(Session& s, const IndexSettings& settings) {
    TextReader in(s.files, "wrd_06.txt");
    std::unique_ptr<AnchoredPage> page;
    std::string current;
    Occurrence r;
    while (read_occurrence(in, r)) {
        if (!page || r.page != current) {
            if (page) page->finish();
            current = r.page;
            page = std::make_unique<AnchoredPage>(s, settings, r.page);
        }
        page->add(r);
    }
    if (page) page->finish();
}

void write_index_page(Session& s, const IndexSettings& settings) {
    TextWriter out(s.files, "index.htm");
    write_head(out, settings, "<title>index of key words</title>");
    out.print_text("<br> File was created with freeware program: " + s.program_file_name);
    out.print_text(maker_link_line());
    if (!s.sponsor_address.empty()) out.print_text(sponsor_line(s.sponsor_address));
    out.print_text("<br> <br> Date (mm-dd-yy) = 05-22-2017<br>");
    out.print_text("Time (h:m:s)    = " + s.clock.time_of_day() + "<br>");
    out.print_text("<br><br>");
    out.print_text("---------- List *.html files ----------");
    out.print_text("<br>");
    {
        TextReader in(s.files, "wrd_06.txt");
        Occurrence r;
        std::string current;
        bool any = false;
        while (read_occurrence(in, r)) {
            if (any && r.page == current) continue;
            any = true;
            current = r.page;
            out.print_text("<a href=\"" + r.page + "\">" + r.page + "</a><br>");
        }
    }
    out.print_text(std::string(39, '-'));
    out.print_text("<br><br>");

    // Groups of records with the same id and page; a group's line is written when the
    // next group starts, whose first occurrence number its search link takes.
    TextReader in(s.files, "wrd_04.txt");
    Occurrence r, first;
    long long count = 0;
    int groups_since_block = 0;
    bool open = false;
    auto close_group = [&](const Occurrence* next) {
        std::string entry = "<a href=\"" + first.page + "#" + first.id + "\" id=\"" + first.id +
                            "\">" + first.word + "</a>&nbsp;&nbsp;&nbsp; (" + first.page + ", " +
                            plain_number(count) + ")";
        if (next)
            entry += "&nbsp;&nbsp;<a href=\"search.htm#" + first.id + "_" + next->occurrence +
                     "\">search</a> <br>";
        else
            entry += "<br>";
        out.print_text(entry);
        if (next && next->id != first.id) out.print_text("<br>");
        if (++groups_since_block == 21) {
            groups_since_block = 0;
            out.print_text("---------- Ad ---------- <br>");
            out.print_text("Check supply stores. <br>");
            out.print_text("Create your own shopping guide. <br>");
            out.print_text("Download our program on your PC. <br>");
            out.print_text(maker_link_line().substr(5));
            if (!s.sponsor_address.empty()) out.print_text(sponsor_line(s.sponsor_address));
            out.print_text("<br> <br>");
        }
    };
    while (read_occurrence(in, r)) {
        if (open && r.id == first.id && r.page == first.page) {
            ++count;
            continue;
        }
        if (open) close_group(&r);
        first = r;
        count = 1;
        open = true;
    }
    if (open) close_group(nullptr);
    out.print_text("</body>");
    out.print_text("</html>");
}

void write_search_page(Session& s, const IndexSettings& settings) {
    TextWriter out(s.files, "search.htm");
    write_head(out, settings,
               "<title>search.htm, content (only words) from input *.htm files</title>");
    write_all(out, highlighting_script(settings));

    std::string line, word_list;
    std::size_t previous_length = 0;
    int words = 0;
    auto complete = [&]() {
        out.print_text(line + "<br>");
        out.print_text("<a href=\"index.htm\">index</a>");
        out.print_text("&nbsp <a href=\"" + std::string(kWebSearchAddress) +
                       search_query(word_list, words, previous_length, s.random) +
                       "\"> search</a>");
        out.print_text("<br><br>");
    };
    TextReader in(s.files, "wrd_06.txt");
    Occurrence r;
    long long current_line = 0;
    bool open = false;
    while (read_occurrence(in, r)) {
        if (open && r.line != current_line) {
            complete();
            open = false;
        }
        const std::string anchor = r.id + "_" + r.occurrence;
        const std::string link = "<a href=\"index.htm#" + r.id + "\">" + r.word + "</a>";
        if (!open) {
            line =
                "<span id=\"" + anchor + "\">" + r.word + " &nbsp </span>&nbsp " + link + "</span>";
            word_list.clear();
            words = 0;
            open = true;
            current_line = r.line;
        } else {
            line += " <span id=\"" + anchor + "\">" + link + "</span>";
        }
        previous_length = word_list.size();
        word_list += trim_blanks(r.word) + " ";
        ++words;
    }
    if (open) complete();
    out.print_text("</body>");
    out.print_text("</html>");
}

void gather_results(Session& s) {
    s.shell.run_command("md htm_out");
    // The pages of the last export go; whatever else the user keeps there stays.
    delete_program_files(s, "htm_out\\*.*");
    {
        TextReader listing(s.files, "dir_02.txt");
        while (!listing.at_end()) {
            std::string name = lower_az(listing.read_line());
            if (contains(name, ".htm"))
                s.shell.run_command("copy " + command_name(trim_blanks(name)) + " htm_out\\");
        }
    }
    s.shell.run_command("copy index.htm htm_out\\");
    s.shell.run_command("copy search.htm htm_out\\");
    delete_program_files(s, "*.htm");
    delete_program_files(s, "*.txt");
    s.shell.run_command("chcp 1252");
}

void write_index_pages(Session& s, const IndexSettings& settings) {
    write_anchored_pages(s, settings);
    s.mark_step("anchored pages");
    write_index_page(s, settings);
    s.mark_step("index.htm");
    write_search_page(s, settings);
    s.mark_step("search.htm");
    gather_results(s);
    s.mark_step("results");
}

}  // namespace rowkeep
