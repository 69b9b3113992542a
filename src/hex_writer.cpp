// The Intel HEX writer: data records of up to 16 bytes, each within one 16-byte line of flash.
#include "hex_writer.h"

#include "address_runs.h"
#include "hex_reader.h"

#include <cstring>

// Every x86-64 processor has SSE2; -DQUORLIT_SIMD=OFF builds the portable encoder alone.
#if defined(__SSE2__) && !defined(QUORLIT_NO_SIMD)
#define QUORLIT_ENCODE_SSE2 1
#include <emmintrin.h>
#endif

namespace {

// The text goes out in blocks of 64 KiB; a record takes at most ':', 260 bytes of two digits
// (count, address, type, 255 data bytes, checksum) and CR LF.
constexpr std::size_t TEXT_BLOCK = 64 * 1024;
constexpr std::size_t RECORD_TEXT_LONGEST = 1 + 2 * (5 + RECORD_DATA_MAX) + 2;
constexpr std::uint32_t LINE = 16; // data bytes a record holds at most, from a multiple of 16

struct HexOut {
    std::FILE *file;
    std::uint32_t flash_start;
    bool crlf;
    bool failed;
    bool upper_given;         // an extended linear address record was written
    std::uint32_t upper;      // and the upper 16 bits of the address that it gave
    std::uint32_t line_start; // the record being gathered: its address,
    std::uint32_t line_count; // its byte count and its bytes
    unsigned char line[LINE];
    std::uint64_t bytes;
    std::uint64_t records;
    std::size_t used; // of text
    char text[TEXT_BLOCK];
};

HexOut hex_out;

const char DIGITS[] = "0123456789ABCDEF";

void flush_text() {
    HexOut &out = hex_out;
    if (out.used > 0 && !out.failed && std::fwrite(out.text, 1, out.used, out.file) != out.used)
        out.failed = true;
    out.used = 0;
}

// Writes `value` (0 to 255) as two digits at `to`, and returns where the text goes on.
char *put_byte(char *to, unsigned value) {
    to[0] = DIGITS[value >> 4];
    to[1] = DIGITS[value & 0xF];
    return to + 2;
}

// Ends a record's text at `to`: its checksum, which makes the bytes add up to 0 modulo 256 with
// `sum`, and the line end.
void end_record(char *to, unsigned sum) {
    to = put_byte(to, (0u - sum) & 0xFF);
    if (hex_out.crlf) *to++ = '\r';
    *to++ = '\n';
    hex_out.used = static_cast<std::size_t>(to - hex_out.text);
}

// Starts the text of a record of `type` with address field `field` and `count` bytes of data:
// its mark, count, address field and type. Returns where its data go, and sets `sum` to the sum of
// those bytes.
char *start_record(unsigned type, std::uint32_t field, unsigned count, unsigned &sum) {
    if (TEXT_BLOCK - hex_out.used < RECORD_TEXT_LONGEST) flush_text();
    char *to = hex_out.text + hex_out.used;
    *to++ = ':';
    unsigned high = field >> 8 & 0xFF;
    unsigned low = field & 0xFF;
    sum = count + high + low + type;
    to = put_byte(to, count);
    to = put_byte(to, high);
    to = put_byte(to, low);
    return put_byte(to, type);
}

// Writes a record of `type` with address field `field` and `count` bytes of data.
void put_record(unsigned type, std::uint32_t field, const unsigned char *data, unsigned count) {
    unsigned sum = 0;
    char *to = start_record(type, field, count, sum);
    for (unsigned i = 0; i < count; ++i) {
        sum += data[i];
        to = put_byte(to, data[i]);
    }
    end_record(to, sum);
}

// Writes the extended linear address record that data at `address` needs, where the last one
// written does not give its upper 16 bits.
void give_upper(std::uint32_t address) {
    std::uint32_t upper = address >> 16;
    if (hex_out.upper_given && upper == hex_out.upper) return;
    const unsigned char value[2] = {static_cast<unsigned char>(upper >> 8),
                                    static_cast<unsigned char>(upper & 0xFF)};
    put_record(RECORD_LINEAR_BASE, 0, value, 2);
    hex_out.upper = upper;
    hex_out.upper_given = true;
}

// Writes the 16 bytes at `data` as 32 digits at `to`, and returns their sum.
unsigned put_16(char *to, const unsigned char *data) {
#if defined(QUORLIT_ENCODE_SSE2)
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
    __m128i low = _mm_and_si128(bytes, nibble);
    // Digit values in text order, made characters: '0' + value, and 7 more from 10 ('A') on.
    __m128i values[2] = {_mm_unpacklo_epi8(high, low), _mm_unpackhi_epi8(high, low)};
    for (int i = 0; i < 2; ++i) {
        __m128i letters =
            _mm_and_si128(_mm_cmpgt_epi8(values[i], _mm_set1_epi8(9)), _mm_set1_epi8(7));
        __m128i digits = _mm_add_epi8(_mm_add_epi8(values[i], _mm_set1_epi8('0')), letters);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16 * i), digits);
    }
    __m128i sums = _mm_sad_epu8(bytes, _mm_setzero_si128());
    return static_cast<unsigned>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
