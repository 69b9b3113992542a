// Check values for the image: their kinds and places as the command line names them, and the
// CRC and sum engines, the project's own, built from each kind's parameters.
#include "stamps.h"

#include "crc_clmul.h"
#include "hex_reader.h"
#include "messages.h"

#include <array>
#include <cstring>

namespace {

// A kind's parameters, in the terms of the catalogue of parametrised CRC algorithms: width,
// polynomial (most significant bit first), initial value, whether input and output are
// reflected, the final XOR, and the check value over "123456789" ("12345678" for the kinds
// that take words).
struct KindInfo {
    const char *name;
    std::uint32_t width; // in bytes
    std::uint32_t poly;
    std::uint32_t init;
    bool reflected;
    std::uint32_t xor_out;
    std::uint32_t check;
    const char *what;
};

const KindInfo KINDS[STAMP_KINDS] = {
    {"crc32", 4, 0x04C11DB7, 0xFFFFFFFF, true, 0xFFFFFFFF, 0xCBF43926, "CRC-32/ISO-HDLC (zlib)"},
    {"stm32", 4, 0x04C11DB7, 0xFFFFFFFF, false, 0, 0xFEFC54F9,
     "STM32 CRC unit: CRC-32/MPEG-2 of little-endian words"},
    {"mpeg2", 4, 0x04C11DB7, 0xFFFFFFFF, false, 0, 0x0376E6E7, "CRC-32/MPEG-2, byte by byte"},
    {"crc16-ccitt", 2, 0x1021, 0xFFFF, false, 0, 0x29B1, "CRC-16/IBM-3740 (CCITT-FALSE)"},
    {"crc16-xmodem", 2, 0x1021, 0, false, 0, 0x31C3, "CRC-16/XMODEM"},
    {"crc16-modbus", 2, 0x8005, 0xFFFF, true, 0, 0x4B37, "CRC-16/MODBUS"},
    {"sum8", 1, 0, 0, false, 0, 0x23, "two's complement of the byte sum"},
    {"sum32", 4, 0, 0, false, 0, 0x9395979A, "two's complement of the little-endian word sum"},
    {"len32", 4, 0, 0, false, 0, 0, "the image's length, stamps at its end not counted"},
    {"lpc", 4, 0, 0, false, 0, 0, "NXP LPC: two's complement of vector words 0 to 6"},
};

// Tables of a 32-bit CRC eight bytes a step ("slicing by 8"): table[k][b] is the CRC register
// after byte b followed by k zero bytes. Reflected tables shift right, the others left.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr std::uint32_t reflect_bits(std::uint32_t value, unsigned bits) {
    std::uint32_t result = 0;
    for (unsigned i = 0; i < bits; ++i) result |= ((value >> i) & 1u) << (bits - 1 - i);
    return result;
}

constexpr CrcTables make_tables(std::uint32_t poly, bool reflected) {
    CrcTables tables{};
    std::uint32_t reversed = reflect_bits(poly, 32);
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t crc = reflected ? b : b << 24;
        for (int bit = 0; bit < 8; ++bit) {
            if (reflected) {
                crc = (crc & 1u) != 0 ? crc >> 1 ^ reversed : crc >> 1;
            } else {
                crc = (crc & 0x80000000u) != 0 ? crc << 1 ^ poly : crc << 1;
            }
        }
        tables[0][b] = crc;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t b = 0; b < 256; ++b) {
            std::uint32_t before = tables[k - 1][b];
            tables[k][b] = reflected ? before >> 8 ^ tables[0][before & 0xFF]
                                     : before << 8 ^ tables[0][before >> 24];
        }
    }
    return tables;
}

