// How it works
//
// A line is first tested for the blocks that hide whole lines: from a line where
// "script" (or "style", unless the line holds "style=") follows a "<", up to and
// including the line where "/script" ("/style") follows a "<". Then the line's elements
// are listed as (start, end) pairs: "<" to the next ">", or to the end of the line when
// it does not close there, in which case the element continues on the next line (and on
// the next page) up to its first ">". Blanks outside the elements are the word gaps.
//
// The walk keeps the last element start and end and the last two gaps, and takes a
// candidate at each gap, each element start and the last position, from whichever of
// those marks lies nearest before it (the eight cases). Candidates shorter than two
// characters after the quote clean-up are dropped; punctuation stays in the word.
//
// Nothing happens between those positions, so the walk visits only them (the events);
// the trace's shifted copies of a line, one per position, are written up to each event
// before it. The trace goes to a sink piece by piece (for tests), or as bytes gathered
// in a buffer and handed to the trace file in large pieces.

#include "html/keyword_scanner.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "console/index.h"
#include "console/tokens.h"
#include "html/html_names.h"

namespace rowkeep {

namespace {

constexpr char kLineMark[] = "==================== line.03$ ====================";

// The shifted copies of a line cost about the square of its length. A line gets them
// only when it is at most kLongestShiftedLine long and the copies of the whole run stay
// within kShiftedFloor plus kShiftedPerByte times the bytes scanned: the trace grows with
// the pages, never with the square of a long cell or of many long ones.
constexpr int kLongestShiftedLine = 4096;
constexpr unsigned long long kShiftedFloor = 16ULL << 20;
constexpr unsigned long long kShiftedPerByte = 4;

// Lines remembered for a scan again: at most so long, with a trace at most so long, in
// so many slots.
constexpr std::size_t kLongestRemembered = 256;
constexpr std::size_t kLongestRememberedTrace = 16 << 10;
constexpr std::size_t kRememberedSlots = 1021;

// Kinds of an event; a one-character element is both start and end.
constexpr unsigned char kStart = 1, kEnd = 2, kGap = 4;

// No trace wanted: every piece dropped.
struct NoTrace {
    bool on() const { return false; }
    void line(std::string_view) {}
    void stay(std::string_view) {}
    void zone_number(long long) {}
    void value(std::string_view, long long) {}
    void shifted(std::string_view, int, int) {}
    void finish() {}
};

// Each piece to the sink with its ending.
struct SinkTrace {
    const TraceSink& sink;
    bool on() const { return static_cast<bool>(sink); }
    void line(std::string_view text) { sink(text, Ending::newline); }
    void stay(std::string_view text) { sink(text, Ending::stay); }
    void zone_number(long long n) { sink(number_text(n), Ending::zone); }
    void value(std::string_view label, long long n) {
        sink(label, Ending::stay);
        sink(number_text(n), Ending::newline);
    }
    void shifted(std::string_view line, int first, int last) {
        for (int i = first; i <= last; ++i) {
            std::string copy(idx(i - 1), ' ');
            copy.append(line.substr(idx(i - 1)));
            sink(copy, Ending::newline);
        }
    }
    void finish() {}
};

// The bytes a text file writes for the pieces (CR LF line ends, zones padded with
// blanks by the column), gathered in the scanner's storage and handed to the trace file
// when a megabyte is there and at the end of the scan; a piece of a megabyte or more
// goes to the file directly.
class BufferTrace {
  public:
    BufferTrace(TraceBuffer& storage, std::size_t& used, TraceFile& file)
        : storage_(storage), file_(file), used_(used) {
        ready();
    }
    bool on() const { return true; }
    void line(std::string_view text) {
        put(text);
        end_line();
    }
    // A line of the trace's own text: its length known here, copied without a call.
    template <std::size_t N>
    void line(const char (&text)[N]) {
        char* out = room(N + 1);
        std::memcpy(out, text, N - 1);
        std::memcpy(out + N - 1, "\r\n", 2);
        used_ += N + 1;
        column_ = 0;
        if (used_ >= kPiece) finish();
    }
    void stay(std::string_view text) {
        put(text);
        column_ = advance_column(column_, text);
    }
    void zone_number(long long n) {
        char digits[24];
        const std::string_view text = number(digits, n);
        put(text);
        column_ += static_cast<int>(text.size());  // digits: no line end among them
        const int pad = zone_padding(column_);
        static_assert(kZoneWidth == 14);
        std::memcpy(room(kZoneWidth), "              ", kZoneWidth);
        used_ += idx(pad);
        column_ += pad;
    }
    void value(std::string_view label, long long n) {
        char digits[24];
        put(label);  // the line ends after the number: no column to count
        line(number(digits, n));
    }
    // The copies for positions first to last, each the line with the characters before
    // that position blanked: each copy is the one before with one more blank.
    void shifted(std::string_view line, int first, int last) {
        const std::size_t width = line.size() + 2;
        while (first <= last) {
            const std::size_t fit = used_ < kPiece ? (kPiece - used_) / width : 0;
            const int count =
                std::min(last - first + 1, static_cast<int>(std::max<std::size_t>(fit, 1)));
            char* out = room(idx(count) * width);
            std::memset(out, ' ', idx(first - 1));
            std::memcpy(out + first - 1, line.data() + first - 1, line.size() - idx(first - 1));
            std::memcpy(out + line.size(), "\r\n", 2);
            for (int i = first + 1; i < first + count; ++i) {
                out += width;
                std::memcpy(out, out - width, width);
                out[i - 2] = ' ';
            }
            used_ += idx(count) * width;
            first += count;
            column_ = 0;
            if (used_ >= kPiece) finish();
        }
    }
    void finish() {
        if (used_ > 0) {
            file_.take(storage_, used_);
            handed_ = true;
            used_ = 0;
            ready();
        }
    }
    // Trace lines as pieces wrote them before: handed to the file at the first line end
    // that fills a piece, where the pieces themselves would have been.
    void replay(std::string_view lines) {
        while (!lines.empty()) {
            std::size_t take = lines.size();
            if (used_ + take >= kPiece) {
                const std::size_t from = used_ < kPiece ? kPiece - used_ - 1 : 0;
                const void* end = std::memchr(lines.data() + from, '\n', lines.size() - from);
                if (end) take = idx(static_cast<const char*>(end) - lines.data()) + 1;
            }
            std::memcpy(room(take), lines.data(), take);
            used_ += take;
            lines.remove_prefix(take);
            if (used_ >= kPiece) finish();
        }
    }
    // True when bytes went to the file since this trace began.
    bool handed() const { return handed_; }

