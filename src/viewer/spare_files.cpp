#include "viewer/spare_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <unordered_map>

#include "console/records.h"
#include "console/replace_file.h"

namespace rowkeep {

namespace fs = std::filesystem;

namespace {

// The process's umask, read without setting it: a thread of this class makes files while
// others run, and a umask set to 0 for a moment would give one of them the wrong mode.
bool current_umask(mode_t& mask) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (!line.starts_with("Umask:")) continue;
        char* end = nullptr;
        const std::string digits = line.substr(6);
        mask = static_cast<mode_t>(std::strtoul(digits.c_str(), &end, 8));
        return end != digits.c_str();
    }
    return false;
}

// A new empty file of the folder that has no name yet, as writing a new file there would
// make it; -1 where the file system cannot make one.
int unnamed_file(const fs::path& folder) {
#ifdef O_TMPFILE
    return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

}  // namespace

SpareFiles::SpareFiles(fs::path folder)
    : folder_(std::move(folder)), pid_(static_cast<long>(getpid())) {
    // Drawn once: the processor's generator is slow to ask in a virtual machine, and a
    // name taken meanwhile is only tried again.
    seed_ = (std::uint64_t{std::random_device()()} << 32) ^ std::random_device()();
    mode_t mask = 0;
    struct stat st {};
    if (!current_umask(mask) || lstat(folder_.c_str(), &st) != 0) return;
    mode_ = 0666 & ~mask;
    owner_ = geteuid();
    group_ = (st.st_mode & S_ISGID) != 0 ? st.st_gid : getegid();
    known_ = true;
}

SpareFiles::~SpareFiles() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (maker_.joinable()) maker_.join();
    for (const fs::path& spare : spares_) ::unlink(spare.c_str());
}

bool SpareFiles::like_new(const struct stat& st) const {
    return known_ && S_ISREG(st.st_mode) && (st.st_mode & 07777) == mode_ && st.st_uid == owner_ &&
           st.st_gid == group_;
}

void SpareFiles::keep_run_files() {
    if (!known_) return;
    struct Found {
        fs::path path;
        nlink_t links = 0, named = 0;
    };
    std::unordered_map<ino_t, Found> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        if (!matches_pattern("file_03_*.txt", entry.path().filename().string())) continue;
        struct stat st {};
        if (lstat(entry.path().c_str(), &st) != 0 || !like_new(st)) continue;
        Found& f = found[st.st_ino];
        if (f.path.empty()) f.path = entry.path();
        f.links = st.st_nlink;
        ++f.named;
    }
    for (const auto& [inode, f] : found) {
        if (f.named != f.links) continue;  // a name of it would outlive the delete
        fs::path spare = linked_name(f.path);
        if (spare.empty()) continue;
        std::lock_guard lock(mutex_);
        spares_.push_back(std::move(spare));
    }
}

fs::path SpareFiles::fresh_name() {
    static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    // Successive numbers spread by an odd multiplier: no two names of this set alike.
    std::uint64_t n = (seed_ + named_.fetch_add(1)) * 0x9e3779b97f4a7c15ULL;
    std::string suffix;
    for (int i = 0; i < 6; ++i, n /= kAlphabet.size()) suffix += kAlphabet[n % kAlphabet.size()];
    return folder_ / temporary_name(pid_, suffix);
}

fs::path SpareFiles::make_one() {
    if (unnamed_) {
        const int fd = unnamed_file(folder_);
        if (fd >= 0) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd);
            for (int attempt = 0; attempt < 100; ++attempt) {
                fs::path name = fresh_name();
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) ==
                    0) {
                    ::close(fd);
                    return name;
                }
                if (errno != EEXIST) break;
            }
            ::close(fd);
        }
        unnamed_ = false;  // by name from here on
    }
    return new_temporary(folder_);
}

fs::path SpareFiles::linked_name(const fs::path& from) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path name = fresh_name();
        if (::link(from.c_str(), name.c_str()) == 0) return name;
        if (errno != EEXIST) break;
    }
    return link_temporary(from);
}

void SpareFiles::keep(const fs::path& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !like_new(st) || st.st_nlink != 1) return;
    fs::path spare = linked_name(path);
    if (spare.empty()) return;
    std::lock_guard lock(mutex_);
    spares_.push_back(std::move(spare));
}

void SpareFiles::make_ahead(std::size_t count) {
    if (!known_) return;
    {
        std::lock_guard lock(mutex_);
        if (count <= wanted_) return;
        wanted_ = count;
    }
    changed_.notify_all();
    if (!maker_.joinable()) maker_ = std::thread([this] { make_spares(); });
}

void SpareFiles::make_spares() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || counted_ < wanted_; });
        if (stop_) return;
        ++counted_;
        making_ = true;
        lock.unlock();
        fs::path spare = make_one();
        lock.lock();
        making_ = false;
        if (!spare.empty()) spares_.push_back(std::move(spare));
        changed_.notify_all();
    }
}

bool SpareFiles::give(const fs::path& path) {
    struct stat st {};
    // Where the file system can rename without replacing, that rename finds a file of
    // the name: no look before it.
    if (!no_replace_ && (lstat(path.c_str(), &st) == 0 || errno != ENOENT)) return false;
    std::unique_lock lock(mutex_);
    while (!spares_.empty()) {
        fs::path spare = std::move(spares_.back());
        spares_.pop_back();
        // Checked again: a spare is only given while it has no other name.
        if (lstat(spare.c_str(), &st) == 0 && like_new(st) && st.st_nlink == 1) {
            if (!no_replace_) {
                if (::rename(spare.c_str(), path.c_str()) == 0) return true;
            } else if (::renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, path.c_str(),
                                   RENAME_NOREPLACE) == 0) {
                return true;
            } else if (errno == EEXIST) {
                spares_.push_back(std::move(spare));
                return false;
            } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
                // Not offered here: look first, and rename as before.
                no_replace_ = false;
                spares_.push_back(std::move(spare));
                lock.unlock();
                return give(path);
            }
        }
        ::unlink(spare.c_str());
    }
    // The caller makes this file itself: one fewer to make ahead.
    ++counted_;
    return false;
}

std::size_t SpareFiles::ready() const {
    std::lock_guard lock(mutex_);
    return spares_.size();
}

void SpareFiles::wait_made() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || (counted_ >= wanted_ && !making_); });
}

}  // namespace rowkeep
