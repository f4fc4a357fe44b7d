// The one door to the file system. Every open, first write, flush, close, rename, copy,
// delete, folder creation and listing of the program goes through a FileSystem, so that
//  - a test can make the Nth of these calls fail with a chosen errno (FileFaults), and
//  - a step can tell afterwards whether anything under it failed, and why.
// Scratch files are the program's own: they are opened without following links, never
// block on a FIFO, and must be regular files; the folders below the working folder must be
// real folders, never links.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rowkeep {

namespace fs = std::filesystem;

// The kinds of failure point, in the order a file meets them.
enum class FileOp { open, write, flush, close, rename, copy, remove, make_dir, list };

std::string_view file_op_name(FileOp op);

// Fault injection and the record of failures; one per session. Not copyable: every
// FileSystem of a session points at the same one.
class FileFaults {
  public:
    FileFaults() = default;
    FileFaults(const FileFaults&) = delete;
    FileFaults& operator=(const FileFaults&) = delete;

    // Makes the nth failure point from now on (1 = the next one) fail with `error`, and
    // every later one too when `sticky` (a disk that stays full). n = 0 disarms.
    void fail_at(long n, int error, bool sticky = false);
    // Failure points passed since the session began (tests loop N up to this count).
    long points() const { return points_; }
    // True once the armed failure has been handed out.
    bool fired() const { return fired_; }

    // Failures seen so far, injected or real. A step compares the count before and after
    // itself to learn whether anything it did failed.
    long failures() const { return failures_; }
    // What the last failure was, for messages: "No space left on device", or for a
    // refused scratch name "f_15_1.txt is not a regular file of the folder".
    const std::string& last_cause() const { return last_cause_; }
    int last_error() const { return last_error_; }

    // Called by the file layer at each failure point: the errno to fail with, or 0.
    int at_point(FileOp op);
    // Called by the file layer when an operation failed (errno `error`).
    void record(int error, std::string cause);

  private:
    long points_ = 0, fail_at_ = 0, failures_ = 0;
    int error_ = 0, last_error_ = 0;
    bool sticky_ = false, fired_ = false;
    std::string last_cause_;
};

class Terminal;
class Converter;

// File names between the console's code page and the character set of the locale the
// terminal runs in. In a UTF-8 locale a name the program types goes to the disk in
// UTF-8 and a name read from a folder comes back in the active code page ("?" for a
// character the page lacks); in any other locale, and under Windows-65001, names pass as
// bytes. The converters follow the terminal's code page, rebuilt when it changes.
class NameCodec {
  public:
    explicit NameCodec(const Terminal& terminal);
    ~NameCodec();
    NameCodec(const NameCodec&) = delete;
    NameCodec& operator=(const NameCodec&) = delete;

    // A name in the code page as the disk holds it.
    std::string to_disk(std::string_view name);
    // A name from the disk in the code page.
    std::string to_code_page(std::string_view name);
    // False while names pass as bytes.
    bool active();

  private:
    const Terminal& terminal_;
    int built_for_ = 0;  // the code page the converters were made for; 0: none
    std::unique_ptr<Converter> to_disk_, to_code_page_;
};

// Whether a name may be a link: scratch files never; a table the user named may.
enum class Links { refuse, follow };

// A cheap value: the working folder and the session's faults (none in plain tests, where
// a path converts to a FileSystem that only ever fails for real). Functions returning
// bool or a null FILE* leave errno set and the failure recorded.
// Files made ahead, one of which may become a file about to be made (the export's spares).
class NewFileSource {
  public:
    // Gives an empty file of the folder, made as a new one would be, the name `path`;
    // false when none is ready or a file has that name.
    virtual bool give(const fs::path& path) = 0;

  protected:
    ~NewFileSource() = default;
};

class DeletedFiles;

class FileSystem {
  public:
    FileSystem(fs::path dir, FileFaults* faults = nullptr,  // NOLINT: a folder is a FileSystem
               NameCodec* names = nullptr)
        : dir_(std::move(dir)), faults_(faults), names_(names) {}
    FileSystem(const char* dir) : FileSystem(fs::path(dir)) {}  // NOLINT

    const fs::path& dir() const { return dir_; }
    FileFaults* faults() const { return faults_; }
    // A new file of the folder opened for writing is taken from `source` when it has one
    // ready (null: none). Copies of this FileSystem made meanwhile take from it too.
    void use_new_files(NewFileSource* source) { new_files_ = source; }
    // A large file removed here is freed on `deleted`'s thread (null: by the remove itself),
    // and what may take space first waits for that. Copies made later do the same.
    void free_on(DeletedFiles* deleted) { deleted_ = deleted; }

