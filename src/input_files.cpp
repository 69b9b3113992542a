// The inputs of a run: their files, kept open, the lines of places in them, and the search for
// the record that first gave an address.
#include "input_files.h"

#include "hex_reader.h"
#include "platform_files.h"
#include "streams.h"

#include <cstdlib>

namespace {

struct InputFile {
    const char *name;
    std::FILE *file;
    bool read_ahead;              // blocks may be read ahead (see open_input)
    bool gave_window;             // the input gave the window data
    std::uint64_t replaced;       // the bytes whose values it replaced
    std::uint32_t first_replaced; // the first address of those
    std::uint64_t replaced_at;    // the input position after the record that replaced it
};

// The list grows with realloc, so that no C++ library (and its megabyte or two) enters the
// process.
InputFile *inputs = nullptr;
int held = 0; // inputs in the list
int room = 0; // inputs it has room for

// Text read from an input apart from hex_in: to count lines, or to judge its start.
unsigned char text[64 * 1024];

// Whether the data record at `place` gives `address`.
bool gives(const DataPlace &place, std::uint32_t count, std::uint32_t address) {
    return address - place.address < place.before_wrap ||
           address - place.wrapped < count - place.before_wrap;
}

// Reads hex_in again from its start, up to input position `end` (0: to its end), for the first
// data record that gives `address`. Returns the input position after it, or 0.
std::uint64_t scan_for(std::uint32_t address, std::uint64_t end) {
    RecordWalk walk;
    for (;;) {
        int result = next_record(walk);
        std::uint64_t at = input_position();
        if (result < 0 || (end != 0 && at >= end)) return 0;
        if (result == RECORD_DATA && gives(walk.place, walk.count, address)) return at;
    }
}

} // namespace

void clear_inputs() {
    held = 0;
}

bool add_input(const char *name, std::FILE *file) {
    if (held == room) {
        int more = room == 0 ? 8 : 2 * room;
        void *grown = std::realloc(inputs, static_cast<std::size_t>(more) * sizeof *inputs);
        if (grown == nullptr) return false;
        inputs = static_cast<InputFile *>(grown);
        room = more;
    }
    inputs[held] = {name, file, reads_never_wait(file, READ_AHEAD_MIN), false, 0, 0, 0};
    ++held;
    return true;
}

int input_count() {
    return held;
}

const char *input_name(int index) {
    return inputs[index].name;
}

bool read_input(int index) {
    return open_input(inputs[index].file, inputs[index].read_ahead);
}

Stop stop_in_input(int code, std::uint32_t value, int index) {
    Stop stop;
    stop.code = code;
    stop.value = value;
    stop.input = index;
    stop.input_ended = input_ended();
    stop.input_failed = input_failed();
    stop.character = input_last();
    // The character that stopped the run, or the end of the input.
    stop.position = input_position() - (input_ended() ? 0 : 1);
    return stop;
}

bool reread_input(int index) {
    settle_input();
    std::FILE *file = inputs[index].file;
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    std::clearerr(file);
    return open_input(file, inputs[index].read_ahead);
}

RecordPlace find_first_giver(std::uint32_t address, const RecordPlace &before) {
    RecordPlace found = {-1, 0};
    for (int index = 0; index <= before.input && found.position == 0; ++index) {
        if (!reread_input(index)) {
            if (found.input < 0) found.input = index;
            continue;
        }
        std::uint64_t at = scan_for(address, index == before.input ? before.position : 0);
        if (at != 0) found = {index, at};
    }
    return found;
}

std::uint64_t input_line(int index, std::uint64_t position) {
    // The input may be hex_in, whose file must not be moved under a block being read ahead.
    settle_input();
    std::FILE *file = inputs[index].file;
    if (std::fseek(file, 0, SEEK_SET) != 0) return 0;
    std::clearerr(file);
    // A buffer of its own: hex_in's blocks stay as the run left them.
    std::uint64_t line = 1;
    int before = EOF;
    for (std::uint64_t seen = 0; seen < position;) {
        std::uint64_t left = position - seen;
        std::size_t want = left < sizeof text ? static_cast<std::size_t>(left) : sizeof text;
        std::size_t got = std::fread(text, 1, want, file);
        if (got == 0) return 0;
        for (std::size_t i = 0; i < got; ++i) {
            int c = text[i];
            if (c == '\r' || (c == '\n' && before != '\r')) ++line;
            before = c;
        }
        seen += got;
    }
    return line;
}

void note_gave_window(int index) {
    inputs[index].gave_window = true;
}

bool gave_window(int index) {
    return inputs[index].gave_window;
}

void note_replaced(int index, std::uint32_t address, std::uint64_t count, std::uint64_t position) {
    InputFile &input = inputs[index];
    if (input.replaced == 0) {
        input.first_replaced = address;
        input.replaced_at = position;
    }
    input.replaced += count;
}

std::uint64_t replaced_bytes(int index, std::uint32_t &first, RecordPlace &at) {
    first = inputs[index].first_replaced;
    at = {index, inputs[index].replaced_at};
    return inputs[index].replaced;
}

int judge_input(int index) {
    bool good_first = false;
    if (index == 0) {
        // hex_in holds the first block of input 0 (see read_input), which is all a pipe gives.
        InputCursor at = input_cursor();
        auto length = static_cast<std::size_t>(at.end - at.next);
        return judge_file_start(at.next, length, length < INPUT_BLOCK, good_first);
    }
    std::FILE *file = inputs[index].file;
    // A file that cannot go back (a pipe), or that hex_in reads, is judged as it is read.
    if (file == inputs[0].file || std::fseek(file, 0, SEEK_SET) != 0) return LOOKS_HEX;
    std::size_t length = std::fread(text, 1, sizeof text, file);
    bool read = std::ferror(file) == 0;
    bool back = std::fseek(file, 0, SEEK_SET) == 0;
    std::clearerr(file);
    if (!read || !back) return LOOKS_HEX;
    return judge_file_start(text, length, length < sizeof text, good_first);
}

void close_inputs() {
    settle_input();
    // Standard input may stand more than once.
    for (int i = 0; i < held; ++i)
        if (inputs[i].file != stdin) std::fclose(inputs[i].file);
    held = 0;
}