  private:
    static constexpr std::size_t kPiece = KeywordScanner::kTracePiece;
    // Room past a piece for the rest of the line that fills it; a longer one grows the
    // buffer.
    static constexpr std::size_t kPastPiece = 1 << 16;

    // As number_text: a blank before a number that is not negative.
    static std::string_view number(char (&digits)[24], long long n) {
        char* first = digits;
        if (n >= 0) *first++ = ' ';
        char* last = std::to_chars(first, digits + sizeof digits, n).ptr;
        return {digits, idx(last - digits)};
    }
    void ready() {
        if (storage_.size < kPiece + kPastPiece) resize(kPiece + kPastPiece);
        data_ = storage_.bytes.get();
    }
    char* room(std::size_t bytes) {
        if (storage_.size - used_ < bytes) [[unlikely]]
            grow(bytes);
        return data_ + used_;
    }
    [[gnu::noinline]] void grow(std::size_t bytes) {
        resize(std::max(2 * storage_.size, used_ + bytes));
    }
    // The bytes gathered kept.
    void resize(std::size_t size) {
        auto larger = std::make_unique_for_overwrite<char[]>(size);
        if (used_ > 0) std::memcpy(larger.get(), storage_.bytes.get(), used_);
        storage_.bytes = std::move(larger);
        storage_.size = size;
        data_ = storage_.bytes.get();
    }
    void put(std::string_view text) {
        if (text.size() >= kPiece) {
            finish();
            file_.write(text);
            handed_ = true;
            return;
        }
        if (!text.empty()) std::memcpy(room(text.size()), text.data(), text.size());
        used_ += text.size();
    }
    void end_line() {
        std::memcpy(room(2), "\r\n", 2);
        used_ += 2;
        column_ = 0;
        if (used_ >= kPiece) finish();
    }

