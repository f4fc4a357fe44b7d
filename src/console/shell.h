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
    // Runs a copy command whose sources are scratch files deleted before anything writes
    // them again: each target becomes a second name of its source where the file system
    // allows, so no bytes are copied. Messages, history and failures as a copy's.
    void run_sharing_copy(std::string_view line);

    // Every command line run so far, in order (tests read it).
    const std::vector<std::string>& history() const { return history_; }

    // One word of a command line. A word with a quoted part is a name, never a pattern;
    // an unquoted ">" or "<" is a redirection, wherever it stands.
    struct Word : std::string {
        bool quoted = false;
        bool redirection = false;
    };
    using Words = std::vector<Word>;

    // Splits a command line into words. Between double quotes every character is data
    // (blanks, ">", "<", "|", "&", "%", "*", "?"), and two double quotes stand for one.
    static Words split_words(std::string_view line);

  protected:
    // What a command is handed: its words after the name, whether its input is redirected
    // ("< FILE"), and the text it writes to its output.
    struct Call {
        Words args;
        bool has_input = false;
        std::string out;
    };
    // Runs the command of that name (typed as it was typed, for the message when there is
    // none): run_command finds it in one table of names and functions.
    void dispatch(const Word& name, const Word& typed, Call& call);
    // The messages of the command just run, line by line, then the wait it asked for.
    void show_messages();
    // The commands, one function each.
    void dir(Call& c);
    void dir_bare(const Words& args, std::string& out);
    void dir_full(const Words& args, std::string& out);
    void copy(Call& c);
    void make_dir(Call& c);
    void del(Call& c);
    void for_del(Call& c);  // for %i in (PATTERN) do del /q %i
    void rename(Call& c);
    void chcp(Call& c);
    // The text editor; a test or fuzz target replaces it with one that starts nothing.
    virtual void notepad(const Words& args, std::string& out);

    // Files of the folder named by a pattern such as "*.csv" or "htm_in\*.*", sorted by
    // name ignoring case; a folder name alone stands for all its files. A quoted word is
    // taken as a name: "*" and "?" in it match only themselves. A folder that could not be
    // read adds "Access is denied." to the messages and matches nothing.
    std::vector<std::filesystem::path> matching_files(const Word& pattern);
    std::filesystem::path path_of(std::string_view name) const;

    std::filesystem::path dir_;
    Console& console_;
    FileSystem files_;
    std::vector<std::string> history_;
    // Messages of the error stream of the command being run: they go to the screen.
    std::string err_;
    // The command's message must be read before the caller goes on: wait for a key.
    bool wait_after_message_ = false;
    // Copies give their targets a second name of the source (run_sharing_copy).
    bool share_copies_ = false;
};

// A file name as it goes into a command line: as it stands when made only of letters,
// digits, "_", "-", "." and the folder separator "\\"; else between double quotes, each
// double quote of it doubled, so no character of it acts as syntax.
std::string command_name(std::string_view name);

}  // namespace rowkeep
