#include "console/keys.h"

namespace rowkeep {

namespace {

struct Sequence {
    std::string_view bytes;  // after ESC
    unsigned char scan;
};

// Every sequence the decoder knows, xterm and VT forms alike.
constexpr Sequence kSequences[] = {
    {"[A", kScanUp},    {"[B", kScanDown},    {"[C", kScanRight},   {"[D", kScanLeft},
    {"[H", kScanHome},  {"[F", kScanEnd},     {"OA", kScanUp},      {"OB", kScanDown},
    {"OC", kScanRight}, {"OD", kScanLeft},    {"OH", kScanHome},    {"OF", kScanEnd},
    {"[1~", kScanHome}, {"[2~", kScanInsert}, {"[3~", kScanDelete}, {"[4~", kScanEnd},
    {"[5~", kScanPgUp}, {"[6~", kScanPgDn},   {"[7~", kScanHome},   {"[8~", kScanEnd},
    {"OP", 59},         {"OQ", 60},           {"OR", 61},           {"OS", 62},
    {"[11~", 59},       {"[12~", 60},         {"[13~", 61},         {"[14~", 62},
    {"[15~", 63},       {"[17~", 64},         {"[18~", 65},         {"[19~", 66},
    {"[20~", 67},       {"[21~", 68},         {"[[A", 59},          {"[[B", 60},
    {"[[C", 61},        {"[[D", 62},          {"[[E", 63},
};

}  // namespace

std::string extended_key(unsigned char scan) {
    return std::string{static_cast<char>(255), static_cast<char>(scan)};
}

bool is_extended(std::string_view key, unsigned char scan) {
    return key.size() == 2 && static_cast<unsigned char>(key[0]) == 255 &&
           static_cast<unsigned char>(key[1]) == scan;
}

namespace {

// Bytes of a UTF-8 character that starts with this byte; 0 for a byte that starts none.
std::size_t utf8_length(unsigned char lead) {
    if (lead >= 0xc2 && lead <= 0xdf) return 2;
    if (lead >= 0xe0 && lead <= 0xef) return 3;
    if (lead >= 0xf0 && lead <= 0xf4) return 4;
    return 0;
}

}  // namespace

void KeyDecoder::finish_character() {
    keys_.push_back(std::move(character_));
    character_.clear();
    character_length_ = 0;
}

void KeyDecoder::feed(unsigned char byte) {
    if (!character_.empty()) {
        if ((byte & 0xc0) == 0x80) {
            character_ += static_cast<char>(byte);
            if (character_.size() == character_length_) finish_character();
            return;
        }
        finish_character();  // cut short: the key holds what came, the byte goes on
    }
    if (!sequence_.empty()) {
        if (sequence_.size() == 1 && byte != '[' && byte != 'O') {
            // ESC followed by an ordinary key: the Esc key, then that key.
            keys_.push_back(std::string(1, kEsc));
            sequence_.clear();
        } else {
            sequence_ += static_cast<char>(byte);
            // A CSI sequence ends with a byte from @ to ~; an SS3 sequence after one byte.
            // The Linux console's F1 to F5 are CSI "[" plus one letter.
            bool ended = sequence_.size() >= 3 && sequence_ != "\x1b[[" &&
                         (sequence_[1] == 'O' || (byte >= 0x40 && byte <= 0x7e));
            if (ended || sequence_.size() > 16) finish_sequence();
            return;
        }
    }
    if (utf8_ && utf8_length(byte) > 0) {
        character_ = std::string(1, static_cast<char>(byte));
        character_length_ = utf8_length(byte);
        after_cr_ = false;
        return;
    }
    if (byte == kEsc) {
        sequence_ = std::string(1, kEsc);
        after_cr_ = false;
        return;
    }
    if (byte == '\n') {
        if (!after_cr_) keys_.push_back(std::string(1, kEnter));
        after_cr_ = false;
        return;
    }
    after_cr_ = byte == '\r';
    keys_.push_back(std::string(1, static_cast<char>(byte)));
}

void KeyDecoder::finish_sequence() {
    std::string_view body = std::string_view(sequence_).substr(1);
    for (const auto& s : kSequences) {
        if (s.bytes == body) {
            keys_.push_back(extended_key(s.scan));
            break;
        }
    }
    sequence_.clear();
}

void KeyDecoder::timeout() {
    if (!character_.empty()) finish_character();
    if (sequence_.size() == 1) keys_.push_back(std::string(1, kEsc));
    // A sequence cut short is dropped: its key is unknown.
    sequence_.clear();
}

std::string KeyDecoder::take() {
    if (keys_.empty()) return "";
    std::string key = std::move(keys_.front());
    keys_.pop_front();
    return key;
}

}  // namespace rowkeep
