// Plain records against the character reader. The decoders agree on every byte value at
// every position; conversions agree, with plain records and without, on every byte value
// at every position of a record, on records of every length and across the end of the input
// block, and on the table below, whose rows also say how many plain records are taken.
// Exits 1 at the first difference.
#include "hex_decode.h"
#include "hex_reader.h"
#include "image_writer.h"
#include "input_files.h"
#include "streams.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Window {
    std::uint32_t start;
    std::uint32_t size;
    bool any_order;
};

constexpr Window WINDOW = {0x1D00E000, 0x2000, false};

// What converting `hex` gives: stop, image length, detail, input position, the window checks and
// the image, as text.
std::string convert(const std::string &hex, Window window, bool plain) {
    plain_records = plain;
    plain_records_placed = 0;
    static char image[INPUT_BLOCK];
    std::memset(image, 0, sizeof image);
    clear_inputs();
    add_input("in.hex", fmemopen(const_cast<char *>(hex.data()), hex.size(), "rb"));
    open_output(fmemopen(image, sizeof image, "w+b"), true);
    ImageOptions options;
    options.any_order = window.any_order;
    Image state;
    start_image(state, window.start, window.size, options);
    Stop stop;
    stop.code = -99;
    if (read_input(0)) stop = convert_inputs(state);
    const WindowChecks &c = state.checks;
    char text[256];
    std::snprintf(text, sizeof text,
                  "%d %u %u %llu %llu | %d %x %x %d %d %d %llu %x %llu %x %x %x:", stop.code,
                  state.bytes_written, stop.value, static_cast<unsigned long long>(stop.position),
                  static_cast<unsigned long long>(input_position()), c.data, c.lowest, c.highest,
                  c.inside, c.first_given, c.last_given,
                  static_cast<unsigned long long>(c.below.position), c.below_from,
                  static_cast<unsigned long long>(c.beyond.position), c.beyond_to, c.piece_from,
                  c.piece_end);
    close_output();
    close_inputs();
    return text + std::string(image, state.bytes_written);
}

// Whether both ways agree on `hex`; prints the difference where they do not.
bool agree(const std::string &hex, Window window = WINDOW) {
    std::string exact = convert(hex, window, false);
    std::string plain = convert(hex, window, true);
    if (plain == exact) return true;
    std::printf("differ on %s\nwhole %.120s\nexact %.120s\n", hex.c_str(), plain.c_str(),
                exact.c_str());
    return false;
}

// A record of `type` at `field` holding `count` bytes, with its checksum and line end.
std::string record(unsigned field, unsigned count, unsigned type = 0, const char *end = "\n") {
    std::uint8_t sum = static_cast<std::uint8_t>(count + (field >> 8) + field + type);
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", count & 0xFF, field & 0xFFFF, type & 0xFF);
    std::string line = text;
    for (unsigned i = 0; i < count; ++i) {
        auto byte = static_cast<std::uint8_t>(i * 37 + 11);
        sum = static_cast<std::uint8_t>(sum + byte);
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
    }
    std::snprintf(text, sizeof text, "%02X", static_cast<std::uint8_t>(-sum));
    return line + text + end;
}

// An extended address record of `type` (2 or 4) for `value`.
std::string base_record(unsigned type, unsigned value) {
    unsigned sum = 2 + type + (value >> 8) + (value & 0xFF);
    char line[32];
    std::snprintf(line, sizeof line, ":020000%02X%04X%02X\n", type, value, -sum & 0xFF);
    return line;
}

const std::string EXT = base_record(4, 0x1D00);
const std::string END = ":00000001FF\n";
const std::string FIRST = EXT + record(0xE000, 1); // the reader reads the first record

struct Row {
    const char *name;
    std::string hex;
    Window window;
    unsigned plain; // plain records taken
};

