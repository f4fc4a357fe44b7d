// Text record files: plain lines, quoted records, values and lines read back, the end
// test and rewind. Buffered, binary; CR LF written; LF, CR LF or a lone CR read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/byte_kinds.h"
#include "console/file_system.h"
#include "console/line_ends_ahead.h"
#include "console/print_zones.h"
#include "console/replace_file.h"
#include "console/row_starts.h"
#include "console/write_behind.h"

namespace rowkeep {

namespace fs = std::filesystem;

// True when the file-name pattern ("*.csv", "page_*.htm", "f_??.txt") matches the name;
// letters compare ignoring case.
bool matches_pattern(std::string_view pattern, std::string_view name);

// Files are opened through a FileSystem (the session's `files`; a plain folder path
// converts to one without faults), so every open, first write, flush and close is a point
// where a test can make it fail.
class TextReader {
  public:
    TextReader() = default;
    TextReader(const FileSystem& files, std::string_view name, Links links = Links::refuse) {
        open(files, name, links);
    }
    ~TextReader() { close(); }
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // A missing file leaves the reader unopened: it is at its end at once. A file that
    // could not be opened reads as empty too, but the failure is recorded in the faults.
    bool open(const FileSystem& files, std::string_view name, Links links = Links::refuse);
    bool open_path(const fs::path& path, Links links = Links::refuse);
    void close();
    bool is_open() const { return file_ != nullptr; }
    // The open file's descriptor (-1 when none), for reads at offsets (pread) beside this
    // reader's own, which they leave where they are.
    int descriptor() const { return file_ ? fileno(file_) : -1; }

    bool at_end();
    // The token rules of the record files, with no length limit: every value read is one
    // the program wrote, and cutting a long cell would shift the rest into the next cells.
    std::string read_value();
    void read_value(std::string& value);  // the same, into a string kept for reuse
    void skip_value();                    // the same, the value not kept
    // From here to the end of the file, the offset of each row of `columns` values, as
    //   while (!at_end()) { starts.add(tell()); skip_value() `columns` times; }
    // finds them (the viewer's row index).
    void index_rows(int columns, RowStarts& starts);
    // Reads on past `rows` rows of `columns` values (or to the end of the file), as
    // skip_value() `columns` times a row would: to a row of the index's stride.
    void skip_rows(int columns, std::uint64_t rows);
    // The row index compares bytes no faster than this way even where the processor could
    // (for tests, which must try every way it has).
    void index_at_most(byte_kinds::Scan scan) { most_scan_ = scan; }
    // The row index hands the latter half of what is left to a second thread from this
    // many bytes on, this many at a time (tests try it on small files).
    void index_in_two(std::uint64_t from_bytes, std::uint64_t at_most) {
        split_ = {from_bytes, at_most};
    }
    std::string read_line();  // the whole line, without its line end
    void read_line(std::string& line);
    // The next whole line, without its line end, seen where it lies in the reader's
    // buffer (or, when it runs past the buffer's end, gathered in a string of the
    // reader's): valid until the next read. False at the end of the file. A last line
    // without its line end is a line.
    bool next_line(std::string_view& line);
    void rewind();

    // Byte offset of the next read, and a jump back to one (the viewer's row index).
    std::uint64_t tell() const { return base_ + pos_; }
    void seek(std::uint64_t offset);

    // The bytes read ahead and not yet taken (read first when none are left; empty at the
    // end of the file), and the taking of some of them: for a reader of records that
    // parses them where they lie.
    std::string_view ahead() {
        if (pos_ >= len_ && !fill()) return {};
        return {buffer_.get() + pos_, len_ - pos_};
    }
    void take(std::size_t bytes) { pos_ += bytes; }

