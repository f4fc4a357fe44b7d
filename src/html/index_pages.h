// The index run's last step: the anchored pages, index.htm and search.htm from the word
// files, the results gathered in htm_out, the console back on code page 1252.
#pragma once

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "console/session.h"
#include "html/code_page_check.h"

namespace rowkeep {

// The address the search links lead to; the query follows it.
inline constexpr std::string_view kWebSearchAddress = "https://www.google.com/search?q=";

// The lines of the highlighting script.
std::vector<std::string> highlighting_script(const IndexSettings& settings);

// The query of a search line: the word list ("one two three ") itself with at most 28
// words; with more, 28 words picked at random, each with its leading blank, repeats
// dropped. previous_length is the list's length before its last word was added.
std::string search_query(std::string_view word_list, int words, std::size_t previous_length,
                         std::mt19937& random);

// Rewrites every page with words as anchored page (through <base>_02.htm).
void write_anchored_pages(Session& s, const IndexSettings& settings);
void write_index_page(Session& s, const IndexSettings& settings);
void write_search_page(Session& s, const IndexSettings& settings);
// Gathers the results in htm_out, clears the folder, "chcp 1252" and the closing dialogue.
void gather_results(Session& s);

// many: wrd_06.txt holds about kWriteBehindRecords records or more (the large files are
// then written on threads of their own).
void write_index_pages(Session& s, const IndexSettings& settings, bool many = false);

}  // namespace rowkeep
