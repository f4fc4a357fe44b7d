// The keyword scanner: takes the words of a page's visible text line by line, outside
// elements, scripts and style sheets. Pure: fed lines, it hands out words and, to an
// optional sink, the trace lines of its scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/print_zones.h"

namespace rowkeep {

struct FoundWord {
    int position = 0;  // 1-based start in the line
    std::string text;  // lower case, quotes cleaned
    bool operator==(const FoundWord&) const = default;
};

// A word of the last line scanned; its text lives in the scanner until the next line.
struct WordAt {
    int position = 0;
    std::string_view text;
};

// Receives each piece of the trace with its ending, as a text file takes it.
using TraceSink = std::function<void(std::string_view text, Ending ending)>;

// Trace bytes gathered for the file. Sized without a fill: every byte handed over is
// written first, so a buffer costs only the pages the trace reaches.
struct TraceBuffer {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
};

// Takes the trace's bytes exactly as the trace file holds them, in large pieces.
class TraceFile {
  public:
    virtual void write(std::string_view bytes) = 0;
    // The first `used` bytes of the buffer; the file may keep the buffer and give back
    // another one in its place (of any size, or none: the scanner sizes it again).
    virtual void take(TraceBuffer& bytes, std::size_t used) { write({bytes.bytes.get(), used}); }

  protected:
    ~TraceFile() = default;
};

class KeywordScanner {
  public:
    // The words seen point into the scanner's own storage.
    KeywordScanner() = default;
    KeywordScanner(const KeywordScanner&) = delete;
    KeywordScanner& operator=(const KeywordScanner&) = delete;

    // A new page: line number, script and style flags cleared. An element left open at
    // the end of the previous page stays open.
    void start_page();
    // Scans the next line of the page (as read, without its line end).
    std::vector<FoundWord> scan_line(std::string_view line, const TraceSink& trace = {});
    // The same scan, the trace's bytes handed to the file (when given) by the end of the
    // line, the words left in words(): nothing is made anew for each piece or word.
    void scan(std::string_view line, TraceFile* trace);
    // The same, the trace's bytes kept in the scanner until a piece has gathered (handed
    // over at the first line end that fills it): finish_trace hands the rest to the file
    // (at the end of the page, before the file is closed). Many short lines then cost one
    // large write, not a write each.
    void scan_gathering(std::string_view line, TraceFile& trace);
    // Nearly a megabyte: with the room kept past it for the line that fills it, the
    // buffer stays below the size from which the program's allocator hands a freed block
    // back to the system, so that it comes from memory the program has touched before (a
    // fresh page costs more than its bytes).
    static constexpr std::size_t kTracePiece = (1 << 20) - (1 << 17);
    void finish_trace(TraceFile& trace);
    const std::vector<WordAt>& words() const { return *words_shown_; }

    int line_number() const { return line_number_; }
    bool element_continues() const { return element_continues_; }

  private:
    // A position of the walk: an element's start or end, a word gap, or the last one.
    struct Event {
        int position;
        unsigned char kind;
    };

    template <class Trace>
    void scan_with(std::string_view line, Trace& trace);
    // The flags a line's scan starts from (and leaves), one bit each.
    unsigned char flags() const;
    void set_flags(unsigned char bits);
    bool skip_block(std::string_view open, std::string_view close, bool& in_block,
                    bool& block_closed, bool bracket, bool style);
    template <class Trace>
    bool list_elements(Trace& trace);
    template <class Trace>
    void list_events(Trace& trace);
    template <class Trace>
    bool take_shifted_copies(const Trace& trace);
    // The walk's last element start and end and its last two gaps (0 for none).
    struct Marks {
        int last_open = 0, last_close = 0, previous_space = 0, current_space = 0;
    };

    template <class Trace>
    void walk(std::string_view line, Trace& trace, bool shifted);
    template <class Trace>
    void take_at_gap(const Marks& m, int i, Trace& trace);
    template <class Trace>
    void take_at_element(const Marks& m, int i, Trace& trace);
    template <class Trace>
    void take_at_last(const Marks& m, int i, Trace& trace);
    template <class Trace>
    void take(int first, int last, int at, Trace& trace);

    int line_number_ = 0;
    bool in_script_ = false, script_closed_ = false;
    bool in_style_ = false, style_closed_ = false;
    bool element_continues_ = false;
    // The run's bytes scanned and bytes of shifted line copies traced, over all pages.
    unsigned long long scanned_bytes_ = 0, shifted_bytes_ = 0;

    // The current line's work, kept for the next line: a page has many short lines.
    std::string lower_;
    std::vector<std::pair<int, int>> elements_;  // 1-based, inclusive
    std::vector<Event> events_;
    std::string word_bytes_;
    std::vector<std::pair<int, std::size_t>> word_ends_;  // position, end in word_bytes_
    std::vector<WordAt> words_;
    const std::vector<WordAt>* words_shown_ = &words_;  // words_, or a remembered line's
    TraceBuffer trace_bytes_;
    std::size_t trace_used_ = 0;  // bytes of trace_bytes_ not yet handed to the file

    // A short line met again in the same state (a table page repeats its element lines a
    // hundred thousand times) gives the same trace bytes, words and flags as the last
    // time: kept from a scan, copied instead of scanned again. A few slots, each taken
    // by a line seen twice in a row there, so that they stay in the cache and lines met
    // once cost no copy.
    // The hashes apart, in a small table of their own: most lines are met once, and
    // their look-up then stays in the cache that the trace's bytes stream through.
    struct SlotKey {
        std::uint64_t hash = 0, candidate = 0;  // the line's, and the last one that missed
    };
    struct Remembered {
        unsigned char flags_before = 0, flags_after = 0;
        bool asked_shifted = false;  // the scan got as far as the shifted copies
        std::string line, trace, word_bytes;
        std::vector<WordAt> words;  // within word_bytes
    };
    std::vector<SlotKey> keys_;
    std::vector<Remembered> remembered_;
    bool asked_shifted_ = false;
};

// The candidate clean-up: a leading double quote dropped (the start moves on), then a
// trailing one; the others become apostrophes. False when fewer than 2 characters remain.
bool clean_candidate(std::string& word, int& position);

}  // namespace rowkeep