  private:
    bool fill();
    int peek();
    int get();
    void skip_line_end_after_cr();
    void skip_blanks();
    bool take_line_end();
    template <char A, char B, char C, bool keep>
    int take_until(std::string& value);
    template <bool keep>
    void take_value(std::string& value);
    void forget_plain_run() { plain_retry_ = 0; }
    void choose_scan();
    bool index_until(int columns, int& left, RowStarts& starts);
    bool index_plain_lines(int columns, int& left, RowStarts& starts);
    bool index_plain_lines_avx2(int columns, int& left, RowStarts& starts, std::size_t end);
    bool index_plain_lines_select(int columns, int& left, RowStarts& starts, std::size_t end);
    template <class Bytes>
    bool scan_plain_lines(int columns, int& left, RowStarts& starts, std::size_t end);

    FileSystem files_{fs::path()};
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // made on the first open, not cleared: fill() writes it
    std::size_t pos_ = 0, len_ = 0;
    std::uint64_t base_ = 0;  // file offset of buffer_[0]
    // Where the row index looks for plain working-file lines again after they stopped.
    std::size_t plain_retry_ = 0;
    std::string long_line_;                             // a line that ran past the buffer's end
    byte_kinds::Scan scan_ = byte_kinds::Scan::narrow;  // how the row index compares bytes
    byte_kinds::Scan most_scan_ = byte_kinds::Scan::wide_select;
    // What the processor offers, asked once: under a virtual machine the question is costly,
    // and skip_rows is part of every page.
    bool best_scan_known_ = false;
    byte_kinds::Scan best_scan_ = byte_kinds::Scan::narrow;
    static constexpr std::uint64_t kNoStop = ~std::uint64_t{0};
    std::uint64_t stop_ = kNoStop;  // where the row index meets the rows found ahead
    LineEndsAhead::Split split_;
    LineEndsAhead ahead_;  // kept, with its memory, from one row index to the next
};

class TextWriter {
  public:
    TextWriter() = default;
    TextWriter(const FileSystem& files, std::string_view name) { open(files, name); }
    ~TextWriter() { close(); }
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    // Creates or empties the file.
    bool open(const FileSystem& files, std::string_view name);
    bool open_path(const fs::path& path);
    // A file of the folder by its path on the disk, not looked up by name.
    bool open_path(const FileSystem& files, const fs::path& path) {
        close();
        files_ = files;
        return open_path(path);
    }
    // Writes over the bytes of a file that may exist, not looked up by name; close() cuts
    // the file to what was written, so it ends as if emptied at the open. ext4 writes a
    // file out at its close once it was truncated to nothing: a scratch file written again
    // and again (and deleted soon after) is spared that.
    bool open_over(const FileSystem& files, const fs::path& path);
    // Writes to a temporary beside the file; close() renames it into place, so the old
    // file stays whole until the new one is complete. The file keeps its mode and owner,
    // a symbolic link stays a link (its target is replaced), a read-only file is refused.
    bool open_replacing(const FileSystem& files, std::string_view name);
    // False when anything could not be written (the file then is not replaced).
    bool close();
    bool is_open() const { return file_ != nullptr; }
    // From here until the close, the buffer goes to the file on a thread of its own while
    // the next one fills (for the large files of a long step). The failure points stay
    // where they are; a write that fails on the thread is recorded at the next flush of
    // the buffer or at the close. Call it after open, before anything is written.
    void write_behind();
    // As write_behind(), for a file that stays open across steps: at each step_end() it
    // holds what it would hold without, since its bytes are handed over where the usual
    // buffer would have written them, gathered into the larger writes of the thread.
    void write_behind_in_steps();
    // The bytes a writer without write behind would have written by now are in the file.
    void step_end();
    bool failed() const { return failed_; }
    // The open file's descriptor (-1 when none), for bytes written at their offsets
    // (pwrite) on another thread, past the ones this writer writes.
    int descriptor() const { return file_ ? fileno(file_) : -1; }
    // The bytes up to `end` reached the file by way of descriptor(), after all this writer
    // wrote; with `error`, writing the byte at `end` failed. Unless this writer failed
    // first, it goes on after them, or fails as though its own write had failed there.
    void written_to(std::uint64_t end, int error);
    void abandon();  // closes and removes a replacing writer's temporary

