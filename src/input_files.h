// The input files of a run, in the order given. All are opened before the output is created, and
// kept open to the end, so that a message can find a line in any of them again.
#ifndef QUORLIT_INPUT_FILES_H
#define QUORLIT_INPUT_FILES_H

#include "stop_codes.h"

#include <cstdint>
#include <cstdio>

// Forgets the inputs of an earlier run.
void clear_inputs();

// Adds an open input file of the given name. Returns false when there is no memory for it.
bool add_input(const char *name, std::FILE *file);

// The number of inputs, and the name of input `index`.
int input_count();
const char *input_name(int index);

// Makes input `index` hex_in and reads its first block. Returns false when that read fails.
bool read_input(int index);

// Returns the stop `code`, naming `value`, at the character that hex_in, input `index`, read
// last, or at its end.
Stop stop_in_input(int code, std::uint32_t value, int index);

// Makes input `index` hex_in again, from its start. Returns false when it cannot go back there
// (a pipe) or its first read fails.
bool reread_input(int index);

// Reads input `index` again from its start, with a buffer of its own, and returns the line,
// counted from 1, that holds input position `position`; a CR, an LF or a CR LF ends a line.
// Returns 0 when the input cannot go back to its start (a pipe) or no longer holds that position.
std::uint64_t input_line(int index, std::uint64_t position);

// Returns the first data record, in the inputs up to the record at `before`, that gives flash
// address `address`; where none is found, its position is 0 and its input the first of those
// inputs that cannot be read again (a pipe), or -1. Reads the inputs as hex_in, from their start.
RecordPlace find_first_giver(std::uint32_t address, const RecordPlace &before);

// Returns what the start of input `index` looks like (see judge_file_start): of input 0, from
// the first block that read_input(0) left in hex_in; of the others, from their start, read with a
// buffer of its own, the file then put back at its start. An input that cannot go back (a pipe)
// is not judged here but as it is read.
int judge_input(int index);

// Notes that input `index` gave the window data.
void note_gave_window(int index);

// Whether input `index` gave the window data.
bool gave_window(int index);

// Notes that input `index` replaced the values of `count` bytes, from flash address `address` on,
// by the record that ends at input position `position`.
void note_replaced(int index, std::uint32_t address, std::uint64_t count, std::uint64_t position);

// How many bytes input `index` replaced; `first` receives the first address, and `at` the place
// of the record that replaced it.
std::uint64_t replaced_bytes(int index, std::uint32_t &first, RecordPlace &at);

// Closes every input.
void close_inputs();

#endif