    TraceBuffer& storage_;
    TraceFile& file_;
    char* data_ = nullptr;
    std::size_t& used_;
    int column_ = 0;  // every line of the trace ends within the scan of its page line
    bool handed_ = false;
};

// The slot's pick for a line and its flags, eight bytes a step: the line itself is
// compared before the slot is used.
std::uint64_t line_hash(unsigned char flags, std::string_view line) {
    std::uint64_t hash = 14695981039346656037ULL ^ flags;
    std::size_t at = 0;
    for (; at + 8 <= line.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, line.data() + at, 8);
        hash = (hash ^ word) * 1099511628211ULL;
        hash ^= hash >> 29;
    }
    std::uint64_t tail = line.size();
    for (; at < line.size(); ++at) tail = tail << 8 | static_cast<unsigned char>(line[at]);
    hash = (hash ^ tail) * 1099511628211ULL;
    return hash ^ (hash >> 29);
}

// The 0-based position of the first `c` in text[from, to), or `to`.
std::size_t find_in(std::string_view text, char c, std::size_t from, std::size_t to) {
    if (from >= to) return to;
    const void* at = std::memchr(text.data() + from, c, to - from);
    return at ? idx(static_cast<const char*>(at) - text.data()) : to;
}

}  // namespace

bool clean_candidate(std::string& word, int& position) {
    if (!word.empty() && word.front() == '"') {
        word.erase(0, 1);
        ++position;
        if (!word.empty() && word.back() == '"') word.pop_back();
    }
    word = replace_char(word, '"', '\'');
    return word.size() >= 2;
}

void KeywordScanner::start_page() {
    line_number_ = 0;
    in_script_ = script_closed_ = false;
    in_style_ = style_closed_ = false;
}

std::vector<FoundWord> KeywordScanner::scan_line(std::string_view line, const TraceSink& trace) {
    if (trace) {
        SinkTrace sink{trace};
        scan_with(line, sink);
    } else {
        NoTrace none;
        scan_with(line, none);
    }
    std::vector<FoundWord> found;
    found.reserve(words_.size());
    for (const WordAt& w : words_) found.push_back({w.position, std::string(w.text)});
    return found;
}

void KeywordScanner::scan(std::string_view line, TraceFile* trace) {
    if (trace) {
        scan_gathering(line, *trace);
        finish_trace(*trace);
    } else {
        NoTrace none;
        scan_with(line, none);
    }
}

unsigned char KeywordScanner::flags() const {
    return static_cast<unsigned char>(in_script_ | script_closed_ << 1 | in_style_ << 2 |
                                      style_closed_ << 3 | element_continues_ << 4);
}

void KeywordScanner::set_flags(unsigned char bits) {
    in_script_ = bits & 1;
    script_closed_ = bits & 2;
    in_style_ = bits & 4;
    style_closed_ = bits & 8;
    element_continues_ = bits & 16;
}