// clang-format off
const Row ROWS[] = {
    {"LF, CR LF, CR", FIRST + record(0xE001, 16) + record(0xE011, 2, 0, "\r\n") + record(0xE013, 3, 0, "\r") + END, WINDOW, 4},
    {"after CR", FIRST + record(0xE001, 2, 0, "\r") + record(0xE003, 2, 0, "\r") + END, WINDOW, 3},
    {"255 bytes, then 1", FIRST + record(0xE001, 255) + record(0xE100, 1) + END, WINDOW, 3},
    {"blank before a record", FIRST + " " + record(0xE001, 1) + record(0xE002, 1) + END, WINDOW, 2},
    {"a hole, filled", FIRST + record(0xE100, 4) + END, WINDOW, 2},
    {"window's last byte", FIRST + record(0xFFF0, 16) + record(0xFFF0, 16) + END, WINDOW, 3},
    {"past the window's end", FIRST + record(0xFFF8, 16) + END, WINDOW, 2},
    {"wholly past the end", FIRST + base_record(4, 0x1D01) + record(0xE000, 16) + record(0xFFFF, 1) + END, WINDOW, 3},
    {"wholly below the start", FIRST + record(0xD000, 16) + record(0xDFFF, 1) + END, WINDOW, 3},
    {"ends at the start", FIRST + record(0xDFF0, 16) + record(0xDFF8, 9) + END, WINDOW, 3},
    {"below the image's end", FIRST + record(0xE008, 4) + record(0xE000, 1) + END, WINDOW, 3},
    {"any order, in order", FIRST + record(0xE004, 4) + record(0xE008, 4) + END, {0x1D00E000, 0x100, true}, 3},
    {"any order, below", FIRST + record(0xE008, 4) + record(0xE004, 4) + END, {0x1D00E000, 0x100, true}, 3},
    {"segment's end", base_record(2, 0x1000) + record(0xE000, 1) + record(0xFFF0, 16) + END, {0x1E000, 0x10000, false}, 2},
    {"across a segment's end", base_record(2, 0x1000) + record(0xE000, 1) + record(0xFFF8, 16) + END, {0x1E000, 0x10000, false}, 1},
    {"across 64 KiB, linear", FIRST + record(0xFFF8, 16) + END, {0x1D00E000, 0x20000, false}, 2},
    {"other types", FIRST + record(0xE001, 4, 3) + record(0xE001, 0) + record(0xE001, 2, 5) + END, WINDOW, 1},
    {"a bad checksum", FIRST + record(0xE001, 4).replace(9, 1, "1") + END, WINDOW, 1},
    {"a record ends the input", FIRST + record(0xE001, 4, 0, ""), WINDOW, 2},
};
// clang-format on

// Every decoder against the character table, on every byte value at every position.
bool decoders_agree() {
    unsigned char text[96 + DECODE_READS_PAST] = {};
    for (int pairs = 1; pairs <= 48; ++pairs) {
        for (int at = 0; at < 2 * pairs; ++at) {
            for (int value = 0; value < 256; ++value) {
                std::memset(text, 'a', 2 * static_cast<std::size_t>(pairs));
                text[at] = static_cast<unsigned char>(value);
                std::uint8_t portable[48 + DECODE_WRITES_PAST];
                std::uint8_t chosen[48 + DECODE_WRITES_PAST];
                unsigned portable_sum = 0;
                unsigned chosen_sum = 0;
                auto count = static_cast<std::size_t>(pairs);
                bool ok = decode_hex_portable(text, count, portable, portable_sum);
                bool same = decode_hex(text, count, chosen, chosen_sum) == ok;
                same = same && ok == (hex_digit_value(value) >= 0);
                if (ok) same = same && std::memcmp(portable, chosen, count) == 0;
                if (ok) same = same && portable_sum == chosen_sum;
                if (!same) {
                    std::printf("decoders differ: %d pairs, character %d at %d\n", pairs, value,
                                at);
                    return false;
                }
            }
        }
    }
    return true;
}

} // namespace

int main() {
    int cases = 0;
    bool good = decoders_agree();
    for (const Row &row : ROWS) {
        if (!good) break;
        good = agree(row.hex, row.window);
        convert(row.hex, row.window, true);
        if (good && plain_records_placed != row.plain) {
            std::printf("%s: %llu plain records, not %u\n", row.name,
                        static_cast<unsigned long long>(plain_records_placed), row.plain);
            good = false;
        }
        ++cases;
    }
    // Every byte value at every position of a 16-byte record, with CR LF after it.
    const std::string tail = record(0xE020, 16) + END;
    std::string middle = record(0xE010, 16, 0, "\r\n");
    for (std::size_t at = 0; good && at < middle.size(); ++at) {
        for (int value = 0; good && value < 256; ++value, ++cases) {
            std::string changed = middle;
            changed[at] = static_cast<char>(value);
            good = agree(FIRST + changed + tail);
        }
    }
    // Records of every length, and records across the end of the input block.
    for (unsigned count = 1; good && count <= 255; ++count, ++cases)
        good = agree(FIRST + record(0xE010, count) + tail);
    std::string many;
    for (unsigned address = 0x1D00E010; many.size() < INPUT_BLOCK + 100; address += 16) {
        if ((address & 0xFFFF) == 0) many += base_record(4, address >> 16);
        many += record(address & 0xFFFF, 16);
    }
    for (std::size_t shift = 0; good && shift < 45; ++shift, ++cases) {
        std::string hex = std::string(shift, '#') + "\n" + FIRST + many + END;
        good = agree(hex, {0x1D00E000, 0x100000, false});
        // The whole file converts: all but the record across the block's end are decoded whole.
        if (good && convert(hex, {0x1D00E000, 0x100000, false}, true).compare(0, 2, "0 ") != 0)
            good = false;
    }
    std::printf("plain records: %d cases, %s\n", cases, good ? "all agree" : "a difference");
    return good ? 0 : 1;
}
