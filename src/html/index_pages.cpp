#include "html/index_pages.h"

#include <algorithm>
#include <memory>

#include "console/console.h"
#include "console/index.h"
#include "console/program_files.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/tokens.h"
#include "html/html_names.h"
#include "html/keyword_extraction.h"
#include "html/word_records.h"

namespace rowkeep {

namespace {

// A record of wrd_04.txt or wrd_06.txt; its texts hold until the next record is read.
struct Occurrence {
    std::string_view page, word, id, occurrence;
    std::string_view plain_line;  // the record's line when it had the plain form, else empty
    long long line = 0, position = 0;
    std::string line_field;  // the line's number as the last record held it
};

// The line and position are read as numbers only for a reader that uses them.
bool read_occurrence(WordFileReader& in, Occurrence& r, bool numbers = true) {
    if (!in.read(6)) return false;
    r.page = in[0];
    if (numbers) {
        // Most records share their line with the one before.
        if (in[1] != r.line_field) {
            r.line = leading_number(in[1]);
            r.line_field.assign(in[1]);
        }
        r.position = position_value(in[2]);
    }
    r.word = in[3];
    r.id = in[4];
    r.occurrence = in[5];
    r.plain_line = in.plain_line();
    return true;
}

// Positions are 1-based; the piece from first to before end, clamped to the line.
std::string_view between(std::string_view line, long long first, long long end) {
    first = std::max(first, 1LL);
    if (first > static_cast<long long>(line.size()) || end <= first) return {};
    return line.substr(idx(first - 1), idx(end - first));
}

std::string_view from(std::string_view line, long long first) {
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
    // many: the records come from a file of about kWriteBehindRecords records or more.
    AnchoredPage(Session& s, const IndexSettings& settings, const std::string& page, bool many)
        : s_(s), settings_(settings), page_(page) {
        std::size_t dot = page.find(".htm");
        target_ = page.substr(0, dot == std::string::npos ? page.size() : dot) + "_02.htm";
        in_.open(s.files, page);
        out_.open(s.files, target_);
        write_behind_when(out_, many);
    }

    void add(const Occurrence& r) {
        copy_lines_before(r.line);
        const std::string_view before =
            word_on_line_ ? between(line_, end_, r.position) : between(line_, 1, r.position);
        if (settings_.show_navigation == 1)
            write_pieces(out_, before, "\r\n<span id=\"", r.id, "\">", r.word, "</span>\r\n",
                         // the navigation
                         "<span hidden id=\"", r.id, "\">\r\n(<a href=\"#", r.id, "_",
                         Digits(leading_number(r.occurrence) + 1), "\">&gt;</a>,\r\n",
                         "<a href=\"index.htm#", r.id, "\">i</a>,\r\n<a href=\"search.htm#", r.id,
                         "_", r.occurrence, "\">s</a>)</span>\r\n<span id=\"", r.id, "_",
                         r.occurrence, "\"></span>\r\n");
        else
            write_pieces(out_, before, "\r\n<span id=\"", r.id, "\">", r.word, "</span>\r\n");
        // The end never moves back: a record out of order must not make the next gap
        // write the line's text a second time.
        const long long end = r.position + static_cast<long long>(r.word.size());
        end_ = word_on_line_ ? std::max(end_, end) : end;
        word_on_line_ = true;
    }

    void finish() {
        if (word_on_line_) out_.print_text(from(line_, end_));
        copy_lines(in_, out_);
        in_.close();
        out_.close();
        // The anchored page is not written again before the results step deletes it.
        s_.shell.run_sharing_copy("copy " + command_name(target_) + "  " + command_name(page_));
    }

  private:
    // Reads on to the word's line, writing the lines before it whole.
    void copy_lines_before(long long line) {
        while (lines_read_ < line) {
            if (word_on_line_) {
                // The test for the end may read on over the line's bytes, whose rest the
                // words after the page's end still take: the line is held apart first.
                if (line_.data() != held_.data()) {
                    held_.assign(line_);
                    line_ = held_;
                }
                if (in_.at_end()) return;
                // The text after the last word of a line left behind (closing tags,
                // "<br>") belongs to the page as much as the page's last line does.
                out_.print_text(from(line_, end_));
                word_on_line_ = false;
            }
            // At the end of the page nothing is read over the line before, which stays.
            if (!in_.next_line(line_)) return;
            ++lines_read_;
            if (!body_seen_ && opens_body()) {
                body_seen_ = true;
                write_all(out_, highlighting_script(settings_));
            }
            if (lines_read_ < line) out_.print_text(line_);
        }
    }

    bool opens_body() {
        lower_.assign(line_);
        for (char& c : lower_)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return opens_with_bracket(lower_, "body");
    }

    Session& s_;
    const IndexSettings& settings_;
    std::string page_, target_, lower_, held_;
    // The line read last, where the reader holds it (valid until the next read), or held_.
    std::string_view line_;
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

namespace {

// The anchored pages, one after another as the records of wrd_06.txt name them.
class AnchoredPages {
  public:
    AnchoredPages(Session& s, const IndexSettings& settings, bool many = false)
        : s_(s), settings_(settings), many_(many) {}
    // True when the record starts a page.
    bool add(const Occurrence& r) {
        const bool starts = !page_ || r.page != current_;
        if (starts) {
            if (page_) page_->finish();
            current_.assign(r.page);
            page_ = std::make_unique<AnchoredPage>(s_, settings_, current_, many_);
        }
        page_->add(r);
        return starts;
    }
    void finish() {
        if (page_) page_->finish();
        page_.reset();
    }

  private:
    Session& s_;
    const IndexSettings& settings_;
    bool many_;
    std::unique_ptr<AnchoredPage> page_;
    std::string current_;
};

}  // namespace

void write_anchored_pages(Session& s, const IndexSettings& settings) {
    WordFileReader in(s.files, "wrd_06.txt");
    AnchoredPages pages(s, settings);
    for (Occurrence r; read_occurrence(in, r);) pages.add(r);
    pages.finish();
}

namespace {

void write_index_head(Session& s, TextWriter& out, const IndexSettings& settings) {
    write_head(out, settings, "<title>index of key words</title>");
    out.print_text("<br> File was created with freeware program: " + s.program_file_name);
    out.print_text(maker_link_line());
    if (!s.sponsor_address.empty()) out.print_text(sponsor_line(s.sponsor_address));
    out.print_text("<br> <br> Date (mm-dd-yy) = 05-22-2017<br>");
    out.print_text("Time (h:m:s)    = " + s.clock.time_of_day() + "<br>");
    out.print_text("<br><br>");
    out.print_text("---------- List *.html files ----------");
    out.print_text("<br>");
}

// index.htm's list of every page that has words, in the order of the records.
class PageList {
  public:
    explicit PageList(TextWriter& out) : out_(out) {}
    void add(const Occurrence& r) {
        if (any_ && r.page == current_) return;
        any_ = true;
        current_.assign(r.page);
        add_page(r.page);
    }
    // For a caller that already knows the page changed.
    void add_page(std::string_view page) {
        write_line(out_, "<a href=\"", page, "\">", page, "</a><br>");
    }
    void finish() {
        out_.print_text(std::string(39, '-'));
        out_.print_text("<br><br>");
    }

  private:
    TextWriter& out_;
    std::string current_;
    bool any_ = false;
};

// The word entries: one line for each group of records with the same id and page.
class WordEntries {
  public:
    WordEntries(Session& s, TextWriter& out)
        : out_(out),
          maker_line_(maker_link_line().substr(5)),
          sponsor_line_(s.sponsor_address.empty() ? std::string()
                                                  : sponsor_line(s.sponsor_address)) {}

    void add(const Occurrence& r) {
        if (open_ && r.id == id_ && r.page == page_) {
            ++count_;
            return;
        }
        if (open_) close_group(&r);
        hold(r);
        count_ = 1;
        open_ = true;
    }
    void finish() {
        if (open_) close_group(nullptr);
    }

  private:
    // Keeps the group's page, id and word past the records read after it: the record's
    // line in one copy where it lies whole, else the three one after another.
    void hold(const Occurrence& r) {
        const std::string_view from = r.plain_line;
        if (!from.empty()) {
            held_.assign(from);
        } else {
            held_.assign(r.page);
            held_.append(r.id);
            held_.append(r.word);
        }
        std::size_t at = 0;
        auto view = [&](std::string_view text) {
            if (!from.empty()) at = static_cast<std::size_t>(text.data() - from.data());
            const std::string_view held(held_.data() + at, text.size());
            at += text.size();
            return held;
        };
        page_ = view(r.page);
        id_ = view(r.id);
        word_ = view(r.word);
    }

    // A group's line is written when the next group starts, whose first occurrence
    // number its search link takes.
    void close_group(const Occurrence* next) {
        if (next)
            write_pieces(out_, "<a href=\"", page_, "#", id_, "\" id=\"", id_, "\">", word_,
                         "</a>&nbsp;&nbsp;&nbsp; (", page_, ", ", Digits(count_),
                         ")&nbsp;&nbsp;<a href=\"search.htm#", id_, "_", next->occurrence,
                         "\">search</a> <br>\r\n", next->id != id_ ? "<br>\r\n" : "");
        else
            write_pieces(out_, "<a href=\"", page_, "#", id_, "\" id=\"", id_, "\">", word_,
                         "</a>&nbsp;&nbsp;&nbsp; (", page_, ", ", Digits(count_), ")<br>\r\n");
        if (++groups_since_block_ == 21) {
            groups_since_block_ = 0;
            write_ad_block();
        }
    }
    void write_ad_block() {
        out_.print_text("---------- Ad ---------- <br>");
        out_.print_text("Check supply stores. <br>");
        out_.print_text("Create your own shopping guide. <br>");
        out_.print_text("Download our program on your PC. <br>");
        out_.print_text(maker_line_);
        if (!sponsor_line_.empty()) out_.print_text(sponsor_line_);
        out_.print_text("<br> <br>");
    }

    TextWriter& out_;
    // The ad block's lines, the same for every block.
    const std::string maker_line_, sponsor_line_;
    std::string held_;
    std::string_view page_, id_, word_;  // within held_
    long long count_ = 0;
    int groups_since_block_ = 0;
    bool open_ = false;
};

}  // namespace

namespace {

// index.htm's word entries, from wrd_04.txt, and its end.
void write_word_entries(Session& s, TextWriter& out) {
    WordFileReader in(s.files, "wrd_04.txt");
    read_ahead_when(in, in.many_records());
    WordEntries entries(s, out);
    for (Occurrence r; read_occurrence(in, r, false);) entries.add(r);
    entries.finish();
    out.print_text("</body>");
    out.print_text("</html>");
}

}  // namespace

void write_index_page(Session& s, const IndexSettings& settings) {
    TextWriter out(s.files, "index.htm");
    write_index_head(s, out, settings);
    {
        WordFileReader in(s.files, "wrd_06.txt");
        PageList list(out);
        for (Occurrence r; read_occurrence(in, r);) list.add(r);
        list.finish();
    }
    write_word_entries(s, out);
}

namespace {

// One line of search.htm for each source line with words: its words written as they
// come, its word list kept for the query.
class SearchLines {
  public:
    SearchLines(Session& s, TextWriter& out) : s_(s), out_(out) {}

    void add(const Occurrence& r) {
        if (open_ && r.line != line_) complete();
        if (!open_) {
            write_pieces("<span id=\"", r.id, "_", r.occurrence, "\">", r.word,
                         " &nbsp </span>&nbsp ");
            word_list_.clear();
            words_ = 0;
            open_ = true;
            line_ = r.line;
        } else {
            write_pieces(" <span id=\"", r.id, "_", r.occurrence, "\">");
        }
        write_pieces("<a href=\"index.htm#", r.id, "\">", r.word, "</a></span>");
        previous_length_ = word_list_.size();
        std::string_view word = r.word;
        while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
        while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
        word_list_.append(word);
        word_list_.push_back(' ');
        ++words_;
    }
    void finish() {
        if (open_) complete();
    }

  private:
    template <class... Pieces>
    void write_pieces(const Pieces&... pieces) {
        rowkeep::write_pieces(out_, pieces...);
    }
    void complete() {
        write_line(out_, "<br>");
        out_.print_text("<a href=\"index.htm\">index</a>");
        constexpr int kWholeList = 28;  // up to this many words the query is the list itself
        const std::string picked =
            words_ > kWholeList ? search_query(word_list_, words_, previous_length_, s_.random)
                                : std::string();
        write_line(out_, "&nbsp <a href=\"", kWebSearchAddress,
                   words_ > kWholeList ? std::string_view(picked) : std::string_view(word_list_),
                   "\"> search</a>");
        out_.print_text("<br><br>");
        open_ = false;
    }

    Session& s_;
    TextWriter& out_;
    std::string word_list_;
    std::size_t previous_length_ = 0;
    long long line_ = 0;
    int words_ = 0;
    bool open_ = false;
};

}  // namespace

namespace {

void write_search_head(TextWriter& out, const IndexSettings& settings) {
    write_head(out, settings,
               "<title>search.htm, content (only words) from input *.htm files</title>");
    write_all(out, highlighting_script(settings));
}

void write_search_end(TextWriter& out) {
    out.print_text("</body>");
    out.print_text("</html>");
}

}  // namespace

void write_search_page(Session& s, const IndexSettings& settings) {
    TextWriter out(s.files, "search.htm");
    write_search_head(out, settings);
    WordFileReader in(s.files, "wrd_06.txt");
    SearchLines lines(s, out);
    for (Occurrence r; read_occurrence(in, r);) lines.add(r);
    lines.finish();
    write_search_end(out);
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
                s.shell.run_sharing_copy("copy " + command_name(trim_blanks(name)) + " htm_out\\");
        }
    }
    // The pages copied here are deleted just below: htm_out's become their only names.
    s.shell.run_sharing_copy("copy index.htm htm_out\\");
    s.shell.run_sharing_copy("copy search.htm htm_out\\");
    delete_program_files(s, "*.htm");
    delete_program_files(s, "*.txt");
    s.shell.run_command("chcp 1252");
}

// The anchored pages, index.htm's list of pages and search.htm all read wrd_06.txt in
// order: one pass feeds them all.
void write_index_pages(Session& s, const IndexSettings& settings, bool many) {
    {
        TextWriter index(s.files, "index.htm");
        write_behind_when(index, many);
        write_index_head(s, index, settings);
        // search.htm stays open across the steps before it: at the end of each it stands as
        // it always did.
        TextWriter search(s.files, "search.htm");
        if (many) search.write_behind_in_steps();
        write_search_head(search, settings);
        AnchoredPages pages(s, settings, many);
        PageList list(index);
        SearchLines lines(s, search);
        WordFileReader in(s.files, "wrd_06.txt");
        read_ahead_when(in, many);
        for (Occurrence r; read_occurrence(in, r);) {
            if (pages.add(r)) list.add_page(r.page);
            lines.add(r);
        }
        pages.finish();
        search.step_end();
        s.mark_step("anchored pages");
        list.finish();
        write_word_entries(s, index);
        index.close();
        search.step_end();
        s.mark_step("index.htm");
        lines.finish();
        write_search_end(search);
        search.close();
        s.mark_step("search.htm");
    }
    gather_results(s);
    s.mark_step("results");
}

}  // namespace rowkeep
