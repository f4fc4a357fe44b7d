#include "console/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "console/code_page.h"
#include "console/deleted_files.h"
#include "console/index.h"
#include "console/replace_file.h"
#include "console/terminal.h"
#include "console/tokens.h"

namespace rowkeep {

namespace {

bool ascii_only(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower_letter(a[i]) != lower_letter(b[i])) return false;
    return true;
}

// Opens without following a last link and without blocking on a FIFO; only a regular
// file is kept, its size at the open in `size`. -1 with errno set otherwise (ELOOP for a
// link, EINVAL for another kind). O_NONBLOCK stays set: Linux ignores it for the reads and
// writes of a regular file, and clearing it cost two calls more for every file opened (a
// sort opens thousands).
int open_regular(const fs::path& path, int flags, Links links, std::uint64_t* size = nullptr) {
    flags |= O_CLOEXEC | O_NONBLOCK | (links == Links::refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    if (size) *size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

// Empties a file opened for writing. A file that is empty already (a new one, mostly) is
// left alone: a truncation, even to the size the file has, makes ext4 write the file's
// data out at its close, and a scratch file deleted soon after would cost its disk
// blocks (and their discard) for nothing.
bool empty_out(int fd, std::uint64_t size) {
    return size == 0 || ftruncate(fd, 0) == 0;
}

bool write_all(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd, data, n);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += done;
        n -= idx(done);
    }
    return true;
}

// The kernel copies without passing the bytes through us where it can; where the two files
// cannot be copied that way (another file system, an old kernel) read and write do it.
int copy_contents(int in, int out) {
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
        if (n == 0) return 0;
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
            errno != EBADF)
            return errno;
        break;
    }
    std::vector<char> buffer(1 << 18);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        if (!write_all(out, buffer.data(), idx(n))) return errno;
    }
}

}  // namespace

std::string_view file_op_name(FileOp op) {
    switch (op) {
        case FileOp::open:
            return "open";
        case FileOp::write:
            return "write";
        case FileOp::flush:
            return "flush";
        case FileOp::close:
            return "close";
        case FileOp::rename:
            return "rename";
        case FileOp::copy:
            return "copy";
        case FileOp::remove:
            return "delete";
        case FileOp::make_dir:
            return "make folder";
        case FileOp::list:
            return "list";
    }
    return "?";
}

// ---------------------------------------------------------------- faults

void FileFaults::fail_at(long n, int error, bool sticky) {
    fail_at_ = n > 0 ? points_ + n : 0;
    error_ = error;
    sticky_ = sticky;
    fired_ = false;
}

int FileFaults::at_point(FileOp /*op*/) {
    ++points_;
    if (fail_at_ > 0 && (points_ == fail_at_ || (sticky_ && points_ > fail_at_))) {
        fired_ = true;
        return error_;
    }
    return 0;
}

void FileFaults::record(int error, std::string cause) {
    ++failures_;
    last_error_ = error;
    last_cause_ = std::move(cause);
}

// ---------------------------------------------------------------- file system

// ---------------------------------------------------------------- names

NameCodec::NameCodec(const Terminal& terminal) : terminal_(terminal) {}

NameCodec::~NameCodec() = default;

bool NameCodec::active() {
    const int page = terminal_.code_page();
    if (page == 65001 || terminal_.locale_charset() != "UTF-8") return false;
    if (page != built_for_) {
        const std::string name = iconv_name(page);
        if (name.empty()) return false;
        to_disk_ = std::make_unique<Converter>(name, "UTF-8");
        to_code_page_ = std::make_unique<Converter>("UTF-8", name);
        built_for_ = page;
    }
    return true;
}

std::string NameCodec::to_disk(std::string_view name) {
    if (ascii_only(name) || !active()) return std::string(name);
    return to_disk_->convert_whole(name);
}

std::string NameCodec::to_code_page(std::string_view name) {
    if (ascii_only(name) || !active()) return std::string(name);
    return to_code_page_->convert_whole(name);
}

// ---------------------------------------------------------------- file system

std::string FileSystem::in_code_page(std::string_view disk_name) const {
    return names_ ? names_->to_code_page(disk_name) : std::string(disk_name);
}

std::string FileSystem::disk_name(std::string_view name) const {
    return names_ ? names_->to_disk(name) : std::string(name);
}

fs::path FileSystem::lookup(const fs::path& folder, const std::string& disk,
                            std::string_view shown) const {
    fs::path exact = folder / disk;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(exact, ec))) return exact;
    // Beside the spelling ignoring case, a name the code page cannot show all of is
    // compared as it was listed, so a name with "?" chosen from a listing finds its file.
    const bool by_listing = names_ && names_->active();
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string candidate = entry.path().filename().string();
        if (same_ignoring_case(candidate, disk)) return entry.path();
        if (by_listing && !ascii_only(candidate) &&
            same_ignoring_case(names_->to_code_page(candidate), shown))
            return entry.path();
    }
    return exact;
}

