// The table file (";"-separated lines) and the working file f_15_1.txt (one quoted cell
// a line, row after row), and the rewrite of the working file through f_16_1.txt.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/records.h"
#include "console/session.h"

namespace rowkeep {

inline constexpr std::string_view kWorkingFile = "f_15_1.txt";
inline constexpr std::string_view kRewriteFile = "f_16_1.txt";
inline constexpr std::string_view kRewriteCopy = "copy /y f_16_1.txt f_15_1.txt > out_null.txt";

// Reads one row of column_count values into cells[1..column_count]. With 0 columns it
// reads nothing; callers test at_end() themselves.
void read_row(TextReader& in, std::vector<std::string>& cells, int column_count);
// Writes cells[1..column_count] as quoted records, one cell a line.
void write_row(TextWriter& out, const std::vector<std::string>& cells, int column_count);

// True when another row can be read: the file has bytes left and the table has columns
// (a row of 0 values never reaches the end of the file by itself).
bool row_available(TextReader& in, int column_count);

// Reads the working file, lets body write the new content to f_16_1.txt, closes both and
// issues the copy command that puts it in place. Sets in_file_name.
// False when a step failed: f_15_1.txt is then as it was, the screen has said
// "working file can not be written: <cause>" and a key was pressed; the caller keeps
// row_count, column_count and the names as they were.
bool rewrite_working_file(Session& s, const std::function<void(TextReader&, TextWriter&)>& body);

// Runs the command that copies a finished file over f_15_1.txt; true when the working file
// was replaced (whatever else failed). False, with the failure recorded, when it was not.
bool copy_over_working_file(Session& s, std::string_view command);
// Says that the working file could not be written, and why, and waits for a key.
void report_working_file_failure(Session& s);
// Records that the working file is missing, as a failure: a table always has one.
void working_file_missing(Session& s);
// Says that the working file could not be read, and why, and waits for a key.
void report_working_file_unread(Session& s);

// Converts the table file table_name into the working file, with every intermediate file
// and copy command of the load; sets column_count, row_count and sizes the arrays.
// All or nothing: stale scratch files go first; when a step fails the screen names the
// table and the cause, waits for a key, the partial scratch files go, the counts are 0
// and the result is false.
bool load_table(Session& s);

// Writes the working file to the table file name (replaced atomically), counting the
// rows written. Only a whole working file (row_count x column_count values, read without
// a failure) is written. False when the table file could not be written: it is then
// unchanged and the faults' last cause says why.
bool save_table(Session& s, std::string_view name, int& rows_written);

}  // namespace rowkeep