void KeywordScanner::scan_gathering(std::string_view line, TraceFile& trace) {
    BufferTrace bytes(trace_bytes_, trace_used_, trace);
    // A line's trace holds a line end only where one of its own lines ends, and stays far
    // below a piece of the file: the remembered bytes can be replayed piece by piece.
    if (line.size() > kLongestRemembered || line.find('\n') != std::string_view::npos) {
        scan_with(line, bytes);
        return;
    }
    // Whether the shifted copies would fit, as take_shifted_copies will find it.
    const auto length = static_cast<unsigned long long>(line.size());
    const unsigned long long cost = length * (length + 2);
    const bool shifted_fit =
        shifted_bytes_ + cost <= kShiftedFloor + kShiftedPerByte * (scanned_bytes_ + length + 2);
    const unsigned char before = static_cast<unsigned char>(flags() | shifted_fit << 5);
    const std::uint64_t hash = line_hash(before, line);
    if (keys_.empty()) {
        keys_.resize(kRememberedSlots);
        remembered_.resize(kRememberedSlots);
    }
    const std::size_t at = hash % kRememberedSlots;
    SlotKey& key = keys_[at];
    if (key.hash == hash) {
        const Remembered& slot = remembered_[at];
        if (slot.flags_before == before && slot.line == line) {
            scanned_bytes_ += length + 2;
            ++line_number_;
            if (slot.asked_shifted && shifted_fit) shifted_bytes_ += cost;
            set_flags(slot.flags_after);
            bytes.replay(slot.trace);
            words_shown_ = &slot.words;
            return;
        }
    }
    const std::size_t start = trace_used_;
    asked_shifted_ = false;
    scan_with(line, bytes);
    const std::size_t size = trace_used_ - start;
    if (key.candidate != hash) {
        key.candidate = hash;
        return;
    }
    if (bytes.handed() || size > kLongestRememberedTrace) return;
    Remembered& slot = remembered_[at];
    key.hash = hash;
    slot.flags_before = before;
    slot.flags_after = flags();
    slot.asked_shifted = asked_shifted_;
    slot.line.assign(line);
    slot.trace.assign(trace_bytes_.bytes.get() + start, size);
    slot.word_bytes = word_bytes_;
    slot.words.clear();
    for (const WordAt& w : words_)
        slot.words.push_back(
            {w.position, std::string_view(slot.word_bytes)
                             .substr(idx(w.text.data() - word_bytes_.data()), w.text.size())});
}

void KeywordScanner::finish_trace(TraceFile& trace) {
    BufferTrace(trace_bytes_, trace_used_, trace).finish();
}

template <class Trace>
void KeywordScanner::scan_with(std::string_view line, Trace& trace) {
    word_bytes_.clear();
    word_ends_.clear();
    words_.clear();
    words_shown_ = &words_;
    scanned_bytes_ += line.size() + 2;
    lower_.assign(line);
    for (char& c : lower_)  // without a branch, so that the compiler takes many at a time
        c = static_cast<char>(c + ((static_cast<unsigned char>(c - 'A') < 26) << 5));
    trace.line(kLineMark);
    trace.line(lower_);
    ++line_number_;

    // Without a "<" no block opens or closes on the line.
    const bool bracket = lower_.find('<') != std::string::npos;
    if (skip_block("script", "/script", in_script_, script_closed_, bracket, false)) return;
    if (skip_block("style", "/style", in_style_, style_closed_, bracket, true)) return;
    if (!list_elements(trace)) return;
    list_events(trace);
    const bool shifted = take_shifted_copies(trace);
    trace.line("========== iscemo besede ==========");
    trace.line(line);
    walk(line, trace, shifted);

    words_.reserve(word_ends_.size());
    std::size_t start = 0;
    for (auto [position, end] : word_ends_) {
        words_.push_back({position, std::string_view(word_bytes_).substr(start, end - start)});
        start = end;
    }
}

// A style block does not open on a line that holds "style=".
bool KeywordScanner::skip_block(std::string_view open, std::string_view close, bool& in_block,
                                bool& block_closed, bool bracket, bool style) {
    if (!in_block && !block_closed && bracket && !(style && contains(lower_, "style=")) &&
        opens_with_bracket(lower_, open))
        in_block = true;
    if (in_block && !block_closed && bracket && opens_with_bracket(lower_, close))
        block_closed = true;
    if (in_block && !block_closed) return true;
    if (in_block && block_closed) {
        in_block = block_closed = false;
        return true;
    }
    return false;
}

