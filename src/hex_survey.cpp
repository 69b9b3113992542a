// The survey of HEX files for --info, and its report.
#include "hex_survey.h"

#include "address_runs.h"
#include "hex_reader.h"
#include "messages.h"
#include "streams.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

// Repeated addresses are compared a 64 KiB block at a time: the survey marks each block that
// holds one, and each further pass over the file compares the values of up to BATCH_BLOCKS
// marked blocks, in address order, holding a value and a given-bit for each of their bytes.
// Real files repeat a few addresses, if any; PASSES_MAX bounds the time a crafted one takes.
constexpr std::size_t BLOCK_SIZE = 0x10000;
constexpr std::size_t BLOCKS = 0x10000;
constexpr std::size_t BATCH_BLOCKS = 16;
constexpr int PASSES_MAX = 64;

std::uint8_t repeat_blocks[BLOCKS / 8]; // a bit for each block that holds a repeated address
std::uint8_t batch_slot[BLOCKS];        // a block's slot in this pass, plus 1; 0: not in it
std::uint8_t batch_value[BATCH_BLOCKS][BLOCK_SIZE];
std::uint8_t batch_given[BATCH_BLOCKS][BLOCK_SIZE / 8];

// Marks the blocks of the repeated addresses first to last (first <= last).
void mark_repeated(std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t block = first >> 16; block <= last >> 16; ++block)
        repeat_blocks[block / 8] =
            static_cast<std::uint8_t>(repeat_blocks[block / 8] | 1u << block % 8);
}

// Notes the addresses of one piece of a data record, marking those given before and setting
// `repeated` to the first of them, if any. Returns false when the run list is full.
bool note_piece(std::uint32_t first, std::uint32_t count, bool &repeats, std::uint32_t &repeated) {
    if (count == 0) return true;
    std::uint32_t last = first + count - 1;
    if (last < first) { // the piece runs across 2^32
        std::uint32_t high = 0u - first;
        return note_piece(first, high, repeats, repeated) &&
               note_piece(0, count - high, repeats, repeated);
    }
    for (std::size_t i = find_run(first); i != run_end() && run_at(i).first <= last;
         i = next_run(i)) {
        std::uint32_t from = run_at(i).first > first ? run_at(i).first : first;
        std::uint32_t to = run_at(i).last < last ? run_at(i).last : last;
        mark_repeated(from, to);
        if (!repeats) repeated = from;
        repeats = true;
    }
    return add_run(first, last);
}

// Compares the bytes of one piece of a data record with those given before in the blocks of
// this pass, keeping the first value of each. Returns false, setting `changed` to the first
// address that the piece gives another value, where there is one.
bool compare_piece(std::uint32_t first, const std::uint8_t *data, std::uint32_t count,
                   std::uint32_t &changed) {
    bool same = true;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t address = first + i;
        int slot = batch_slot[address >> 16] - 1;
        if (slot < 0) continue;
        std::uint32_t k = address & 0xFFFF;
        std::uint8_t bit = static_cast<std::uint8_t>(1u << k % 8);
        if ((batch_given[slot][k / 8] & bit) == 0) {
            batch_value[slot][k] = data[i];
            batch_given[slot][k / 8] = static_cast<std::uint8_t>(batch_given[slot][k / 8] | bit);
        } else if (batch_value[slot][k] != data[i] && same) {
            changed = address;
            same = false;
        }
    }
    return same;
}

// Whether the record at `a` comes before the one at `b`.
bool before(const RecordPlace &a, const RecordPlace &b) {
    return a.input < b.input || (a.input == b.input && a.position < b.position);
}

// Counts a record that gives `address` another value, keeping the earliest few.
void note_conflict(HexSurvey &survey, const RecordPlace &place, std::uint32_t address) {
    int at = survey.conflicts_kept;
    while (at > 0 && before(place, survey.conflicts[at - 1].place)) --at;
    // A record whose bytes lie in blocks of two passes is one record.
    if (at > 0 && !before(survey.conflicts[at - 1].place, place)) {
        if (address < survey.conflicts[at - 1].address) survey.conflicts[at - 1].address = address;
        return;
    }
    ++survey.conflicting;
    if (at == CONFLICTS_KEPT) return;
    int last = survey.conflicts_kept < CONFLICTS_KEPT ? survey.conflicts_kept : CONFLICTS_KEPT - 1;
    for (int i = last; i > at; --i) survey.conflicts[i] = survey.conflicts[i - 1];
    survey.conflicts[at] = {place, address};
    if (survey.conflicts_kept < CONFLICTS_KEPT) ++survey.conflicts_kept;
}

