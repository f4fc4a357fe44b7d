// Key values: the characters and scan codes the program reads keys as.
#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "console/escapes.h"

namespace rowkeep {

// PC scan codes of the keys without a character; their key value is code 255 + scan code.
enum ScanCode : unsigned char {
    kScanF1 = 59,
    kScanF10 = 68,
    kScanHome = 71,
    kScanUp = 72,
    kScanPgUp = 73,
    kScanLeft = 75,
    kScanRight = 77,
    kScanEnd = 79,
    kScanDown = 80,
    kScanPgDn = 81,
    kScanInsert = 82,
    kScanDelete = 83,
};

inline constexpr char kEnter = '\r';
inline constexpr char kEsc = 27;

std::string extended_key(unsigned char scan);
bool is_extended(std::string_view key, unsigned char scan);

// Turns terminal bytes into key values. Escape sequences become code 255 + scan code;
// an Esc that no sequence follows in time is the key 27; unknown sequences are dropped.
// LF and CR LF give one Enter. Reading UTF-8, the bytes of one character make one key.
class KeyDecoder {
  public:
    explicit KeyDecoder(bool utf8 = false) : utf8_(utf8) {}
    void feed(unsigned char byte);
    // No byte came within the escape timeout: a lone Esc becomes a key, and a character
    // cut short is handed out as far as it came.
    void timeout();
    // An Esc sequence or a character is half read, so the reader should wait a short
    // time, not forever.
    bool pending() const { return !sequence_.empty() || !character_.empty(); }
    bool has_key() const { return !keys_.empty(); }
    std::string take();

  private:
    void finish_sequence();
    void finish_character();
    bool utf8_;
    std::string sequence_;   // bytes of an escape sequence being read, starting with ESC
    std::string character_;  // bytes of a UTF-8 character being read
    std::size_t character_length_ = 0;
    std::deque<std::string> keys_;
    bool after_cr_ = false;
};

}  // namespace rowkeep
