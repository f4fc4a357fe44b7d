// The command interpreter: the command lines the program issues, carried out in-process.
// It never hands a line to a system shell, so a typed name can never run anything.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "console/file_system.h"

namespace rowkeep {

class Console;

class Shell {
  public:
    Shell(std::filesystem::path dir, Console& console)
        : dir_(std::move(dir)), console_(console), files_(dir_) {}
    virtual ~Shell() = default;

    // The file system its commands go through (the session's, with its faults).
    void use_files(const FileSystem& files) { files_ = files; }

    // Runs one command line and returns when it has finished; results are judged by the
    // files it leaves. Messages go to the redirection file, else to the screen.
    virtual void run_command(std::string_view line);

    // Every command line run so far, in order (tests read it).
    const std::vector<std::string>& history() const { return history_; }

  protected:
    // Splits a command line into words; a double-quoted word may hold blanks.
    static std::vector<std::string> split_words(std::string_view line);

    virtual void dir_bare(const std::vector<std::string>& args, std::string& out);
    virtual void dir_full(const std::vector<std::string>& args, std::string& out);
    virtual void copy(const std::vector<std::string>& args, std::string& out);
    virtual void make_dir(const std::vector<std::string>& args, std::string& out);
    virtual void del(const std::vector<std::string>& args, std::string& out);
    virtual void rename(const std::vector<std::string>& args, std::string& out);
    virtual void chcp(const std::vector<std::string>& args, bool report_only, std::string& out);
    virtual void notepad(const std::vector<std::string>& args, std::string& out);

    // Files of the folder named by a pattern such as "*.csv" or "htm_in\*.*", sorted by
    // name ignoring case; a folder name alone stands for all its files. A folder that
    // could not be read adds "Access is denied." to the messages and matches nothing.
    std::vector<std::filesystem::path> matching_files(std::string_view pattern);
    std::filesystem::path path_of(std::string_view name) const;

    std::filesystem::path dir_;
    Console& console_;
    FileSystem files_;
    std::vector<std::string> history_;
    // Messages of the error stream of the command being run: they go to the screen.
    std::string err_;
    // The command's message must be read before the caller goes on: wait for a key.
    bool wait_after_message_ = false;
};

// A file name as it goes into a command line: between double quotes when it holds a
// blank, so the interpreter takes it as one word.
std::string command_name(std::string_view name);

}  // namespace rowkeep
