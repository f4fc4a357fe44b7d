#include "console/replace_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <random>
#include <system_error>
#include <vector>

#include "console/index.h"

namespace rowkeep {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = ".rowkeep-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kPidDigits = 10;
constexpr std::size_t kRandomChars = 6;
constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kLinkLimit = 40;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool in_alphabet(char c) {
    return kAlphabet.find(c) != std::string_view::npos;
}

// From the kernel's pool in one call: a std::random_device made for each name asks the
// processor for its features and seeds, which a virtual machine answers slowly, and a save
// makes a hundred temporary names.
std::string random_suffix() {
    std::uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
        std::random_device random;
        bits = (static_cast<std::uint64_t>(random()) << 32) ^ random();
    }
    std::string s;
    for (std::size_t i = 0; i < kRandomChars; ++i) {
        s += kAlphabet[bits % kAlphabet.size()];
        bits /= kAlphabet.size();
    }
    return s;
}

// 0 when the file at path may be replaced: missing, or a regular file not marked read-only;
// existed and old say what is there.
int check_replaceable(const fs::path& path, struct stat& old, bool& existed) {
    existed = lstat(path.c_str(), &old) == 0;
    if (!existed) return errno == ENOENT ? 0 : errno;
    if (!S_ISREG(old.st_mode)) return S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
    // A read-only file says "do not change me", to its owner and to root alike.
    if ((old.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) return EACCES;
    return 0;
}

// Tries fresh temporary names beside final_path until make(name) succeeds (0, the name in
// temp) or fails other than by the name being taken (the errno, temp empty).
template <typename Make>
int make_temporary(const fs::path& final_path, fs::path& temp, Make make) {
    fs::path folder = final_path.parent_path();
    if (folder.empty()) folder = ".";
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        temp = folder / temporary_name(static_cast<long>(getpid()), random_suffix());
        error = make(temp) ? 0 : errno;
    }
    if (error != 0) temp.clear();
    return error;
}

}  // namespace

std::string temporary_name(long pid, std::string_view suffix) {
    std::string digits = std::to_string(pid < 0 ? 0 : pid);
    if (digits.size() < kPidDigits) digits.insert(0, kPidDigits - digits.size(), '0');
    return std::string(kPrefix) + digits + "-" + std::string(suffix) + std::string(kSuffix);
}

bool is_temporary_name(std::string_view name, long* pid) {
    const std::size_t size = kPrefix.size() + kPidDigits + 1 + kRandomChars + kSuffix.size();
    if (name.size() != size || name.substr(0, kPrefix.size()) != kPrefix ||
        name.substr(size - kSuffix.size()) != kSuffix)
        return false;
    std::string_view digits = name.substr(kPrefix.size(), kPidDigits);
    long value = 0;
    for (char c : digits) {
        if (!is_digit(c)) return false;
        value = value * 10 + (c - '0');
    }
    if (name[kPrefix.size() + kPidDigits] != '-') return false;
    for (char c : name.substr(kPrefix.size() + kPidDigits + 1, kRandomChars))
        if (!in_alphabet(c)) return false;
    if (pid) *pid = value;
    return true;
}

fs::path follow_links(const fs::path& path, int& error) {
    error = 0;
    fs::path p = path;
    for (int hops = 0; hops <= kLinkLimit; ++hops) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT) error = errno;
            return p;
        }
        if (!S_ISLNK(st.st_mode)) return p;
        std::vector<char> buffer(idx(st.st_size > 0 ? st.st_size : 255) + 1);
        ssize_t n = readlink(p.c_str(), buffer.data(), buffer.size());
        if (n < 0) {
            error = errno;
            return p;
        }
        fs::path link(std::string(buffer.data(), idx(n)));
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    error = ELOOP;
    return p;
}

int ReplacingFile::begin(const fs::path& target, ReplaceAt at) {
    abandon();
    error_ = 0;
    final_ = at == ReplaceAt::target ? follow_links(target, error_) : target;
    if (error_ != 0) return -1;
    struct stat old {};
    bool existed = false;
    error_ = check_replaceable(final_, old, existed);
    if (error_ != 0) return -1;
    int fd = -1;
    error_ = make_temporary(final_, temp_, [&fd](const fs::path& temp) {
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        return fd >= 0;
    });
    if (error_ != 0) return -1;
    if (existed) {
        // Owner and group only where the system permits; the mode always, or a private
        // table would come back readable by everyone.
        if (fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        if (fchmod(fd, old.st_mode & 07777) != 0) {
            error_ = errno;
            close(fd);
            abandon();
            return -1;
        }
    }
    return fd;
}

bool ReplacingFile::commit() {
    if (temp_.empty()) return false;
    if (::rename(temp_.c_str(), final_.c_str()) != 0) {
        error_ = errno;
        abandon();
        return false;
    }
    temp_.clear();
    return true;
}

void ReplacingFile::abandon() {
    if (temp_.empty()) return;
    unlink(temp_.c_str());
    temp_.clear();
}

fs::path link_temporary(const fs::path& from) {
    fs::path temp;
    make_temporary(from, temp, [&from](const fs::path& name) {
        return ::link(from.c_str(), name.c_str()) == 0;
    });
    return temp;
}

fs::path new_temporary(const fs::path& folder) {
    fs::path temp;
    make_temporary(folder / "f", temp, [](const fs::path& name) {
        const int fd =
            open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    });
    return temp;
}

int link_replacing(const fs::path& from, const fs::path& to) {
    struct stat old {};
    bool existed = false;
    if (int error = check_replaceable(to, old, existed)) return error;
    if (!existed) return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    fs::path temp;
    if (int error = make_temporary(to, temp, [&from](const fs::path& name) {
            return ::link(from.c_str(), name.c_str()) == 0;
        }))
        return error;
    if (::rename(temp.c_str(), to.c_str()) == 0) return 0;
    const int error = errno;
    ::unlink(temp.c_str());
    return error;
}

}  // namespace rowkeep
