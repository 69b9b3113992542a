// Check values stamped into the image for a bootloader: CRCs, sums, the image's length and the
// NXP LPC vector checksum, at the image's end, in the window's last bytes or at a fixed place.
// A check value covers every byte of the final image from START (or --stamp-from) to the
// image's end, in address order, holes as the fill byte, except the stamp's own bytes.
#ifndef QUORLIT_STAMPS_H
#define QUORLIT_STAMPS_H

#include <cstddef>
#include <cstdint>

// The kinds of check value, in the order of --list-stamps.
constexpr int STAMP_CRC32 = 0;        // CRC-32/ISO-HDLC, as zlib computes it
constexpr int STAMP_STM32 = 1;        // the STM32 CRC unit: CRC-32/MPEG-2 over little-endian words
constexpr int STAMP_MPEG2 = 2;        // CRC-32/MPEG-2, byte by byte
constexpr int STAMP_CRC16_CCITT = 3;  // CRC-16/IBM-3740 ("CCITT-FALSE")
constexpr int STAMP_CRC16_XMODEM = 4; // CRC-16/XMODEM
constexpr int STAMP_CRC16_MODBUS = 5; // CRC-16/MODBUS
constexpr int STAMP_SUM8 = 6;         // two's complement of the byte sum
constexpr int STAMP_SUM32 = 7;        // two's complement of the sum of little-endian words
constexpr int STAMP_LEN32 = 8;        // the image's length, not counting stamps at its end
constexpr int STAMP_LPC = 9;          // two's complement of the sum of vector table words 0 to 6
constexpr int STAMP_KINDS = 10;

// Where a stamp goes.
constexpr int STAMP_AT_END = 0;     // after the image's end, rounded up to a multiple of 4
constexpr int STAMP_AT_LAST = 1;    // the window's last bytes (the image is padded)
constexpr int STAMP_AT_ADDRESS = 2; // a flash address
constexpr int STAMP_AT_OFFSET = 3;  // an offset from START

// The LPC checksum's place when none is given: vector table word 7.
constexpr std::uint32_t LPC_OFFSET = 0x1C;

struct Stamp {
    const char *text = nullptr; // as the command line gave it
    int kind = 0;
    bool big_endian = false;
    int where = STAMP_AT_END;
    std::uint32_t place = 0;  // the address or offset given
    bool placeholder = false; // data may stand at its place if it holds `expected`
    std::uint32_t expected = 0;
    std::uint32_t offset = 0; // the window offset of its first byte, once placed
    std::uint32_t value = 0;  // the check value, once computed
    std::uint32_t from = 0;   // and the window offsets of the range it covers
    std::uint32_t end = 0;
};

// Several stamps at most; one CRC or sum among them.
constexpr int STAMPS_MAX = 8;

struct StampPlan {
    Stamp stamps[STAMPS_MAX];
    int count = 0;
    bool from_given = false; // --stamp-from
    bool from_is_offset = false;
    std::uint32_t from = 0;   // a window offset once checked against the window
    std::uint32_t length = 0; // the image's length, but for the stamps at its end
};

// How many bytes a stamp of `kind` takes: 1, 2 or 4.
std::uint32_t stamp_width(int kind);

// The name of `kind`, as --stamp takes it.
const char *stamp_name(int kind);

// Reads KIND@WHERE[=PLACEHOLDER] into `stamp`. Returns false when `text` is no such thing.
bool parse_stamp(const char *text, Stamp &stamp);

// Reads ADDR or +OFF, as --stamp-from takes it, into `plan`. Returns false when it is neither.
bool parse_stamp_from(const char *text, StampPlan &plan);

// Whether the plan holds a stamp at the window's last bytes, which pads the image.
bool stamps_pad(const StampPlan &plan);

// Whether `kind` is a CRC or a sum over the image (not len32 or lpc); a plan holds one at most.
bool stamp_covers_image(int kind);

// Whether the plan holds a stamp at a fixed place (all but those at the image's end).
bool stamps_fixed(const StampPlan &plan);

// Checks the plan against the window [flash_start, flash_start + flash_size): every fixed place
// inside it, one CRC or sum at most, words whole. Returns true, or prints the problem and returns
// false.
bool check_stamp_plan(StampPlan &plan, std::uint32_t flash_start, std::uint32_t flash_size);

// Prints each kind with its width, polynomial, initial value, reflection, final XOR and check
// value (--list-stamps).
void print_stamp_kinds();

// Whether the 32-bit CRCs may use carry-less multiplication where the processor has it; the
// tests turn it off to compare with the tables alone.
inline bool clmul_crc = true;

// A check value computed as bytes are fed to it.
struct CheckSum {
    int kind = 0;
    std::uint32_t state = 0;
    std::uint64_t fed = 0;      // bytes fed so far
    unsigned char word[4] = {}; // a word being gathered (stm32, sum32)
};

// Starts, feeds and ends the check value of `kind`.
void start_check(CheckSum &sum, int kind);
void feed_check(CheckSum &sum, const unsigned char *bytes, std::size_t count);
std::uint32_t end_check(const CheckSum &sum);

// Prints a line for each stamp: its kind, value, covered range and place.
void print_stamps(const StampPlan &plan, std::uint32_t flash_start);

// Writes `value` as the `width` bytes of a stamp in its byte order.
void stamp_bytes(std::uint32_t value, std::uint32_t width, bool big_endian, unsigned char *bytes);

#endif
