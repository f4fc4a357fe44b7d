#include "console/shell.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "console/code_page.h"
#include "console/console.h"
#include "console/records.h"
#include "console/replace_file.h"
#include "console/tokens.h"

namespace rowkeep {

namespace fs = std::filesystem;

namespace {

std::string lower_name(std::string_view s) {
    return lower_az(s);
}

// A name as the messages show it: relative to the working folder, "/" between folders.
std::string shown_name(std::string_view name) {
    std::string shown(name);
    std::replace(shown.begin(), shown.end(), '\\', '/');
    return shown;
}

bool is_flag(const std::string& word, const char* flag) {
    return lower_name(word) == flag;
}

std::string read_whole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Words of VISUAL or EDITOR: blanks separate them; nothing else is interpreted.
std::vector<std::string> editor_words(const char* value) {
    std::vector<std::string> words;
    std::istringstream in(value ? value : "");
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

bool on_path(const std::string& program) {
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    std::string d;
    while (std::getline(dirs, d, ':'))
        if (!d.empty() && access((d + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

// Runs the program with the file as its last argument and waits; false when it could not
// be started.
bool run_and_wait(std::vector<std::string> words, const fs::path& file, const fs::path& cwd) {
    words.push_back(file.string());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int report[2];
    if (pipe(report) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(report[0]);
        fcntl(report[1], F_SETFD, FD_CLOEXEC);
        if (chdir(cwd.c_str()) != 0) _exit(127);
        execvp(argv[0], argv.data());
        char failed = 1;
        (void)!write(report[1], &failed, 1);
        _exit(127);
    }
    close(report[1]);
    char failed = 0;
    ssize_t n;
    while ((n = read(report[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return n <= 0;  // the pipe closed on a successful exec
}

}  // namespace

std::string command_name(std::string_view name) {
    auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.' || c == '\\';
    };
    if (!name.empty() && std::all_of(name.begin(), name.end(), plain)) return std::string(name);
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

Shell::Words Shell::split_words(std::string_view line) {
    Words words;
    std::size_t i = 0;
    auto blank = [&](std::size_t at) { return line[at] == ' ' || line[at] == '\t'; };
    auto redirect = [&](std::size_t at) { return line[at] == '>' || line[at] == '<'; };
    while (i < line.size()) {
        while (i < line.size() && blank(i)) ++i;
        if (i >= line.size()) break;
        Word word;
        if (redirect(i)) {
            word += line[i++];
            word.redirection = true;
            words.push_back(word);
            continue;
        }
        bool inside = false;
        while (i < line.size() && (inside || (!blank(i) && !redirect(i)))) {
            if (line[i] != '"') {
                word += line[i++];
            } else if (!inside) {
                inside = word.quoted = true;
                ++i;
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                word += '"';
                i += 2;
            } else {
                inside = false;
                ++i;
            }
        }
        words.push_back(word);
    }
    return words;
}

fs::path Shell::path_of(std::string_view name) const {
    return files_.resolve(name);
}

std::vector<fs::path> Shell::matching_files(const Word& pattern) {
    std::string folder, mask(pattern);
    auto slash = pattern.find_last_of("\\/");
    if (slash != std::string::npos) {
        folder = pattern.substr(0, slash);
        mask = pattern.substr(slash + 1);
    }
    fs::path base = folder.empty() ? dir_ : path_of(folder);
    std::error_code ec;
    const bool wildcards = !pattern.quoted && mask.find_first_of("*?") != std::string::npos;
    if (!wildcards) {
        fs::path named = path_of(pattern);
        if (fs::is_directory(named, ec)) {
            base = named;
            mask = "*";
        } else {
            if (!fs::is_regular_file(named, ec) || is_temporary_name(named.filename().string()))
                return {};
            return {named};
        }
    }
    std::vector<fs::path> all;
    if (!files_.list(base, all)) err_ += "Access is denied.\r\n";
    // Patterns match, and listings sort, by the names as the code page shows them.
    std::vector<std::pair<std::string, fs::path>> found;
    for (const auto& path : all) {
        if (is_temporary_name(path.filename().string())) continue;  // a replace under way
        std::string name = files_.listed_name(path);
        if (matches_pattern(mask, name)) found.emplace_back(std::move(name), path);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        std::string la = lower_name(a.first), lb = lower_name(b.first);
        return la != lb ? la < lb : a.second.filename() < b.second.filename();
    });
    std::vector<fs::path> paths;
    paths.reserve(found.size());
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

namespace {

// The message for a redirection file that could not be written.
std::string redirection_failure(const FileSystem& files) {
    const int error = files.faults() ? files.faults()->last_error() : errno;
    return error == ENOSPC ? "There is not enough space on the disk.\r\n" : "Access is denied.\r\n";
}

}  // namespace

void Shell::run_command(std::string_view line) {
    history_.emplace_back(line);
    const Words words = split_words(line);
    // Redirections: "> FILE" receives the messages, "< FILE" is the input.
    std::string output_file;
    Call call;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i].redirection) {
            if (words[i] == ">" && i + 1 < words.size()) output_file = words[i + 1];
            if (words[i] == "<") call.has_input = true;
            ++i;
        } else {
            call.args.push_back(words[i]);
        }
    }
    if (call.args.empty()) return;
    const Word name = call.args.front();
    call.args.erase(call.args.begin());
    err_.clear();
    bool runs = true;
    if (!output_file.empty()) {
        // The interpreter creates the redirection file before the command runs; a command
        // whose output has nowhere to go does not run.
        TextWriter created(files_, output_file);
        if (!created.close()) {
            err_ += redirection_failure(files_);
            runs = false;
        }
    }
    if (runs) dispatch(name, words.front(), call);
    // Error messages reach the screen even when the output is redirected, so a listing
    // that matched nothing stays empty.
    if (!output_file.empty()) {
        if (!call.out.empty()) {
            TextWriter w(files_, output_file);
            w.write_raw(call.out);
            if (!w.close()) err_ += redirection_failure(files_);
        }
    } else {
        err_ = call.out + err_;
    }
    show_messages();
}

void Shell::dispatch(const Word& name, const Word& typed, Call& call) {
    using Handler = void (*)(Shell&, Call&);
    static constexpr std::pair<std::string_view, Handler> kCommands[] = {
        {"cls", [](Shell& sh, Call&) { sh.console_.clear(); }},
        {"dir", [](Shell& sh, Call& c) { sh.dir(c); }},
        {"copy", [](Shell& sh, Call& c) { sh.copy(c); }},
        {"md", [](Shell& sh, Call& c) { sh.make_dir(c); }},
        {"mkdir", [](Shell& sh, Call& c) { sh.make_dir(c); }},
        {"del", [](Shell& sh, Call& c) { sh.del(c); }},
        {"for", [](Shell& sh, Call& c) { sh.for_del(c); }},
        {"rename", [](Shell& sh, Call& c) { sh.rename(c); }},
        {"ren", [](Shell& sh, Call& c) { sh.rename(c); }},
        {"chcp", [](Shell& sh, Call& c) { sh.chcp(c); }},
        {"notepad", [](Shell& sh, Call& c) { sh.notepad(c.args, c.out); }},
        {"notepad.exe", [](Shell& sh, Call& c) { sh.notepad(c.args, c.out); }},
    };
    const std::string command = lower_name(name);
    const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const auto& entry) { return entry.first == command; });
    if (found != std::end(kCommands))
        found->second(*this, call);
    else
        err_ += "'" + std::string(typed) +
                "' is not recognized as an internal or external command,\r\n"
                "operable program or batch file.\r\n";
}

void Shell::show_messages() {
    const std::string screen = std::move(err_);
    err_.clear();
    std::size_t start = 0;
    while (start < screen.size()) {
        std::size_t end = screen.find("\r\n", start);
        if (end == std::string::npos) end = screen.size();
        console_.print_text(std::string_view(screen).substr(start, end - start));
        start = end + 2;
    }
    if (wait_after_message_) {
        wait_after_message_ = false;
        console_.print_text("<> any key to continue");
        console_.wait_any_key();
    }
}

void Shell::dir(Call& c) {
    if (!c.args.empty() && is_flag(c.args[0], "/b")) {
        c.args.erase(c.args.begin());
        dir_bare(c.args, c.out);
    } else {
        dir_full(c.args, c.out);
    }
}

void Shell::for_del(Call& c) {
    const Words& args = c.args;
    Word pattern;
    if (args.size() >= 3 && lower_name(args[1]) == "in") pattern = args[2];
    if (pattern.size() >= 2 && pattern.front() == '(' && pattern.back() == ')')
        pattern.assign(pattern.substr(1, pattern.size() - 2));
    auto do_at = std::find_if(args.begin(), args.end(),
                              [](const std::string& w) { return lower_name(w) == "do"; });
    if (!pattern.empty() && do_at != args.end() && do_at + 1 != args.end() &&
        lower_name(*(do_at + 1)) == "del") {
        for (const auto& file : matching_files(pattern)) files_.remove(file);
    }
}

void Shell::dir_bare(const Words& args, std::string& out) {
    if (args.empty()) return;
    const std::size_t errors = err_.size();
    auto files = matching_files(args[0]);
    if (files.empty()) {
        if (err_.size() == errors) err_ += "File Not Found\r\n";
        return;
    }
    for (const auto& f : files) out += files_.listed_name(f) + "\r\n";
}

void Shell::dir_full(const Words& args, std::string& out) {
    Word pattern;
    if (args.empty())
        pattern.assign("*");
    else
        pattern = args[0];
    out += " Volume in drive C has no label.\r\n";
    out += " Volume Serial Number is 0000-0000\r\n";
    out += "\r\n";
    out += " Directory of " + files_.in_code_page(dir_.string()) + "\r\n";
    out += "\r\n";
    const std::size_t errors = err_.size();
    auto files = matching_files(pattern);
    if (files.empty()) {
        if (err_.size() == errors) err_ += "File Not Found\r\n";
        return;
    }
    std::uintmax_t total = 0;
    for (const auto& f : files) {
        std::error_code ec;
        auto size = fs::file_size(f, ec);
        total += size;
        std::string number = std::to_string(size);
        std::string line = "01/01/2026  12:00 AM";
        line += std::string(number.size() < 18 ? 18 - number.size() : 1, ' ') + number;
        out += line + " " + files_.listed_name(f) + "\r\n";
    }
    out += "               " + std::to_string(files.size()) + " File(s)  " + std::to_string(total) +
           " bytes\r\n";
    out += "               0 Dir(s)  0 bytes free\r\n";
}

void Shell::copy(Call& c) {
    const Words& all_args = c.args;
    std::string& out = c.out;
    Words args;
    for (const auto& a : all_args)
        if (!(a.size() == 2 && a[0] == '/')) args.push_back(a);  // /y and /b change nothing here
    if (args.empty()) {
        err_ += "The syntax of the command is incorrect.\r\n";
        return;
    }
    auto sources = !args[0].quoted && args[0].find_first_of("*?") != std::string::npos
                       ? matching_files(args[0])
                       : std::vector<fs::path>{path_of(args[0])};
    std::string target = args.size() > 1 ? std::string(args[1]) : std::string();
    int copied = 0;
    for (const auto& source : sources) {
        std::error_code ec;
        if (!fs::is_regular_file(source, ec)) {
            err_ += "The system cannot find the file specified.\r\n";
            continue;
        }
        fs::path to;
        if (target.empty()) {
            to = files_.resolve_in(dir_, source.filename().string());
        } else {
            fs::path named = path_of(target);
            bool folder =
                target.back() == '\\' || target.back() == '/' || fs::is_directory(named, ec);
            to = folder ? files_.resolve_in(named, source.filename().string()) : named;
        }
        if (fs::exists(to, ec) && fs::equivalent(source, to, ec)) {
            err_ += "The file cannot be copied onto itself.\r\n";
            continue;
        }
        if (share_copies_ ? files_.share(source, to) : files_.copy(source, to))
            ++copied;
        else
            err_ += errno == ENOSPC ? "There is not enough space on the disk.\r\n"
                                    : "Access is denied.\r\n";
    }
    out += "        " + std::to_string(copied) + " file(s) copied.\r\n";
}

void Shell::run_sharing_copy(std::string_view line) {
    struct Sharing {
        bool& on;
        explicit Sharing(bool& flag) : on(flag) { on = true; }
        ~Sharing() { on = false; }
    } sharing(share_copies_);
    run_command(line);
}

void Shell::make_dir(Call& c) {
    const Words& args = c.args;
    for (const auto& a : args) {
        fs::path p = path_of(a);
        std::error_code ec;
        if (fs::exists(p, ec)) {
            err_ += "A subdirectory or file " + shown_name(a) + " already exists.\r\n";
            continue;
        }
        if (!files_.make_dir(p)) err_ += "Access is denied.\r\n";
    }
}

void Shell::del(Call& c) {
    const Words& args = c.args;
    for (const auto& a : args) {
        if (a.size() == 2 && a[0] == '/') continue;
        const std::size_t errors = err_.size();
        auto files = matching_files(a);
        if (files.empty()) {
            if (err_.size() == errors) err_ += "Could Not Find " + shown_name(a) + "\r\n";
            continue;
        }
        for (const auto& f : files)
            if (!files_.remove(f)) err_ += "Access is denied.\r\n";
    }
}

void Shell::rename(Call& c) {
    const Words& args = c.args;
    if (args.size() < 2 || args[1].find_first_of("\\/") != std::string::npos) {
        err_ += "The syntax of the command is incorrect.\r\n";
        return;
    }
    fs::path from = path_of(args[0]);
    std::error_code ec;
    if (!fs::exists(from, ec)) {
        err_ += "The system cannot find the file specified.\r\n";
        return;
    }
    fs::path to = from.parent_path() / files_.disk_name(args[1]);
    if (fs::exists(to, ec) && !fs::equivalent(from, to, ec)) {
        err_ += "A duplicate file name exists, or the file\r\ncannot be found.\r\n";
        return;
    }
    if (!files_.rename(from, to)) err_ += "Access is denied.\r\n";
}

void Shell::chcp(Call& c) {
    const Words& args = c.args;
    const bool report_only = c.has_input;
    std::string& out = c.out;
    Terminal& terminal = console_.terminal();
    if (!args.empty() && !report_only) {
        int number = std::atoi(args[0].c_str());
        if (!terminal.set_code_page(number)) {
            err_ += "Invalid code page\r\n";
        }
        return;  // a change of page says nothing when it works
    }
    out += "Active code page: " + std::to_string(terminal.code_page()) + ".\r\n";
}

void Shell::notepad(const Words& args, std::string& /*out*/) {
    if (args.empty()) return;
    fs::path file = path_of(args[0]);
    Terminal& terminal = console_.terminal();
    std::vector<std::vector<std::string>> candidates;
    for (const char* var : {"VISUAL", "EDITOR"}) {
        auto words = editor_words(std::getenv(var));
        if (!words.empty()) candidates.push_back(words);
    }
    for (const char* program : {"nano", "vi"})
        if (on_path(program)) candidates.push_back({program});
    // The editor sees the text as the terminal shows it; it comes back in the code page.
    const bool convert = terminal.converts();
    const std::string page = iconv_name(terminal.code_page()), shown = terminal.locale_charset();
    std::string original;
    if (convert) {
        original = read_whole(file);
        std::ofstream(file, std::ios::binary) << convert_text(page, shown, original);
    }
    terminal.suspend();
    bool started = false;
    for (const auto& words : candidates)
        if ((started = run_and_wait(words, file, dir_))) break;
    terminal.resume();
    if (convert) {
        std::string edited = started ? read_whole(file) : std::string();
        std::ofstream(file, std::ios::binary)
            << (started ? convert_text(shown, page, edited) : original);
    }
    if (!started) {
        err_ += "no text editor could be started (set VISUAL or EDITOR)\r\n";
        wait_after_message_ = true;  // the screen is redrawn next: let it be read first
    }
}

}  // namespace rowkeep
