#include "hex_survey.h"

#include "address_runs.h"
#include "hex_reader.h"
#include "messages.h"
#include "streams.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

// The values of the first repeating records are checked; real files repeat a few addresses, if
// any.
constexpr int REPEATS_CHECKED = 16;

struct Repeat {
    std::uint64_t position; // of the repeating record
    std::uint32_t first;    // its first address
    std::uint32_t count;    // its number of bytes
    std::uint8_t value[RECORD_DATA_MAX];
    bool given[RECORD_DATA_MAX]; // an earlier record gave that byte
};

Repeat repeat_list[REPEATS_CHECKED];
int repeat_count = 0;

// The address of byte i of a data record.
std::uint32_t byte_address(const DataPlace &place, std::uint32_t i) {
    return i < place.run ? place.address + i : place.wrapped + (i - place.run);
}

// Notes the addresses of one piece of a data record, setting `repeated` to the first that was
// given before, if any. Returns false when the run list is full.
bool note_piece(std::uint32_t first, std::uint32_t count, bool &repeats, std::uint32_t &repeated) {
    if (count == 0) return true;
    std::uint32_t last = first + count - 1;
    if (last < first) { // the piece runs across 2^32
        std::uint32_t high = 0u - first;
        return note_piece(first, high, repeats, repeated) &&
               note_piece(0, count - high, repeats, repeated);
    }
    std::size_t i = find_run(first);
    if (i < run_count() && runs()[i].first <= last && !repeats) {
        repeats = true;
        repeated = runs()[i].first > first ? runs()[i].first : first;
    }
    return add_run(first, last);
}

// Reads hex_in again and compares the values that the repeating records give with those given
// before them.
void check_repeats(HexSurvey &survey) {
    if (repeat_count == 0 || !rewind_input()) return;
    survey.values_checked = true;
    AddressBase base;
    std::uint8_t data[RECORD_DATA_MAX];
    int done = 0;
    for (bool first = true; done < repeat_count; first = false) {
        DataPlace place = {};
        std::uint8_t count = 0;
        int result = read_placed_record(base, place, data, count, first);
        if (result < 0) return;
        if (result != RECORD_DATA || count == 0) continue;
        std::uint64_t at = input_position();
        for (int r = done; r < repeat_count; ++r) {
            Repeat &repeat = repeat_list[r];
            bool apart = place.address - repeat.first >= repeat.count &&
                         repeat.first - place.address >= count && place.run == count;
            if (apart) continue;
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint32_t k = byte_address(place, i) - repeat.first;
                if (k >= repeat.count) continue;
                if (at == repeat.position && repeat.given[k] && repeat.value[k] != data[i]) {
                    survey.changing = at;
                    survey.changed = repeat.first + k;
                    return;
                }
                repeat.value[k] = data[i];
                repeat.given[k] = true;
            }
        }
        if (repeat_list[done].position == at) ++done;
    }
}

} // namespace

int survey_hex(HexSurvey &survey, std::uint32_t &detail) {
    clear_runs();
    repeat_count = 0;
    AddressBase base;
    std::uint8_t data[RECORD_DATA_MAX];
    std::uint64_t highest_end = 0; // the end of the data so far; a record below it descends
    for (bool first = true;; first = false) {
        DataPlace place = {};
        std::uint8_t count = 0;
        int result = read_placed_record(base, place, data, count, first);
        if (result < 0) {
            detail = count;
            if (result == RECORD_END) check_repeats(survey);
            return result;
        }
        bool start = result == RECORD_SEGMENT_START || result == RECORD_LINEAR_START;
        if (start && count == 4) {
            if (survey.starts < 4) {
                survey.start_type[survey.starts] = result;
                survey.start_value[survey.starts] = std::uint32_t{data[0]} << 24 |
                                                    std::uint32_t{data[1]} << 16 |
                                                    std::uint32_t{data[2]} << 8 | data[3];
            }
            ++survey.starts;
        }
        if (result != RECORD_DATA || count == 0) continue;
        std::uint64_t at = input_position();
        if (place.address < highest_end && survey.descending == 0) survey.descending = at;
        bool repeats = false;
        std::uint32_t repeated = 0;
        bool room = note_piece(place.address, place.run, repeats, repeated) &&
                    note_piece(place.wrapped, count - place.run, repeats, repeated);
        if (!room) {
            detail = place.address;
            return CONVERT_TOO_MANY_RUNS;
        }
        if (repeats && survey.repeating == 0) {
            survey.repeating = at;
            survey.repeated = repeated;
        }
        if (repeats && repeat_count < REPEATS_CHECKED) {
            repeat_list[repeat_count] = {at, place.address, count, {}, {}};
            ++repeat_count;
        }
        ++survey.records;
        survey.bytes += count;
        std::uint64_t end = std::uint64_t{place.address} + place.run;
        if (end > highest_end) highest_end = end;
    }
}

namespace {

const char *plural(std::uint64_t count) {
    return count == 1 ? "" : "s";
}

// Prints the runs, the totals and the start address records.
void print_map(const HexSurvey &survey) {
    for (std::size_t i = 0; i < run_count(); ++i) {
        std::uint64_t length = std::uint64_t{runs()[i].last} - runs()[i].first + 1;
        std::printf("\n%08x-%08x %" PRIu64, runs()[i].first, runs()[i].last, length);
    }
    std::printf("\n%" PRIu64 " data record%s, %" PRIu64 " data byte%s, %zu run%s", survey.records,
                plural(survey.records), survey.bytes, plural(survey.bytes), run_count(),
                plural(run_count()));
    for (int i = 0; i < survey.starts && i < 4; ++i) {
        std::uint32_t value = survey.start_value[i];
        if (survey.start_type[i] == RECORD_SEGMENT_START) {
            std::printf("\nstart segment address (03) %04x:%04x", value >> 16, value & 0xFFFF);
        } else {
            std::printf("\nstart linear address (05) %08x", value);
        }
    }
}

} // namespace

void print_survey(const char *in_name, const HexSurvey &survey) {
    print_map(survey);
    char text[96];
    if (survey.descending != 0)
        print_at(in_name, survey.descending, "records descend: convert with --any-order");
    if (survey.repeating != 0) {
        std::snprintf(text, sizeof text, "gives %08x again", survey.repeated);
        print_at(in_name, survey.repeating, text);
    }
    if (survey.changing != 0) {
        std::snprintf(text, sizeof text, "gives %08x another value: the file is inconsistent",
                      survey.changed);
        print_at(in_name, survey.changing, text);
    }
    if (survey.descending == 0 && survey.repeating == 0) std::printf("\nrecords ascend");
    if (survey.repeating != 0 && survey.changing == 0 && survey.values_checked)
        std::printf("\nrepeated addresses keep their values");
    if (survey.repeating != 0 && !survey.values_checked)
        std::printf("\nrepeated addresses not compared: the input cannot be read again");
    std::printf("\n");
}
