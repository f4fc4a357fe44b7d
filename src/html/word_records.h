// The word files' records, read and written a whole record at a time: every value in
// double quotes, separated by commas, one record a line. The export reads and writes
// millions of them, so a record costs a line's bytes, not a string per value.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "console/records.h"
#include "console/short_copy.h"

namespace rowkeep {

// Files of the export made from this many records or more (a megabyte or so) are written
// on a thread of their own (TextWriter::write_behind): the kernel's copy of their bytes
// then costs the export's thread nothing. A small file, or one of a few long records
// (written past the buffer anyway), would only pay for the thread.
inline constexpr std::uint64_t kWriteBehindRecords = 16384;

// Writes the file on a thread of its own when `large` (call it before anything is
// written).
inline void write_behind_when(TextWriter& out, bool large) {
    if (large) out.write_behind();
}

// A page copied line by line from a file of this many bytes or more (the table page from
// the working file, the clean copy from the table page) is written on a thread of its own:
// at 10^5 rows each is some 26 MB the export's thread would otherwise hand the kernel
// itself. Below it, the write behind's two fresh buffers cost more than they save.
inline constexpr std::uint64_t kWriteBehindBytes = 4 << 20;

// True when the reader's open file holds at least `bytes` bytes.
bool file_at_least(const TextReader& in, std::uint64_t bytes);

// Reads records of up to kMostValues values. A line in the form the program writes
// ("a","b",...,"z" and nothing else) is split where it lies; anything else is read
// again value by value by the reader's token rules, so every file reads as before.
class WordFileReader {
  public:
    static constexpr std::size_t kMostValues = 6;

    WordFileReader(const FileSystem& files, std::string_view name);
    ~WordFileReader();
    WordFileReader(const WordFileReader&) = delete;
    WordFileReader& operator=(const WordFileReader&) = delete;

    // The next record's first `values` values; false at the end of the file. The values
    // stay valid until the next read.
    bool read(std::size_t values) {
        // A record of the batch at hand (from read_ahead) is taken without a call.
        if (fed_at_ != fed_end_) {
            take_fed();
            return true;
        }
        return read_on(values);
    }
    std::string_view operator[](std::size_t k) const { return shown_.values[k]; }
    // The record's line without its line end when it had the plain form (its values are
    // then exactly the ones read), else empty. Valid until the next read.
    std::string_view plain_line() const { return shown_.plain_line; }
    // True when the file holds about kWriteBehindRecords records or more: a megabyte or
    // more of bytes, its first line short. Call it before the first read.
    bool many_records();
    // From the first read on, the records are read and split on a thread of their own,
    // some thousands ahead, and handed over in batches: the long word files of a large
    // export cost the export's thread about as much to split as to make pages of. Every
    // read must then ask for the same number of values. A read has no failure point
    // (a file that cannot be read reads as ended, on either thread), so none moves.
    void read_ahead() { ahead_ = true; }

  private:
    // A record as split: its values, its line when plain, and where they are kept.
    struct Split {
        std::string line;
        std::array<std::string_view, kMostValues> values;
        std::string_view plain_line;
        std::array<std::string, kMostValues> read_apart;  // values read by the token rules
    };
    class Feed;
    // A record as the feed's thread hands it over: its bytes' length, whether they are its
    // plain line, each value's place and length within them. The bytes follow it (the
    // plain line, or else the values one after another).
    struct FedHead {
        std::uint32_t size, plain;
        std::uint32_t at[kMostValues], length[kMostValues];
    };

    void take_fed() {
        FedHead head;
        std::memcpy(&head, fed_at_, sizeof head);
        const char* bytes = fed_at_ + sizeof head;
        // All places, also the unused ones (empty): a loop of known length.
        for (std::size_t k = 0; k < kMostValues; ++k)
            shown_.values[k] = std::string_view(bytes + head.at[k], head.length[k]);
        shown_.plain_line =
            head.plain != 0 ? std::string_view(bytes, head.size) : std::string_view();
        fed_at_ = bytes + head.size;
    }
    // The next record from the next batch, or read here.
    bool read_on(std::size_t values);
    bool read_into(Split& split, std::size_t values);
    bool split_in_buffer(Split& split, std::string_view bytes, std::size_t values);
    static bool split_plain(Split& split, std::string_view line, std::size_t values);

