// The names the program makes in its folder, and the clean-up that deletes only those: a
// user's notes, pages and listings beside the tables stay.
#pragma once

#include <string_view>

#include "console/session.h"

namespace rowkeep {

// True when the program writes files of this name in its folder: the working and scratch
// files (f_*, file_*, wrd_*, dir_*, page_*, check_*, return, out_null, null, sort_output,
// cell.edit; all .txt) and the pages (page_*, file_*, index, search; all .htm). Letters
// compare ignoring case.
bool is_program_file(std::string_view name);

// Deletes, of the files that match the pattern ("*.txt", "*.htm", "htm_out\*.*"), those
// the program made: its own names, and the page it wrote when that is named.
// The listing and each delete go through the session's file system: a failure is recorded
// there (the caller's step then fails) and costs no file.
void delete_program_files(Session& s, std::string_view pattern, std::string_view page = {});

// True when the folder holds a file of this name (ignoring case), a link or any other
// entry but a folder: the check that no listing which could not be written or read hides.
bool exists_in_folder(const Session& s, std::string_view name);

}  // namespace rowkeep
