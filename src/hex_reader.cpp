#include "hex_reader.h"

#include "streams.h"

#include <array>

namespace {

static_assert(EOF == -1, "the digit table keeps the end of input at index 0");

// Digit values indexed by character + 1, so that EOF shares the table: -1 for anything that is
// not a hexadecimal digit.
constexpr std::array<signed char, 257> make_digit_table() {
    std::array<signed char, 257> table{};
    for (int c = -1; c < 256; ++c) {
        signed char value = -1;
        if (c >= '0' && c <= '9') value = static_cast<signed char>(c - '0');
        if (c >= 'A' && c <= 'F') value = static_cast<signed char>(c - 'A' + 10);
        if (c >= 'a' && c <= 'f') value = static_cast<signed char>(c - 'a' + 10);
        table[static_cast<std::size_t>(c + 1)] = value;
    }
    return table;
}

constexpr std::array<signed char, 257> digit_table = make_digit_table();

} // namespace

int hex_digit_value(int c) {
    if (c < -1 || c > 255) return -1;
    return digit_table[static_cast<std::size_t>(c + 1)];
}

int read_hex_digit() {
    return digit_table[static_cast<std::size_t>(stream_getc(hex_in) + 1)];
}

int read_hex_byte(std::uint8_t &checksum) {
    int value = 0;
    for (int i = 0; i < 2; ++i) {
        int digit = read_hex_digit();
        if (digit < 0) return -1; // the input stops right after a character that is not a digit
        value = value << 4 | digit;
    }
    checksum = static_cast<std::uint8_t>(checksum + value);
    return value;
}

int read_hex_word(std::uint8_t &checksum) {
    int high = read_hex_byte(checksum);
    if (high < 0) return -1;
    int low = read_hex_byte(checksum);
    if (low < 0) return -1;
    return high << 8 | low;
}

int read_hex_record(std::uint32_t &address, std::uint8_t *record_data, std::uint8_t &byte_count,
                    bool first) {
    for (int c = stream_getc(hex_in); c != ':'; c = stream_getc(hex_in)) {
        bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (c == EOF || !(blank || first)) return RECORD_BAD_TEXT;
    }

    std::uint8_t checksum = 0;
    int count = read_hex_byte(checksum);
    if (count < 0) return RECORD_BAD_DIGIT;
    int field = read_hex_word(checksum);
    if (field < 0) return RECORD_BAD_DIGIT;
    int type = read_hex_byte(checksum);
    if (type < 0) return RECORD_BAD_DIGIT;
    byte_count = static_cast<std::uint8_t>(count);
    address = static_cast<std::uint32_t>(field);

    // Only an end-of-file record ends the input; its checksum is not needed.
    if (count == 0 && type == RECORD_EOF) return RECORD_END;

    for (int i = 0; i < count; ++i) {
        int value = read_hex_byte(checksum);
        if (value < 0) return RECORD_BAD_DIGIT;
        record_data[i] = static_cast<std::uint8_t>(value);
    }
    if (read_hex_byte(checksum) < 0) return RECORD_BAD_DIGIT;
    if (checksum != 0) return RECORD_ERROR;

    if (type == RECORD_SEGMENT_BASE || type == RECORD_LINEAR_BASE) {
        if (count != 2) return RECORD_BAD_LENGTH;
        address = static_cast<std::uint32_t>(record_data[0] << 8 | record_data[1]);
    }
    return type;
}