// Reads hex_in again from its start and compares the values of the blocks in this pass. Returns
// false when a read fails.
bool compare_input(HexSurvey &survey, int input) {
    if (!reread_input(input)) return false;
    RecordWalk walk;
    for (;;) {
        int result = next_record(walk);
        if (result == RECORD_END) return true;
        if (result < 0) return false;
        if (result != RECORD_DATA) continue;
        const DataPlace &place = walk.place;
        // Both pieces are compared; `changed` ends at the first piece's change, if it has one.
        std::uint32_t changed = 0;
        std::uint32_t rest = walk.count - place.before_wrap;
        bool wrapped_same =
            compare_piece(place.wrapped, walk.data + place.before_wrap, rest, changed);
        bool first_same = compare_piece(place.address, walk.data, place.before_wrap, changed);
        if (!first_same || !wrapped_same) note_conflict(survey, {input, input_position()}, changed);
    }
}

// Takes the next marked blocks from `block` on into this pass, clearing their given-bits.
// Returns how many it took.
std::size_t take_batch(std::size_t &block) {
    std::size_t taken = 0;
    for (; block < BLOCKS && taken < BATCH_BLOCKS; ++block) {
        if ((repeat_blocks[block / 8] >> block % 8 & 1) == 0) continue;
        std::memset(batch_given[taken], 0, sizeof batch_given[taken]);
        ++taken;
        batch_slot[block] = static_cast<std::uint8_t>(taken);
    }
    return taken;
}

// Reads hex_in again, as often as it takes, to compare the values of all repeated addresses.
void check_repeats(HexSurvey &survey) {
    std::size_t block = 0;
    for (int pass = 0;; ++pass) {
        std::size_t start = block;
        if (take_batch(block) == 0) break;
        if (pass == PASSES_MAX) {
            survey.blocks_compared = static_cast<std::uint32_t>(BATCH_BLOCKS * PASSES_MAX);
            break;
        }
        bool read = true;
        for (int input = 0; input < input_count() && read; ++input)
            read = compare_input(survey, input);
        std::memset(batch_slot + start, 0, block - start);
        if (!read) {
            survey.compare = input_failed() ? COMPARE_READ_FAILED : COMPARE_NO_REWIND;
            return;
        }
    }
    survey.compare = COMPARE_DONE;
}

// Counts the good records after the end-of-file record, to the end of hex_in, into `trailing`.
// Returns false when a read fails.
bool count_trailing(std::uint64_t &trailing) {
    std::uint8_t data[RECORD_DATA_MAX];
    for (;;) {
        std::uint32_t address = 0;
        std::uint8_t count = 0;
        int result = read_hex_record(address, data, count, true);
        if (result >= 0 || result == RECORD_END) {
            ++trailing;
        } else if (input_ended()) {
            return !input_failed();
        }
    }
}

// Notes a start address record (types 03 and 05) of four bytes.
void note_start(HexSurvey &survey, int type, const std::uint8_t *data) {
    if (survey.starts < 4) {
        survey.start_type[survey.starts] = type;
        survey.start_value[survey.starts] = std::uint32_t{data[0]} << 24 |
                                            std::uint32_t{data[1]} << 16 |
                                            std::uint32_t{data[2]} << 8 | data[3];
    }
    ++survey.starts;
}

// Reads hex_in, input `input`, to its end-of-file record, adds its data addresses to the run list
// and to `survey`, then counts the records that follow that record. Returns the stop.
Stop survey_input(HexSurvey &survey, int input) {
    RecordWalk walk;
    for (;;) {
        int result = next_record(walk);
        const DataPlace &place = walk.place;
        const std::uint8_t *data = walk.data;
        std::uint8_t count = walk.count;
        if (result < 0 && result != RECORD_END) return stop_in_input(result, count, input);
        if (result == RECORD_END) {
            RecordPlace end = {input, input_position()};
            std::uint64_t trailing = 0;
            if (!count_trailing(trailing)) return stop_in_input(RECORD_BAD_TEXT, count, input);
            if (trailing != 0 && survey.trailing == 0) {
                survey.end_of_file = end;
                survey.trailing = trailing;
            }
            return {};
        }
        bool start = result == RECORD_SEGMENT_START || result == RECORD_LINEAR_START;
        if (start && count == 4) note_start(survey, result, data);
        if (result != RECORD_DATA || count == 0) continue;
        RecordPlace at = {input, input_position()};
        // Bytes that wrap round their 64 KiB segment land below the record's first.
        bool wraps = place.before_wrap < count;
        if ((place.address < survey.highest_end || wraps) && survey.descending.position == 0)
            survey.descending = at;
        bool repeats = false;
        std::uint32_t repeated = 0;
        bool room = note_piece(place.address, place.before_wrap, repeats, repeated) &&
                    note_piece(place.wrapped, count - place.before_wrap, repeats, repeated);
        if (!room) return stop_in_input(CONVERT_TOO_MANY_RUNS, place.address, input);
        if (repeats && survey.repeating.position == 0) {
            survey.repeating = at;
            survey.repeated = repeated;
        }
        ++survey.records;
        survey.bytes += count;
        std::uint64_t end = std::uint64_t{place.address} + place.before_wrap;
        survey.highest_end = end > survey.highest_end ? end : survey.highest_end;
    }
}

} // namespace