// The elements, "<" to ">" (or to the end of the line, where one stays open). False when
// the line lies wholly within an element that goes on from the line before.
template <class Trace>
bool KeywordScanner::list_elements(Trace& trace) {
    trace.line("---------- line.03$, HTML elementi ----------");
    const std::string_view lower = lower_;
    const int length = static_cast<int>(lower.size());
    const std::size_t first_close = lower.find('>');
    if (element_continues_ && first_close == std::string_view::npos) return false;

    elements_.clear();
    std::size_t from = 0;  // 0-based index where the search for the next "<" starts
    if (element_continues_) {
        elements_.emplace_back(1, static_cast<int>(first_close) + 1);
        element_continues_ = false;
        from = first_close + 1;
    }
    for (;;) {
        const std::size_t open = find_in(lower, '<', from, lower.size());
        if (open == lower.size()) break;
        const std::size_t close = find_in(lower, '>', open + 1, lower.size());
        if (close == lower.size()) {
            elements_.emplace_back(static_cast<int>(open) + 1, length);
            element_continues_ = true;
            break;
        }
        elements_.emplace_back(static_cast<int>(open) + 1, static_cast<int>(close) + 1);
        from = close + 1;
    }
    return !(element_continues_ && elements_.size() == 1 && elements_[0] == std::pair(1, length));
}

// The walk's events in order of position, and the trace of every blank: a word gap
// outside the elements, or a blank within one (its start and end included).
template <class Trace>
void KeywordScanner::list_events(Trace& trace) {
    trace.line("---------- imamo HTML elemente ----------");
    const std::string_view lower = lower_;
    events_.clear();
    int gaps = 0;
    auto gaps_before = [&](std::size_t from, std::size_t to) {  // 0-based [from, to)
        for (std::size_t at = find_in(lower, ' ', from, to); at < to;
             at = find_in(lower, ' ', at + 1, to)) {
            events_.push_back({static_cast<int>(at) + 1, kGap});
            trace.value("space count = ", ++gaps);
        }
    };
    std::size_t from = 0;
    for (auto [start, end] : elements_) {
        gaps_before(from, idx(start - 1));
        if (start == end) {
            events_.push_back({start, kStart | kEnd});
        } else {
            events_.push_back({start, kStart});
            events_.push_back({end, kEnd});
        }
        if (trace.on())
            for (std::size_t at = find_in(lower, ' ', idx(start - 1), idx(end)); at < idx(end);
                 at = find_in(lower, ' ', at + 1, idx(end)))
                trace.line("space.pos je v HTML elementu, continue do");
        from = idx(end);
    }
    gaps_before(from, lower.size());
    // The last position is never within an element: an element ends there at the latest.
    const int length = static_cast<int>(lower.size());
    if (length > 0 && (events_.empty() || events_.back().position != length))
        events_.push_back({length, 0});
}

template <class Trace>
bool KeywordScanner::take_shifted_copies(const Trace& trace) {
    asked_shifted_ = true;
    const auto length = static_cast<int>(lower_.size());
    if (!trace.on() || length > kLongestShiftedLine) return false;
    const auto cost = static_cast<unsigned long long>(length) * (idx(length) + 2ULL);
    if (shifted_bytes_ + cost > kShiftedFloor + kShiftedPerByte * scanned_bytes_) return false;
    shifted_bytes_ += cost;
    return true;
}

template <class Trace>
void KeywordScanner::walk(std::string_view line, Trace& trace, bool shifted) {
    const int length = static_cast<int>(lower_.size());
    Marks m;
    int copied = 0;  // positions whose shifted copy is written
    for (const Event& event : events_) {
        const int i = event.position;
        if (shifted && copied < i) {
            trace.shifted(line, copied + 1, i);
            copied = i;
        }
        const bool space = event.kind & kGap;
        if (event.kind & kStart) m.last_open = i;
        if (event.kind & kEnd) m.last_close = i;
        if (space) m.current_space = i;
        if (space) take_at_gap(m, i, trace);
        if (event.kind & kStart) take_at_element(m, i, trace);
        if (i == length) take_at_last(m, i, trace);
        if (space) m.previous_space = m.current_space;
    }
}

