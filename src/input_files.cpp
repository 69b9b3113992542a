#include "input_files.h"

#include "hex_reader.h"
#include "streams.h"

#include <vector>

namespace {

struct InputFile {
    const char *name;
    std::FILE *file;
};

std::vector<InputFile> inputs;

// hex_in as a message found it, while find_first_giver reads the inputs again.
InputStream saved_input;

// Whether the data record at `place` gives `address`.
bool gives(const DataPlace &place, std::uint32_t count, std::uint32_t address) {
    return address - place.address < place.run || address - place.wrapped < count - place.run;
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
    inputs.clear();
}

void add_input(const char *name, std::FILE *file) {
    inputs.push_back({name, file});
}

int input_count() {
    return static_cast<int>(inputs.size());
}

const char *input_name(int index) {
    return inputs[static_cast<std::size_t>(index)].name;
}

bool read_input(int index) {
    return open_input(inputs[static_cast<std::size_t>(index)].file);
}

void point_at_input(int index) {
    hex_in.file = inputs[static_cast<std::size_t>(index)].file;
}

void find_first_giver(std::uint32_t address, const RecordPlace &before, RecordPlace &found) {
    saved_input = hex_in;
    found = {-1, 0};
    for (int index = 0; index <= before.input && found.position == 0; ++index) {
        point_at_input(index);
        if (!rewind_input()) {
            if (found.input < 0) found.input = index;
            continue;
        }
        std::uint64_t at = scan_for(address, index == before.input ? before.position : 0);
        if (at != 0) found = {index, at};
    }
    hex_in = saved_input;
}

void close_inputs() {
    // Standard input may stand more than once.
    for (const InputFile &input : inputs)
        if (input.file != stdin) std::fclose(input.file);
    inputs.clear();
}