    void print_text(std::string_view text, Ending ending = Ending::newline) {
        write_raw(text);
        if (ending == Ending::newline) {
            write_raw("\r\n");
            line_start();
        } else if (ending == Ending::zone) {
            pad_to_zone();
        }
    }
    void print_number(long long n, Ending ending = Ending::newline);
    void print_newline() { print_text("", Ending::newline); }
    // The value between double quotes, then "," or (last) CR LF.
    void write_value(std::string_view value, bool last);
    // Bytes exactly as given.
    void write_raw(std::string_view bytes) {
        if (ready_ && used_ + bytes.size() <= limit_) {
            if (!bytes.empty()) std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
            used_ += bytes.size();
        } else {
            write_slow(bytes);
        }
    }
    // Room for the next `bytes` bytes in the buffer, for a caller that puts many small
    // pieces there itself and then counts them with added(); null when they do not fit
    // (or nothing can be written): write_raw then takes them as usual.
    char* room(std::size_t bytes) {
        return ready_ && used_ + bytes <= limit_ ? buffer_.get() + used_ : nullptr;
    }
    void added(std::size_t bytes) { used_ += bytes; }

  private:
    // Forgets the state of the file written before: a writer opens afresh.
    void start_fresh();
    static constexpr std::size_t kBufferSize = 1 << 16;
    static constexpr std::size_t kBehindSize = 1 << 19;

    bool open_emptying(const fs::path& path, FileSystem::Emptying emptying);
    void write_slow(std::string_view bytes);
    void flush_pending();
    // Where the buffer is full: flushed, or with the flush points kept, counted as written.
    void flush_full();
    void hand_over_kept();
    bool send(std::string_view bytes);
    // Waits for the write behind, recording its failure.
    void settle_behind();
    // The output column is needed only for zone endings, so it is worked out from the
    // bytes when one comes (or before the buffer goes), not for every piece written.
    std::uint64_t total() const { return flushed_ + used_; }
    void line_start() {
        column_ = 0;
        column_at_ = total();
    }
    void settle_column();
    void pad_to_zone();

    FileSystem files_{fs::path()};
    std::FILE* file_ = nullptr;
    fs::path path_;
    ReplacingFile replacing_;
    bool replacing_open_ = false;
    bool cut_at_close_ = false;  // opened by open_over
    // How far the file may reach beside the bytes of the descriptor: its size after the
    // open, or the end of bytes written at their offsets (written_to).
    std::uint64_t reach_ = 0;
    bool failed_ = false, written_ = false;
    bool ready_ = false;  // open, first write passed, nothing failed: pieces go to the buffer
    // Bytes not yet handed to the file; a large buffer of its own, as the library's would
    // only copy the bytes once more.
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = kBufferSize, used_ = 0;
    // Where the buffer counts as full: capacity_, or with the flush points kept, kept_
    // bytes after the ones counted as written (the first kept_written_ of the buffer).
    std::size_t limit_ = kBufferSize;
    std::size_t kept_ = 0, kept_written_ = 0;
    std::uint64_t flushed_ = 0;      // bytes handed to the file
    std::unique_ptr<char[]> spare_;  // the buffer the write behind holds
    std::unique_ptr<WriteBehind> behind_;
    int column_ = 0;               // the output column after the first column_at_ bytes
    std::uint64_t column_at_ = 0;  // bytes after it are not counted into column_ yet
};

// Writes the lines of `in`, from where it stands to its end, to `out`, each ended by CR LF:
// the bytes `while (in.next_line(line)) out.print_text(line);` writes, made faster.
void copy_lines(TextReader& in, TextWriter& out);

}  // namespace rowkeep
