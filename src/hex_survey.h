// The survey of a HEX file for --info: its data address runs, totals, start addresses, and
// whether its records descend or repeat an address, and with what values; and the report of it.
#ifndef QUORLIT_HEX_SURVEY_H
#define QUORLIT_HEX_SURVEY_H

#include <cstdint>

// How the values of repeated addresses were compared.
constexpr int COMPARE_DONE = 0;
constexpr int COMPARE_NO_REWIND = 1;   // the input cannot go back to its start (a pipe)
constexpr int COMPARE_READ_FAILED = 2; // a read of a further pass failed

// What a survey of a HEX file found besides its runs. Input positions are those just after a
// record (see input_position); 0 means none.
struct HexSurvey {
    std::uint64_t records = 0;    // data records with data
    std::uint64_t bytes = 0;      // their data bytes
    std::uint64_t descending = 0; // the first data record that starts below the end of the data
    std::uint64_t repeating = 0;  // the first data record that gives an address given before
    std::uint32_t repeated = 0;   // that address
    std::uint64_t changing = 0;   // the first that gives an address given before another value
    std::uint32_t changed = 0;    // that address
    int compare = 0;              // how the values of repeated addresses were compared
    std::uint32_t blocks_compared = 0; // the 64 KiB blocks compared, where a limit stopped it
    std::uint64_t end_of_file = 0;     // the end-of-file record
    std::uint64_t trailing = 0;        // the good records after it
    int starts = 0; // start address records (types 03 and 05), the first few kept
    int start_type[4] = {};
    std::uint32_t start_value[4] = {};
};

// Reads hex_in to its end-of-file record, puts its data addresses in the run list and fills
// `survey`, then counts the records that follow that record; when addresses repeat, reads hex_in
// again, where it can go back, to compare their values. Returns RECORD_END, a reader's error
// (`detail` gets the record's byte count) or CONVERT_TOO_MANY_RUNS (`detail` gets the record's
// address).
int survey_hex(HexSurvey &survey, std::uint32_t &detail);

// Prints the runs in the run list and what `survey` found, with the lines of the records it names
// in the input `in_name`, which is still open.
void print_survey(const char *in_name, const HexSurvey &survey);

#endif
