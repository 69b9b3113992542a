// The character reader of Intel HEX records, the judge of every record not taken whole, and what
// the start of a file looks like.
#include "hex_reader.h"

namespace {

// Marks a character that is not a hexadecimal digit; any pair with one in it spells over 0xFF.
constexpr unsigned NOT_DIGIT = 0x100;
static_assert(DIGIT_VALUES['g'] == NOT_DIGIT, "the decoders' table marks non-digits alike");

// The value of the digit c, or NOT_DIGIT (for EOF too).
inline unsigned digit(int c) {
    return c < 0 ? NOT_DIGIT : DIGIT_VALUES[static_cast<unsigned char>(c)];
}

// Returns the byte spelled by the next two digits and adds it to `checksum`, or -1 as soon as a
// character is not a hexadecimal digit or the input ends; the input stops right after it.
inline int read_hex_byte(InputCursor &at, std::uint8_t &checksum) {
    unsigned high = digit(input_char(at));
    if (high == NOT_DIGIT) return -1;
    unsigned value = high << 4 | digit(input_char(at));
    if (value > 0xFF) return -1;
    checksum = static_cast<std::uint8_t>(checksum + value);
    return static_cast<int>(value);
}

// Returns the next two bytes as one big-endian word, or -1 (see read_hex_byte).
inline int read_hex_word(InputCursor &at, std::uint8_t &checksum) {
    int high = read_hex_byte(at, checksum);
    if (high < 0) return -1;
    int low = read_hex_byte(at, checksum);
    if (low < 0) return -1;
    return high << 8 | low;
}

// Reads a record from after its mark; see read_hex_record.
int read_after_mark(InputCursor &at, std::uint32_t &address, std::uint8_t *record_data,
                    std::uint8_t &byte_count) {
    std::uint8_t checksum = 0;
    int count = read_hex_byte(at, checksum);
    if (count < 0) return RECORD_BAD_DIGIT;
    int field = read_hex_word(at, checksum);
    if (field < 0) return RECORD_BAD_DIGIT;
    int type = read_hex_byte(at, checksum);
    if (type < 0) return RECORD_BAD_DIGIT;
    byte_count = static_cast<std::uint8_t>(count);
    address = static_cast<std::uint32_t>(field);

    // Only an end-of-file record ends the input; its checksum is not needed.
    if (count == 0 && type == RECORD_EOF) return RECORD_END;

    for (int i = 0; i < count; ++i) {
        int value = read_hex_byte(at, checksum);
        if (value < 0) return RECORD_BAD_DIGIT;
        record_data[i] = static_cast<std::uint8_t>(value);
    }
    if (read_hex_byte(at, checksum) < 0) return RECORD_BAD_DIGIT;
    if (checksum != 0) return RECORD_BAD_CHECKSUM;

    if (type == RECORD_SEGMENT_BASE || type == RECORD_LINEAR_BASE) {
        if (count != 2) return RECORD_BAD_LENGTH;
        address = static_cast<std::uint32_t>(record_data[0] << 8 | record_data[1]);
    }
    return type;
}

inline bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Finds and reads the first record. Text before it is skipped, and so is the rest of a line on
// which text stands before a ':' that does not start a good record: a comment line such as
// "# $Id: a3load.hex,v 1.1" or "# built: 10:22:33". A damaged record that starts its line
// (after blanks or a UTF-8 byte-order mark) is an error.
int read_first_record(InputCursor &at, std::uint32_t &address, std::uint8_t *record_data,
                      std::uint8_t &byte_count) {
    bool text = false; // something stands before the ':' on this line
    for (;;) {
        int c = input_char(at);
        if (c == EOF) return RECORD_BAD_TEXT;
        if (c == '\r' || c == '\n') text = false;
        bool mark_bytes = c == 0xEF || c == 0xBB || c == 0xBF;
        if (c != ':' && !is_blank(c) && !mark_bytes) text = true;
        if (c != ':') continue;
        int result = read_after_mark(at, address, record_data, byte_count);
        if (result >= 0 || result == RECORD_END || !text || input_ended()) return result;
        // Skip the rest of the comment line, unless the character that failed ended it.
        for (c = at.next[-1]; c != '\r' && c != '\n'; c = input_char(at))
            if (c == EOF) return RECORD_BAD_TEXT;
        text = false;
    }
}

inline int read_record(InputCursor &at, std::uint32_t &address, std::uint8_t *record_data,
                       std::uint8_t &byte_count, bool first) {
    if (first) return read_first_record(at, address, record_data, byte_count);
    for (int c = input_char(at); c != ':'; c = input_char(at))
        if (!is_blank(c)) return RECORD_BAD_TEXT;
    return read_after_mark(at, address, record_data, byte_count);
}

} // namespace