    // A name of the folder (or below it, "\" separating folders), typed in the code page,
    // looked up ignoring case; a name that matches nothing is returned as the disk would
    // hold it. A name listed with "?" for a character the code page lacks finds its file.
    // Never leaves the folder.
    fs::path resolve(std::string_view name) const;
    // A file of a folder named as the disk holds the name (taken from a listing of another
    // folder), looked up ignoring case; as given when nothing matches.
    fs::path resolve_in(const fs::path& folder, std::string_view disk_name) const;

    // A file name (or a path) as the disk holds it, in the code page: what listings show.
    std::string in_code_page(std::string_view disk_name) const;
    std::string listed_name(const fs::path& path) const {
        return in_code_page(path.filename().string());
    }
    // A name typed in the code page as the disk holds it (not looked up).
    std::string disk_name(std::string_view name) const;

    // Opens for reading; a missing file gives nullptr with errno ENOENT, which is not
    // counted as a failure (a missing file reads as empty).
    std::FILE* open_read(const fs::path& path, Links links = Links::refuse) const;
    // Creates or empties a file for writing. With Emptying::by_writer an existing file keeps
    // its bytes until the writer cuts it to what it wrote (see TextWriter::open_over).
    // `size_at_open` (when given) receives the bytes the file holds after the open.
    enum class Emptying { at_open, by_writer };
    std::FILE* open_write(const fs::path& path, Links links = Links::refuse,
                          Emptying emptying = Emptying::at_open,
                          std::uint64_t* size_at_open = nullptr) const;
    // The first write to a file opened here: the point where a full disk shows first.
    bool first_write(const fs::path& path) const;
    // Flushes the stream's buffer, and with `sync` the file's data to the disk.
    bool flush(std::FILE* file, const fs::path& path, bool sync) const;
    bool close(std::FILE* file, const fs::path& path) const;
    bool rename(const fs::path& from, const fs::path& to) const;
    // The whole file or nothing: a temporary beside the target, then a rename.
    bool copy(const fs::path& from, const fs::path& to) const;
    // A second name for a file (a hard link); a failure point of the copy kind.
    bool link(const fs::path& from, const fs::path& to) const;
    // A copy that costs no bytes, for a source that is deleted before anything writes it
    // again: the target becomes a second name of the source, whole or not at all (a
    // temporary name, then a rename over an existing target). Where the file system has
    // no links, a copy. A failure point of the copy kind.
    bool share(const fs::path& from, const fs::path& to) const;
    // A missing file is no failure.
    bool remove(const fs::path& path) const;
    bool make_dir(const fs::path& path) const;
    // The names of the regular files of a folder (links and other kinds left out). A
    // missing folder lists as empty without a failure.
    bool list(const fs::path& folder, std::vector<fs::path>& files) const;

    // A failure point for a step made outside this class (the replace of a table file):
    // false, with the injected failure recorded against `path`, when it is to fail.
    bool allow(FileOp op, const fs::path& path) const;

    // Records a failure found by a caller (a short working file, say) with its cause.
    void fail(int error, std::string cause) const;

  private:
    // 0, or the errno an injected fault hands out at this point.
    int injected(FileOp op) const { return faults_ ? faults_->at_point(op) : 0; }
    // The copy's work after its failure point: the bytes into a temporary, renamed over.
    bool copy_whole(const fs::path& from, const fs::path& to) const;
    // Before an operation that may take space: the files removed so far are freed.
    void make_room() const;
    // Records errno (or `error`) as a failure of an operation on `path`; false.
    bool failed(const fs::path& path, int error) const;
    // False (a refusal recorded) when a folder between dir and path is a link.
    bool inside(const fs::path& path) const;
    // One name of a folder: the exact disk name, else an entry equal ignoring case, else
    // an entry that reads as `shown` in the code page.
    fs::path lookup(const fs::path& folder, const std::string& disk, std::string_view shown) const;

    fs::path dir_;
    FileFaults* faults_ = nullptr;
    NameCodec* names_ = nullptr;
    NewFileSource* new_files_ = nullptr;
    DeletedFiles* deleted_ = nullptr;
};

// Removes, in the folder, the temporaries of programs that no longer run. The listing and
// each removal go through the file system; false when one failed (recorded there).
bool remove_stale_temporaries(const FileSystem& files, const std::filesystem::path& folder);

}  // namespace rowkeep