fs::path FileSystem::resolve(std::string_view name) const {
    fs::path result = dir_;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = name.size();
        std::string_view part = name.substr(start, end - start);
        start = end + 1;
        // "." and ".." never lead out of the program's folder: a typed name stays inside it.
        if (part.empty() || part == "." || part == "..") {
            if (end == name.size()) break;
            continue;
        }
        result = lookup(result, disk_name(part), part);
        if (end == name.size()) break;
    }
    return result;
}

fs::path FileSystem::resolve_in(const fs::path& folder, std::string_view disk_name) const {
    const std::string disk(disk_name);
    return lookup(folder, disk, in_code_page(disk));
}

bool FileSystem::failed(const fs::path& path, int error) const {
    std::string cause = std::strerror(error);
    {
        // A scratch name taken by something else: say which name. Only for the errors a
        // refused open gives; a failure of another kind (a full disk under a table that is
        // a link, a folder that could not be listed) keeps its own cause.
        std::error_code ec;
        fs::path relative = path.lexically_relative(dir_);
        std::string name = in_code_page(relative.empty() ? path.string() : relative.string());
        auto status = fs::symlink_status(path, ec);
        if (error == ELOOP && fs::is_symlink(status))
            cause = name + " is a link, not a file of the folder";
        else if ((error == EISDIR || error == EINVAL || error == ENXIO) && !ec &&
                 fs::exists(status) && !fs::is_regular_file(status))
            cause = name + " is not a regular file";
    }
    fail(error, std::move(cause));
    errno = error;
    return false;
}

void FileSystem::fail(int error, std::string cause) const {
    if (faults_) faults_->record(error, std::move(cause));
}

void FileSystem::make_room() const {
    if (deleted_) deleted_->settle();
}

bool FileSystem::inside(const fs::path& path) const {
    const fs::path relative = path.lexically_relative(dir_);
    if (relative.empty() || *relative.begin() == "..") return true;  // not below the folder
    fs::path at = dir_;
    auto last = std::prev(relative.end());
    for (auto it = relative.begin(); it != last; ++it) {
        at /= *it;
        struct stat st {};
        if (lstat(at.c_str(), &st) != 0) return true;  // missing: the operation says so
        if (!S_ISDIR(st.st_mode)) {
            const std::string name = in_code_page(at.lexically_relative(dir_).string());
            fail(ELOOP, S_ISLNK(st.st_mode) ? name + " is a link, not a folder of the folder"
                                            : name + " is not a folder");
            errno = ELOOP;
            return false;
        }
    }
    return true;
}

std::FILE* FileSystem::open_read(const fs::path& path, Links links) const {
    if (int e = injected(FileOp::open)) {
        failed(path, e);
        return nullptr;
    }
    if (!inside(path)) return nullptr;
    const int fd = open_regular(path, O_RDONLY, links);
    if (fd < 0) {
        if (errno != ENOENT) failed(path, errno);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file) {
        const int e = errno;
        ::close(fd);
        failed(path, e);
    }
    return file;
}

std::FILE* FileSystem::open_write(const fs::path& path, Links links, Emptying emptying,
                                  std::uint64_t* size_at_open) const {
    if (int e = injected(FileOp::open)) {
        failed(path, e);
        return nullptr;
    }
    if (!inside(path)) return nullptr;
    make_room();
    // A file made ahead on another thread spares this one the making of an inode, which
    // on this file system costs a search past every inode freed lately.
    const bool given = new_files_ && path.parent_path() == dir_ && new_files_->give(path);
    std::uint64_t size = 0;
    const int fd = open_regular(path, O_WRONLY | O_CREAT, links, &size);
    if (fd < 0 || (emptying == Emptying::at_open && !empty_out(fd, size))) {
        const int e = errno;
        if (fd >= 0) ::close(fd);
        if (given) ::unlink(path.c_str());  // as though it had not been made
        failed(path, e);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        const int e = errno;
        ::close(fd);
        failed(path, e);
    }
    if (size_at_open) *size_at_open = emptying == Emptying::at_open ? 0 : size;
    return file;
}

bool FileSystem::allow(FileOp op, const fs::path& path) const {
    if (int e = injected(op)) return failed(path, e);
    if (op != FileOp::remove && op != FileOp::list) make_room();
    return true;
}

bool FileSystem::first_write(const fs::path& path) const {
    if (int e = injected(FileOp::write)) return failed(path, e);
    return true;
}

bool FileSystem::flush(std::FILE* file, const fs::path& path, bool sync) const {
    if (int e = injected(FileOp::flush)) return failed(path, e);
    if (std::fflush(file) != 0) return failed(path, errno);
    if (sync && fsync(fileno(file)) != 0) return failed(path, errno);
    return true;
}

bool FileSystem::close(std::FILE* file, const fs::path& path) const {
    const int e = injected(FileOp::close);
    const bool closed = std::fclose(file) == 0;
    if (e) return failed(path, e);
    if (!closed) return failed(path, errno);
    return true;
}

