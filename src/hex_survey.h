// The survey of HEX files (--info): their data address runs, totals, start addresses, and
// whether their records descend or repeat an address, and with what values; and its report.
#ifndef QUORLIT_HEX_SURVEY_H
#define QUORLIT_HEX_SURVEY_H

#include "input_files.h"

#include <cstdint>

// How the values of repeated addresses were compared.
constexpr int COMPARE_DONE = 0;
constexpr int COMPARE_NO_REWIND = 1;   // the input cannot go back to its start (a pipe)
constexpr int COMPARE_READ_FAILED = 2; // a read of a further pass failed

// The records that give an address another value than an earlier record gave it, the earliest
// first: a few are kept to be named.
constexpr int CONFLICTS_KEPT = 16;

struct Conflict {
    RecordPlace place;     // the later record
    std::uint32_t address; // the first address to which it gives another value
};

// What a survey of HEX files found besides their runs. Places are those of records (see
// RecordPlace); a position of 0 means none.
struct HexSurvey {
    std::uint64_t records = 0;  // data records with data
    std::uint64_t bytes = 0;    // their data bytes
    RecordPlace descending;     // the first data record that starts below the end of the data
    RecordPlace repeating;      // the first data record that gives an address given before
    std::uint32_t repeated = 0; // that address
    Conflict conflicts[CONFLICTS_KEPT];
    int conflicts_kept = 0;
    std::uint64_t conflicting = 0;     // the records that give an address another value
    int compare = 0;                   // how the values of repeated addresses were compared
    std::uint32_t blocks_compared = 0; // the 64 KiB blocks compared, where a limit stopped it
    RecordPlace end_of_file;           // the first end-of-file record that records follow
    std::uint64_t trailing = 0;        // the good records after it
    std::uint64_t highest_end = 0;     // the end of the data so far
    int starts = 0; // start address records (types 03 and 05), the first few kept
    int start_type[4] = {};
    std::uint32_t start_value[4] = {};
};

// Surveys every input in turn, the first from hex_in as read_input(0) left it, the others from
// their start: adds their data addresses to the run list, and what else it finds to `survey`;
// then, where addresses repeat, reads the inputs again, where they can go back, to compare their
// values. Returns the stop: none, a reader's error, or CONVERT_TOO_MANY_RUNS.
Stop survey_inputs(HexSurvey &survey);

// Whether the survey found an address that the inputs give two values.
bool survey_conflicts(const HexSurvey &survey);

// Prints the runs in the run list and what `survey` found, with the lines of the records it
// names in the inputs, which are still open.
void print_survey(const HexSurvey &survey);

#endif