// Tables of a 16-bit CRC a byte a step, in the low 16 bits.
constexpr std::array<std::uint16_t, 256> make_table_16(std::uint32_t poly, bool reflected) {
    std::array<std::uint16_t, 256> table{};
    std::uint32_t reversed = reflect_bits(poly, 16);
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t crc = reflected ? b : b << 8;
        for (int bit = 0; bit < 8; ++bit) {
            if (reflected) {
                crc = (crc & 1u) != 0 ? crc >> 1 ^ reversed : crc >> 1;
            } else {
                crc = (crc & 0x8000u) != 0 ? (crc << 1 ^ poly) & 0xFFFF : crc << 1 & 0xFFFF;
            }
        }
        table[b] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr CrcTables CRC32_TABLES = make_tables(0x04C11DB7, true);
constexpr CrcTables MPEG2_TABLES = make_tables(0x04C11DB7, false);
constexpr std::array<std::uint16_t, 256> CCITT_TABLE = make_table_16(0x1021, false);
constexpr std::array<std::uint16_t, 256> MODBUS_TABLE = make_table_16(0x8005, true);

std::uint32_t load_le(const unsigned char *bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::uint32_t load_be(const unsigned char *bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

// Below this, carry-less multiplication saves less than it costs to start.
constexpr std::size_t CLMUL_MIN = 256;

// Feeds `count` bytes to the reflected CRC-32.
std::uint32_t crc32_bytes(std::uint32_t crc, const unsigned char *bytes, std::size_t count) {
    const CrcTables &t = CRC32_TABLES;
    for (; count >= 8; bytes += 8, count -= 8) {
        std::uint32_t a = load_le(bytes) ^ crc;
        std::uint32_t b = load_le(bytes + 4);
        crc = t[7][a & 0xFF] ^ t[6][a >> 8 & 0xFF] ^ t[5][a >> 16 & 0xFF] ^ t[4][a >> 24] ^
              t[3][b & 0xFF] ^ t[2][b >> 8 & 0xFF] ^ t[1][b >> 16 & 0xFF] ^ t[0][b >> 24];
    }
    for (; count > 0; ++bytes, --count) crc = crc >> 8 ^ t[0][(crc ^ *bytes) & 0xFF];
    return crc;
}

// Feeds the CRC-32/MPEG-2 two 32-bit words a step, each taken most significant byte first: the
// bytes as they stand (mpeg2, `words` unset), or each group of four reversed (stm32).
std::uint32_t mpeg2_words(std::uint32_t crc, const unsigned char *bytes, std::size_t pairs,
                          bool words) {
    const CrcTables &t = MPEG2_TABLES;
    for (; pairs > 0; bytes += 8, --pairs) {
        std::uint32_t a = (words ? load_le(bytes) : load_be(bytes)) ^ crc;
        std::uint32_t b = words ? load_le(bytes + 4) : load_be(bytes + 4);
        crc = t[7][a >> 24] ^ t[6][a >> 16 & 0xFF] ^ t[5][a >> 8 & 0xFF] ^ t[4][a & 0xFF] ^
              t[3][b >> 24] ^ t[2][b >> 16 & 0xFF] ^ t[1][b >> 8 & 0xFF] ^ t[0][b & 0xFF];
    }
    return crc;
}

std::uint32_t mpeg2_byte(std::uint32_t crc, unsigned char byte) {
    return crc << 8 ^ MPEG2_TABLES[0][(crc >> 24 ^ byte) & 0xFF];
}

// Feeds the longest prefix of `count` bytes that is whole 16-byte blocks to a 32-bit CRC by
// carry-less multiplication, where the processor has it and there are enough: least significant
// bit first (`kind` crc32), or most significant first, bytes (mpeg2) or words (stm32). Returns
// how many bytes it took.
std::size_t feed_folded(std::uint32_t &crc, int kind, const unsigned char *bytes,
                        std::size_t count) {
#if defined(QUORLIT_CLMUL)
    if (!clmul_crc || count < CLMUL_MIN || !has_clmul()) return 0;
    std::size_t blocks = count & ~std::size_t{15};
    unsigned char rest[16];
    if (kind == STAMP_CRC32) {
        fold_reflected(crc, bytes, blocks, rest);
        crc = crc32_bytes(0, rest, sizeof rest);
        return blocks;
    }
    fold_forward(crc, bytes, blocks, kind == STAMP_STM32, rest);
    crc = 0;
    for (unsigned char byte : rest) crc = mpeg2_byte(crc, byte);
    return blocks;
#else
    (void)crc;
    (void)kind;
    (void)bytes;
    (void)count;
    return 0;
#endif
}

// Feeds one whole word (stm32, sum32), its bytes in memory order.
void feed_word(CheckSum &sum, const unsigned char *bytes) {
    std::uint32_t word = load_le(bytes);
    if (sum.kind == STAMP_SUM32) {
        sum.state += word;
        return;
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        sum.state = mpeg2_byte(sum.state, static_cast<unsigned char>(word >> shift));
}

// Feeds bytes to a kind that takes words, gathering a word across calls.
void feed_words(CheckSum &sum, const unsigned char *bytes, std::size_t count) {
    std::size_t held = static_cast<std::size_t>(sum.fed % 4);
    while (held != 0 && count > 0) {
        sum.word[held++] = *bytes++;
        --count;
        ++sum.fed;
        if (held == 4) {
            feed_word(sum, sum.word);
            held = 0;
        }
    }
    if (sum.kind == STAMP_STM32) {
        std::size_t folded = feed_folded(sum.state, sum.kind, bytes, count);
        bytes += folded;
        count -= folded;
        sum.fed += folded;
        std::size_t pairs = count / 8;
        sum.state = mpeg2_words(sum.state, bytes, pairs, true);
        bytes += 8 * pairs;
        count -= 8 * pairs;
        sum.fed += 8 * pairs;
    }
    for (; count >= 4; bytes += 4, count -= 4, sum.fed += 4) feed_word(sum, bytes);
    for (std::size_t i = 0; i < count; ++i) sum.word[i] = bytes[i];
    sum.fed += count;
}

// Reads a hexadecimal number of 1 to 8 digits, 0x optional (as START is written), from `text`
// up to `end`.
bool read_hex(const char *text, const char *end, std::uint32_t &value) {
    if (end - text > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    if (text == end || end - text > 8) return false;
    std::uint32_t result = 0;
    for (; text < end; ++text) {
        int digit = hex_digit_value(static_cast<unsigned char>(*text));
        if (digit < 0) return false;
        result = result << 4 | static_cast<std::uint32_t>(digit);
    }
    value = result;
    return true;
}

// Reads the kind's name, with -be for big-endian, from `text` up to `end`.
bool read_kind(const char *text, const char *end, Stamp &stamp) {
    auto length = static_cast<std::size_t>(end - text);
    stamp.big_endian = length > 3 && std::strncmp(end - 3, "-be", 3) == 0;
    if (stamp.big_endian) length -= 3;
    for (int kind = 0; kind < STAMP_KINDS; ++kind) {
        if (std::strlen(KINDS[kind].name) != length) continue;
        if (std::strncmp(KINDS[kind].name, text, length) != 0) continue;
        stamp.kind = kind;
        return true;
    }
    return false;
}

// Reads end, last, +OFF or ADDR from `text` up to `end`.
bool read_where(const char *text, const char *end, Stamp &stamp) {
    auto length = static_cast<std::size_t>(end - text);
    if (length == 3 && std::strncmp(text, "end", 3) == 0) {
        stamp.where = STAMP_AT_END;
        return true;
    }
    if (length == 4 && std::strncmp(text, "last", 4) == 0) {
        stamp.where = STAMP_AT_LAST;
        return true;
    }
    stamp.where = text[0] == '+' ? STAMP_AT_OFFSET : STAMP_AT_ADDRESS;
    if (text[0] == '+') ++text;
    return text < end && read_hex(text, end, stamp.place);
}

} // namespace

std::uint32_t stamp_width(int kind) {
    return KINDS[kind].width;
}

const char *stamp_name(int kind) {
    return KINDS[kind].name;
}

bool parse_stamp(const char *text, Stamp &stamp) {
    stamp = {};
    stamp.text = text;
    const char *text_end = text + std::strlen(text);
    const char *at = std::strchr(text, '@');
    const char *equals = std::strchr(text, '=');
    const char *kind_end = at != nullptr ? at : equals != nullptr ? equals : text_end;
    if (!read_kind(text, kind_end, stamp)) return false;
    if (at == nullptr) {
        // Only the LPC checksum has a place of its own.
        stamp.where = STAMP_AT_OFFSET;
        stamp.place = LPC_OFFSET;
        if (stamp.kind != STAMP_LPC) return false;
    } else {
        const char *where_end = equals != nullptr && equals > at ? equals : text_end;
        if (!read_where(at + 1, where_end, stamp)) return false;
    }
    if (equals == nullptr) return true;
    stamp.placeholder = true;
    return read_hex(equals + 1, text_end, stamp.expected) && equals[1] != '\0';
}

bool parse_stamp_from(const char *text, StampPlan &plan) {
    plan.from_given = true;
    plan.from_is_offset = text[0] == '+';
    const char *digits = plan.from_is_offset ? text + 1 : text;
    return read_hex(digits, digits + std::strlen(digits), plan.from);
}

bool stamps_pad(const StampPlan &plan) {
    for (int i = 0; i < plan.count; ++i)
        if (plan.stamps[i].where == STAMP_AT_LAST) return true;
    return false;
}

bool stamp_covers_image(int kind) {
    return kind != STAMP_LEN32 && kind != STAMP_LPC;
}

bool stamps_fixed(const StampPlan &plan) {
    for (int i = 0; i < plan.count; ++i)
        if (plan.stamps[i].where != STAMP_AT_END) return true;
    return false;
}

namespace {

// Sets the window offset of a stamp whose place is fixed (all but those at the image's end).
// Returns false after printing why it is outside the window.
bool place_fixed(Stamp &stamp, std::uint32_t flash_start, std::uint32_t flash_size) {
    std::uint32_t width = stamp_width(stamp.kind);
    if (stamp.where == STAMP_AT_LAST) stamp.offset = flash_size - width;
    if (stamp.where == STAMP_AT_ADDRESS) stamp.offset = stamp.place - flash_start;
    if (stamp.where == STAMP_AT_OFFSET) stamp.offset = stamp.place;
    if (flash_size >= width && stamp.offset <= flash_size - width) return true;
    say("\nProblem with stamp %s: its %u bytes at %08x lie outside the window %08x-%08x",
        stamp.text, width, flash_start + stamp.offset, flash_start, flash_start + flash_size - 1);
    return false;
}

} // namespace

bool check_stamp_plan(StampPlan &plan, std::uint32_t flash_start, std::uint32_t flash_size) {
    int sums = 0;
    std::uint32_t from = plan.from_is_offset ? plan.from : plan.from - flash_start;
    if (!plan.from_given) from = 0;
    if (from >= flash_size && flash_size != 0) {
        say("\nProblem with --stamp-from: %08x lies outside the window", flash_start + from);
        return false;
    }
    plan.from = from;
    plan.from_is_offset = true;
    for (int i = 0; i < plan.count; ++i) {
        Stamp &stamp = plan.stamps[i];
        if (stamp.where != STAMP_AT_END && !place_fixed(stamp, flash_start, flash_size))
            return false;
        if (stamp_covers_image(stamp.kind)) ++sums;
        bool words = stamp.kind == STAMP_STM32 || stamp.kind == STAMP_SUM32;
        bool unaligned = from % 4 != 0 || (stamp.where != STAMP_AT_END && stamp.offset % 4 != 0);
        if (words && unaligned) {
            say("\nProblem with stamp %s: %s takes whole words from START: the covered range and "
                "the stamp must start on a multiple of 4",
                stamp.text, stamp_name(stamp.kind));
            return false;
        }
    }
    if (sums > 1) {
        say("\nProblem with --stamp: one CRC or sum at most, which covers the other stamps");
        return false;
    }
    return true;
}

void print_stamp_kinds() {
    say("KIND          bytes  poly      init      reflected  xorout    check     what\n");
    for (const KindInfo &kind : KINDS) {
        if (kind.poly != 0) {
            say("%-13s %u      %08x  %08x  %-9s  %08x  %08x  %s\n", kind.name, kind.width,
                kind.poly, kind.init, kind.reflected ? "yes" : "no", kind.xor_out, kind.check,
                kind.what);
        } else if (kind.check != 0) {
            say("%-13s %u      -         -         -          -         %08x  %s\n", kind.name,
                kind.width, kind.check, kind.what);
        } else {
            say("%-13s %u      -         -         -          -         -         %s\n", kind.name,
                kind.width, kind.what);
        }
    }
    say("Each stores little-endian; KIND-be stores big-endian. The check is over the ASCII text "
        "123456789, or 12345678 for stm32 and sum32.\n");
}

void start_check(CheckSum &sum, int kind) {
    sum = {};
    sum.kind = kind;
    sum.state = KINDS[kind].init;
}

void feed_check(CheckSum &sum, const unsigned char *bytes, std::size_t count) {
    switch (sum.kind) {
    case STAMP_CRC32: {
        std::size_t folded = feed_folded(sum.state, sum.kind, bytes, count);
        sum.state = crc32_bytes(sum.state, bytes + folded, count - folded);
        break;
    }
    case STAMP_MPEG2: {
        std::size_t folded = feed_folded(sum.state, sum.kind, bytes, count);
        std::size_t pairs = (count - folded) / 8;
        sum.state = mpeg2_words(sum.state, bytes + folded, pairs, false);
        for (std::size_t i = folded + 8 * pairs; i < count; ++i)
            sum.state = mpeg2_byte(sum.state, bytes[i]);
        break;
    }
    case STAMP_CRC16_CCITT:
    case STAMP_CRC16_XMODEM:
        for (std::size_t i = 0; i < count; ++i)
            sum.state = (sum.state << 8 ^ CCITT_TABLE[(sum.state >> 8 ^ bytes[i]) & 0xFF]) & 0xFFFF;
        break;
    case STAMP_CRC16_MODBUS:
        for (std::size_t i = 0; i < count; ++i)
            sum.state = sum.state >> 8 ^ MODBUS_TABLE[(sum.state ^ bytes[i]) & 0xFF];
        break;
    case STAMP_SUM8:
        for (std::size_t i = 0; i < count; ++i) sum.state += bytes[i];
        break;
    default: // stm32, sum32
        feed_words(sum, bytes, count);
        return;
    }
    sum.fed += count;
}

std::uint32_t end_check(const CheckSum &sum) {
    std::uint32_t value = sum.state ^ KINDS[sum.kind].xor_out;
    if (sum.kind == STAMP_SUM8) return (0u - value) & 0xFF;
    if (sum.kind == STAMP_SUM32) return 0u - value;
    return value;
}

void stamp_bytes(std::uint32_t value, std::uint32_t width, bool big_endian, unsigned char *bytes) {
    for (std::uint32_t i = 0; i < width; ++i) {
        std::uint32_t shift = 8 * (big_endian ? width - 1 - i : i);
        bytes[i] = static_cast<unsigned char>(value >> shift);
    }
}

void print_stamps(const StampPlan &plan, std::uint32_t flash_start) {
    for (int i = 0; i < plan.count; ++i) {
        const Stamp &stamp = plan.stamps[i];
        // The last byte covered, but for the stamp's own bytes where they end the range.
        std::uint32_t last = stamp.end - 1;
        if (stamp.offset + stamp_width(stamp.kind) == stamp.end) last = stamp.offset - 1;
        say("\n%s%s %0*x over %08x-%08x at %08x", stamp_name(stamp.kind),
            stamp.big_endian ? "-be" : "", static_cast<int>(2 * stamp_width(stamp.kind)),
            stamp.value, flash_start + stamp.from, flash_start + last, flash_start + stamp.offset);
    }
}