bool FileSystem::rename(const fs::path& from, const fs::path& to) const {
    if (int e = injected(FileOp::rename)) return failed(to, e);
    if (!inside(from) || !inside(to)) return false;
    make_room();
    if (::rename(from.c_str(), to.c_str()) != 0) return failed(to, errno);
    return true;
}

bool FileSystem::copy(const fs::path& from, const fs::path& to) const {
    if (int e = injected(FileOp::copy)) return failed(to, e);
    if (!inside(from) || !inside(to)) return false;
    return copy_whole(from, to);
}

bool FileSystem::copy_whole(const fs::path& from, const fs::path& to) const {
    make_room();
    const int in = open_regular(from, O_RDONLY, Links::refuse);
    if (in < 0) return failed(from, errno);
    // The temporary keeps the target's mode and owner; a read-only target is refused.
    ReplacingFile replacing;
    const int out = replacing.begin(to, ReplaceAt::name);
    if (out < 0) {
        ::close(in);
        return failed(to, replacing.error());
    }
    int error = copy_contents(in, out);
    ::close(in);
    if (::close(out) != 0 && error == 0) error = errno;
    if (error == 0 && !replacing.commit()) error = replacing.error();
    if (error != 0) {
        replacing.abandon();
        return failed(to, error);
    }
    return true;
}

bool FileSystem::share(const fs::path& from, const fs::path& to) const {
    if (int e = injected(FileOp::copy)) return failed(to, e);
    if (!inside(from) || !inside(to)) return false;
    make_room();
    struct stat source {};
    if (lstat(from.c_str(), &source) != 0) return failed(from, errno);
    if (!S_ISREG(source.st_mode))
        return failed(from, S_ISLNK(source.st_mode)   ? ELOOP
                            : S_ISDIR(source.st_mode) ? EISDIR
                                                      : EINVAL);
    const int error = link_replacing(from, to);
    if (error == EXDEV || error == EPERM || error == EMLINK || error == EOPNOTSUPP)
        return copy_whole(from, to);
    return error == 0 || failed(to, error);
}

bool FileSystem::link(const fs::path& from, const fs::path& to) const {
    if (int e = injected(FileOp::copy)) return failed(to, e);
    if (!inside(from) || !inside(to)) return false;
    make_room();
    // A link the file system does not support is no failure: the caller copies instead.
    return ::link(from.c_str(), to.c_str()) == 0;
}

bool FileSystem::remove(const fs::path& path) const {
    if (int e = injected(FileOp::remove)) return failed(path, e);
    if (!inside(path)) return false;
    // Held across the delete, a large file is freed where the handle is let go of.
    const int held = deleted_ ? deleted_->hold(path) : -1;
    const int error = ::unlink(path.c_str()) != 0 && errno != ENOENT ? errno : 0;
    if (held >= 0) deleted_->release(held);
    if (error != 0) return failed(path, error);
    return true;
}

bool FileSystem::make_dir(const fs::path& path) const {
    if (int e = injected(FileOp::make_dir)) return failed(path, e);
    if (!inside(path)) return false;
    make_room();
    if (::mkdir(path.c_str(), 0777) != 0) return failed(path, errno);
    return true;
}

bool FileSystem::list(const fs::path& folder, std::vector<fs::path>& files) const {
    files.clear();
    if (int e = injected(FileOp::list)) return failed(folder, e);
    if (folder != dir_) {
        // The folder itself must be a real folder of ours, not a link out of it.
        if (!inside(folder / "x")) return false;
        struct stat st {};
        if (lstat(folder.c_str(), &st) != 0) return true;  // missing: nothing in it
        if (!S_ISDIR(st.st_mode)) {
            const std::string name = in_code_page(folder.lexically_relative(dir_).string());
            fail(ELOOP, S_ISLNK(st.st_mode) ? name + " is a link, not a folder of the folder"
                                            : name + " is not a folder");
            errno = ELOOP;
            return false;
        }
    }
    DIR* d = opendir(folder.c_str());
    if (!d) {
        if (errno == ENOENT) return true;
        return failed(folder, errno);
    }
    errno = 0;
    while (dirent* entry = readdir(d)) {
        // A path is dear to build: only for the entries that may be files.
        const unsigned char type = entry->d_type;
        if (type == DT_REG) {
            files.push_back(folder / entry->d_name);
        } else if (type == DT_UNKNOWN || type == DT_LNK) {
            fs::path path = folder / entry->d_name;
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                files.push_back(std::move(path));
        }
        errno = 0;
    }
    const int e = errno;
    closedir(d);
    if (e != 0) return failed(folder, e);
    return true;
}

bool remove_stale_temporaries(const FileSystem& files, const fs::path& folder) {
    const long self = static_cast<long>(getpid());
    std::vector<fs::path> entries;
    if (!files.list(folder, entries)) return false;
    bool removed = true;
    for (const fs::path& path : entries) {
        long pid = 0;
        if (!is_temporary_name(path.filename().string(), &pid) || pid == self) continue;
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) == 0) continue;
        if (pid > 0 && errno == EPERM) continue;  // running, under another user
        removed = files.remove(path) && removed;
    }
    return removed;
}

}  // namespace rowkeep