#else
    unsigned sum = 0;
    for (unsigned i = 0; i < LINE; ++i) {
        sum += data[i];
        to = put_byte(to, data[i]);
    }
    return sum;
#endif
}

// Writes a data record of `count` bytes at `address`.
void put_data(std::uint32_t address, const unsigned char *data, std::uint32_t count) {
    give_upper(address);
    hex_out.bytes += count;
    ++hex_out.records;
    if (count != LINE) {
        put_record(RECORD_DATA, address & 0xFFFF, data, count);
        return;
    }
    unsigned sum = 0;
    char *to = start_record(RECORD_DATA, address & 0xFFFF, LINE, sum);
    sum += put_16(to, data);
    end_record(to + 2 * LINE, sum);
}

// Writes the record being gathered, if any.
void end_line() {
    if (hex_out.line_count == 0) return;
    put_data(hex_out.line_start, hex_out.line, hex_out.line_count);
    hex_out.line_count = 0;
}

// Writes the image's bytes [from, end) from the file `image`. Returns false when they cannot be
// read.
bool copy_range(std::FILE *image, std::uint32_t from, std::uint32_t end) {
    static unsigned char block[64 * 1024];
    // Image offsets stay below 2 GiB, so they fit a long on every platform.
    if (std::fseek(image, static_cast<long>(from), SEEK_SET) != 0) return false;
    for (std::uint32_t at = from; at < end;) {
        std::size_t part = end - at < sizeof block ? end - at : sizeof block;
        if (std::fread(block, 1, part, image) != part) return false;
        write_hex_data(at, block, part);
        at += static_cast<std::uint32_t>(part);
    }
    return true;
}

} // namespace

void start_hex(std::FILE *file, std::uint32_t flash_start, bool crlf) {
    HexOut &out = hex_out;
    out.file = file;
    std::setvbuf(file, nullptr, _IONBF, 0);
    out.flash_start = flash_start;
    out.crlf = crlf;
    out.failed = false;
    out.upper_given = false;
    out.upper = 0;
    out.line_start = 0;
    out.line_count = 0;
    out.bytes = 0;
    out.records = 0;
    out.used = 0;
}

void write_hex_data(std::uint64_t offset, const unsigned char *bytes, std::size_t count) {
    HexOut &out = hex_out;
    std::uint32_t address = out.flash_start + static_cast<std::uint32_t>(offset);
    while (count > 0) {
        // Bytes that do not continue the record being gathered start one of their own.
        if (out.line_count > 0 && address != out.line_start + out.line_count) end_line();
        if (out.line_count == 0) {
            for (; count >= LINE && address % LINE == 0; count -= LINE) {
                put_data(address, bytes, LINE);
                address += LINE;
                bytes += LINE;
            }
            if (count == 0) return;
            out.line_start = address;
        }
        std::uint32_t room = LINE - (out.line_start + out.line_count) % LINE;
        std::uint32_t part = count < room ? static_cast<std::uint32_t>(count) : room;
        std::memcpy(out.line + out.line_count, bytes, part);
        out.line_count += part;
        address += part;
        bytes += part;
        count -= part;
        if (part == room) end_line();
    }
}

bool write_hex_image(std::FILE *image, std::uint32_t length, bool whole, const StampPlan &plan) {
    if (whole) return copy_range(image, 0, length);
    // The stamps are part of the image, wherever they stand.
    for (int i = 0; i < plan.count; ++i) {
        const Stamp &stamp = plan.stamps[i];
        if (!add_run(stamp.offset, stamp.offset + stamp_width(stamp.kind) - 1)) return false;
    }
    for (std::size_t i = find_run(0); i != run_end(); i = next_run(i)) {
        const AddressRun &run = run_at(i);
        if (run.first >= length) break;
        std::uint32_t end = run.last < length ? run.last + 1 : length;
        if (!copy_range(image, run.first, end)) return false;
    }
    return true;
}

bool end_hex(const StartRecord &start, bool whole) {
    end_line();
    if (whole && start.type != NO_START)
        put_record(static_cast<unsigned>(start.type), start.field, start.data, start.count);
    if (whole) put_record(RECORD_EOF, 0, nullptr, 0);
    flush_text();
    if (std::fclose(hex_out.file) != 0) hex_out.failed = true;
    return !hex_out.failed;
}

std::uint64_t hex_data_bytes() {
    return hex_out.bytes;
}

std::uint64_t hex_data_records() {
    return hex_out.records;
}