int read_hex_record(std::uint32_t &address, std::uint8_t *record_data, std::uint8_t &byte_count,
                    bool first) {
    InputCursor at = input_cursor();
    int result = read_record(at, address, record_data, byte_count, first);
    input_resume(at);
    return result;
}

int hex_digit_value(int c) {
    if (c < -1 || c > 255 || digit(c) == NOT_DIGIT) return -1;
    return static_cast<int>(digit(c));
}

int next_record(RecordWalk &walk) {
    AddressBase &base = walk.base;
    if (plain_records && !walk.first) {
        InputCursor at = input_cursor();
        std::uint32_t field = 0;
        unsigned count = take_plain_record(at, plain_field_end(base), walk.seen, walk.plain, field);
        if (count != 0) {
            input_resume(at);
            walk.count = static_cast<std::uint8_t>(count);
            walk.data = walk.plain + 4;
            walk.place = {base.base + field, count, base.base};
            walk.field = field;
            return RECORD_DATA;
        }
    }
    std::uint32_t address = 0;
    walk.count = 0;
    int result = read_hex_record(address, walk.exact, walk.count, walk.first);
    walk.first = false;
    walk.data = walk.exact;
    walk.field = address;
    if (result == RECORD_SEGMENT_BASE || result == RECORD_LINEAR_BASE) {
        base.segmented = result == RECORD_SEGMENT_BASE;
        base.base = address << (base.segmented ? 4 : 16);
    }
    if (result == RECORD_DATA) {
        // Under a segment base, addresses wrap at the end of the 64 KiB segment; under a linear
        // base they run on across it.
        std::uint32_t before_wrap = walk.count;
        if (base.segmented && address + before_wrap > 0x10000) before_wrap = 0x10000 - address;
        walk.place = {base.base + address, before_wrap, base.base};
    }
    return result;
}

namespace {

// Whether the record whose text, after its mark, starts at `text` lies whole within `length`
// characters, all digits, and its checksum adds up.
bool good_record(const unsigned char *text, std::size_t length) {
    unsigned count = digit(text[0]) << 4 | digit(text[1]);
    std::size_t digits = 2 * (std::size_t{count} + 5);
    if (digits > length) return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i < digits; i += 2) {
        unsigned value = digit(text[i]) << 4 | digit(text[i + 1]);
        if (value > 0xFF) return false;
        sum += value;
    }
    return (sum & 0xFF) == 0;
}

// Whether `c` may stand in a text file: not a control character, but for blanks and line ends.
// Bytes from 0x80 on are text: comments may be in UTF-8 or a code page.
bool is_text(unsigned char c) {
    return c >= 0x20 ? c != 0x7F : (c >= '\t' && c <= '\r');
}

} // namespace

int judge_file_start(const unsigned char *text, std::size_t length, bool whole, bool &good_first) {
    good_first = false;
    if (length == 0) return whole ? LOOKS_EMPTY : LOOKS_HEX;
    if (length >= 4 && text[0] == 0x7F && text[1] == 'E' && text[2] == 'L' && text[3] == 'F')
        return LOOKS_ELF;
    bool line_start = true;
    bool s_records = false;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = text[i];
        std::size_t left = length - i - 1;
        if (c == ':' && left >= 10) {
            bool digits = true;
            for (std::size_t k = 1; k <= 10 && digits; ++k)
                digits = digit(text[i + k]) != NOT_DIGIT;
            if (digits) {
                good_first = good_record(text + i + 1, left);
                return LOOKS_HEX;
            }
        }
        if (line_start && (c == 'S' || c == 's') && left >= 1 && text[i + 1] >= '0' &&
            text[i + 1] <= '9')
            s_records = true;
        if (!is_text(c)) return s_records ? LOOKS_SRECORD : LOOKS_BINARY;
        line_start = c == '\n' || c == '\r' || (line_start && (c == ' ' || c == '\t'));
    }
    if (s_records) return LOOKS_SRECORD;
    return whole ? LOOKS_TEXT : LOOKS_HEX;
}