    TextReader in_;
    Split shown_;  // the record read last, as the caller sees it
    bool ahead_ = false;
    std::unique_ptr<Feed> feed_;  // ends before the file closes
    // In the batch at hand: the next record and the batch's end (equal without one).
    const char* fed_at_ = nullptr;
    const char* fed_end_ = nullptr;
};

// Reads a word file in records of `values` values, on a thread of its own when
// `ahead` (WordFileReader::read_ahead).
inline void read_ahead_when(WordFileReader& in, bool ahead) {
    if (ahead) in.read_ahead();
}

// A piece as a view: a string literal's length known where it is written, whatever
// else as its own view. (Pieces are literals or texts, never a buffer of char.)
template <std::size_t N>
constexpr std::string_view piece_view(const char (&literal)[N]) {
    return {literal, N - 1};
}
template <class Text>
std::string_view piece_view(const Text& text) {
    return std::string_view(text);
}

// Copies a piece to `out` and returns the end: short pieces (most of the word files' and
// the pages' are a few bytes) without a call, a literal in moves of its known length.
inline char* put_piece(char* out, std::string_view piece) {
    return copy_short(out, piece.data(), piece.size());
}
template <std::size_t N>
char* put_piece(char* out, const char (&literal)[N]) {
    std::memcpy(out, literal, N - 1);
    return out + (N - 1);
}
template <class Text>
char* put_piece(char* out, const Text& text) {
    return put_piece(out, std::string_view(text));
}

// The pieces one after another, as write_raw writes them, put straight into the
// writer's buffer when they fit there.
template <class... Pieces>
void write_pieces(TextWriter& out, const Pieces&... pieces) {
    const std::size_t total = (piece_view(pieces).size() + ... + 0);
    if (char* at = out.room(total)) {
        ((at = put_piece(at, pieces)), ...);
        out.added(total);
    } else {
        (out.write_raw(piece_view(pieces)), ...);
    }
}

// Writes one record: the values, each in double quotes, commas between, CR LF.
template <class... Values>
void write_record(TextWriter& out, const Values&... values) {
    // The quotes and commas, then the CR LF.
    const std::size_t total = 1 + 3 * sizeof...(Values) + (piece_view(values).size() + ... + 0);
    if (char* at = out.room(total)) {
        *at++ = '"';
        // Each value with a separator after it; the last one's becomes the line's end.
        ((at = put_piece(at, values), at = put_piece(at, "\",\"")), ...);
        std::memcpy(at - 3, "\"\r\n", 3);
        out.added(total);
        return;
    }
    bool first = true;
    for (std::string_view v : {piece_view(values)...}) {
        out.write_raw(first ? "\"" : "\",\"");
        out.write_raw(v);
        first = false;
    }
    out.print_text("\"");
}

// The record just read, as write_record writes its first `values` values: the line whole
// where it had the plain form (and so exactly those values), one copy instead of a piece
// per value and quote.
void copy_record(TextWriter& out, const WordFileReader& in, std::size_t values);

// A line of pieces, then CR LF: markup written without a string made for it.
template <class... Pieces>
void write_line(TextWriter& out, const Pieces&... pieces) {
    write_pieces(out, pieces..., "\r\n");
}

// A number's decimal digits, held where it is used.
class Digits {
  public:
    explicit Digits(long long n) {
        size_ = static_cast<std::size_t>(std::to_chars(text_, text_ + sizeof text_, n).ptr - text_);
    }
    operator std::string_view() const { return {text_, size_}; }

  private:
    char text_[24];
    std::size_t size_;
};

// The number at the start of the text as std::atoll reads it: white space, a sign, the
// digits up to the first other character; 0 when there are none.
long long leading_number(std::string_view text);

// "id" and the number with at least 6 digits, held where it is used.
class WordId {
  public:
    WordId() = default;
    explicit WordId(long long number) { set(number); }
    void set(long long number);
    operator std::string_view() const { return {text_, size_}; }

  private:
    char text_[32] = "";
    std::size_t size_ = 0;
};

// True when the text holds "id" in either case of each letter.
bool contains_id_any_case(std::string_view text);

}  // namespace rowkeep
