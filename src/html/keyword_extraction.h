// The keyword extraction: numbers the pages of htm_in as page_<n>.htm, scans their
// words into wrd_01.txt (with a trace file page_<n>.txt each), and builds the sorted
// and numbered word files wrd_02.txt to wrd_06.txt and wrd_06_<k>.txt.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/session.h"

namespace rowkeep {

// "id" and the number with at least 6 digits: id000017.
std::string word_id(long long number);
// Right-aligned in a field of the width, padded with blanks; longer texts as they stand.
std::string padded(long long number, std::size_t width);

// A word's position as the word files hold it: right-aligned in 6 characters up to
// 999999, so that the sort of whole records orders positions by number. A longer
// position (a line of a cell of a million characters or more) is "~" and the number
// right-aligned in 10: it sorts after every short one and in order among its like.
std::string position_field(long long position);
// The same text, held where it is used: the word records take one for every word.
class PositionField {
  public:
    explicit PositionField(long long position);
    operator std::string_view() const { return {text_, size_}; }

  private:
    char text_[32];  // "~", 10 places, and at most 20 characters of a number
    std::size_t size_ = 0;
};
// The number a position field holds (0 for none).
long long position_value(std::string_view field);

// Renames the pages of htm_in to file_<name>, writes their numbered copies page_<n>.htm
// (bytes 0 to 15 removed) and dir_02.txt, and scans them into wrd_01.txt. With s.spares
// set, the first sort's files are made ahead meanwhile, as the words come.
void number_and_scan_pages(Session& s);

// The two sorts and the numbering: wrd_01.txt to wrd_06.txt and the split by page. With
// s.spares set, the sorts take their files from there, the second the first's. The
// records wrd_06.txt got.
std::uint64_t sort_and_number_words(Session& s);

}  // namespace rowkeep