// Cases 1 to 3: the text before a gap, from the gap or the element before it.
template <class Trace>
void KeywordScanner::take_at_gap(const Marks& m, int i, Trace& trace) {
    if (m.last_open == 0 && m.last_close == 0) {
        trace.line("=====space2-----");
        take(m.previous_space + 1, i - 1, i, trace);
    }
    if (m.last_open < m.last_close && m.previous_space < m.last_open) {
        trace.line("<   >=====space2-----");
        take(m.last_close + 1, i - 1, i, trace);
    }
    if (m.last_open < m.last_close && m.last_close < m.previous_space) {
        trace.line("<   >-----space1=====space2-----");
        take(m.previous_space + 1, i - 1, i, trace);
    }
}

// Cases 4 and 5: the text before an element, from the element or the gap before it.
template <class Trace>
void KeywordScanner::take_at_element(const Marks& m, int i, Trace& trace) {
    if (m.previous_space < m.last_close && m.current_space < m.last_close && m.last_close < i) {
        trace.line("-----space2-----<   >=====<   >");
        trace.value("elemen.pos.01 = ", 0);
        trace.value("elemen.pos.02 = ", 0);
        trace.value("space.pos.01 = ", m.previous_space);
        trace.value("space.pos.02 = ", m.current_space);
        if (trace.on()) {
            trace.stay("sword$ = ");
            trace.line(
                std::string_view(lower_).substr(idx(m.last_close), idx(i - 1 - m.last_close)));
        }
        take(m.last_close + 1, i - 1, i, trace);
    }
    if (m.last_close < m.current_space && m.current_space < i) {
        trace.line("-----<   >-----space2=====<   >");
        take(m.current_space + 1, i - 1, i, trace);
    }
}

// Cases 6 to 8: the text after the last element or gap, or the whole line.
template <class Trace>
void KeywordScanner::take_at_last(const Marks& m, int i, Trace& trace) {
    const int length = static_cast<int>(lower_.size());
    if (m.current_space < m.last_open && m.last_open < m.last_close) {
        trace.line("-----space2-----<   >=====");
        take(m.last_close + 1, length, i, trace);
    }
    if (m.last_close < m.current_space && m.current_space < i) {
        trace.line("-----<   >-----space2=====");
        take(m.current_space + 1, length, i, trace);
    }
    if (m.last_open == 0 && m.last_close == 0 && m.previous_space == 0 && m.current_space == 0)
        take(1, length, i, trace);
}

// The candidate from first to last (1-based, inclusive; none when last < first), cleaned
// of its quotes, kept when 2 characters or more remain; `at` is the walk's position,
// which the trace gives beside the word.
template <class Trace>
void KeywordScanner::take(int first, int last, int at, Trace& trace) {
    std::string_view word;
    if (last >= first)
        word = std::string_view(lower_).substr(idx(first - 1), idx(last - first + 1));
    int position = first;
    if (!word.empty() && word.front() == '"') {
        word.remove_prefix(1);
        ++position;
        if (!word.empty() && word.back() == '"') word.remove_suffix(1);
    }
    if (word.size() < 2) return;
    const std::size_t start = word_bytes_.size();
    word_bytes_.append(word);
    if (word.find('"') != std::string_view::npos)
        for (std::size_t k = start; k < word_bytes_.size(); ++k)
            if (word_bytes_[k] == '"') word_bytes_[k] = '\'';
    word_ends_.emplace_back(position, word_bytes_.size());
    if (trace.on()) {
        trace.zone_number(at);
        trace.line(std::string_view(word_bytes_).substr(start));
    }
}

}  // namespace rowkeep