Stop survey_inputs(HexSurvey &survey) {
    survey = {};
    clear_runs();
    std::memset(repeat_blocks, 0, sizeof repeat_blocks);
    Stop stop;
    for (int input = 0; input < input_count() && !stopped(stop); ++input) {
        // The first input was read when it was opened.
        if (input > 0 && !read_input(input)) {
            stop = stop_in_input(RECORD_BAD_TEXT, 0, input);
            break;
        }
        stop = survey_input(survey, input);
    }
    if (!stopped(stop) && survey.repeating.position != 0) check_repeats(survey);
    return stop;
}

namespace {

const char *plural(std::uint64_t count) {
    return count == 1 ? "" : "s";
}

// Prints the runs, the totals and the start address records.
void print_runs(const HexSurvey &survey) {
    for (std::size_t i = find_run(0); i != run_end(); i = next_run(i)) {
        const AddressRun &run = run_at(i);
        std::uint64_t length = std::uint64_t{run.last} - run.first + 1;
        say("\n%08x-%08x %" PRIu64, run.first, run.last, length);
    }
    say("\n%" PRIu64 " data record%s, %" PRIu64 " data byte%s, %zu run%s", survey.records,
        plural(survey.records), survey.bytes, plural(survey.bytes), run_count(),
        plural(run_count()));
    for (int i = 0; i < survey.starts && i < 4; ++i) {
        std::uint32_t value = survey.start_value[i];
        if (survey.start_type[i] == RECORD_SEGMENT_START) {
            say("\nstart segment address (03) %04x:%04x", value >> 16, value & 0xFFFF);
        } else {
            say("\nstart linear address (05) %08x", value);
        }
    }
}

// Prints how far the values of repeated addresses were compared, none having changed.
void print_compare(const HexSurvey &survey) {
    if (survey.compare == COMPARE_NO_REWIND) {
        say("\nrepeated addresses not compared: the input cannot be read again");
    } else if (survey.compare == COMPARE_READ_FAILED) {
        say("\nrepeated addresses not compared: a read of the input failed");
    } else if (survey.blocks_compared != 0) {
        say("\nrepeated addresses keep their values in the first %u blocks of 64 KiB "
            "that hold them; the rest were not compared",
            survey.blocks_compared);
    } else {
        say("\nrepeated addresses keep their values");
    }
}

// Prints, for several inputs, each record that gives an address another value than an earlier
// one, with the place of the record that gave it first.
void print_conflicts(const HexSurvey &survey) {
    char text[PLACE_TEXT + 128];
    char where[PLACE_TEXT];
    for (int i = 0; i < survey.conflicts_kept; ++i) {
        const Conflict &conflict = survey.conflicts[i];
        place_text(where, find_first_giver(conflict.address, conflict.place));
        std::snprintf(text, sizeof text, "gives %08x another value than %s", conflict.address,
                      where);
        print_at(conflict.place, text);
    }
    std::uint64_t more = survey.conflicting - static_cast<std::uint64_t>(survey.conflicts_kept);
    if (more != 0)
        say("\n%" PRIu64 " more record%s give%s an address another value", more, plural(more),
            more == 1 ? "s" : "");
}

} // namespace

bool survey_conflicts(const HexSurvey &survey) {
    return survey.conflicting != 0;
}

void print_survey(const HexSurvey &survey) {
    print_runs(survey);
    bool several = input_count() > 1;
    char text[160];
    // With several inputs, records in any order are what a merge takes.
    if (survey.descending.position != 0 && !several)
        print_at(survey.descending, survey.conflicting != 0
                                        ? "records descend and change values: convert with "
                                          "--overlap=replace"
                                        : "records descend: convert with --any-order");
    if (survey.repeating.position != 0) {
        std::snprintf(text, sizeof text, "gives %08x again", survey.repeated);
        print_at(survey.repeating, text);
    }
    if (several) {
        print_conflicts(survey);
    } else if (survey.conflicts_kept != 0) {
        std::snprintf(text, sizeof text, "gives %08x another value: the file is inconsistent",
                      survey.conflicts[0].address);
        print_at(survey.conflicts[0].place, text);
    }
    if (survey.descending.position == 0 && survey.repeating.position == 0 && !several)
        say("\nrecords ascend");
    if (survey.repeating.position != 0 && survey.conflicting == 0) print_compare(survey);
    if (survey.trailing != 0) {
        std::snprintf(text, sizeof text,
                      "%" PRIu64 " record%s follow%s the end-of-file record; a conversion does not "
                      "read them",
                      survey.trailing, plural(survey.trailing), survey.trailing == 1 ? "s" : "");
        print_at(survey.end_of_file, text);
    }
    say("\n");
}
