// The input stream, hex_in: one open HEX file read through block buffers of our own (the C
// library does not buffer it), so that every read reaches the file where it is checked. The next
// block may be read ahead by a second thread. Only the functions below change its fields.
#ifndef QUORLIT_INPUT_STREAM_H
#define QUORLIT_INPUT_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Two input blocks of 512 KiB: while records are decoded from one, a second thread reads the next
// block into the other, from a file that never makes a read wait (see open_input). Blocks of this
// size hand over few enough times that the thread's waking up costs nothing measurable; larger
// ones gain nothing. The record decoder may read INPUT_SLACK characters past the block's end; it
// never uses them.
constexpr std::size_t INPUT_BLOCK = 512 * 1024;
constexpr std::size_t INPUT_SLACK = 64;
// Smaller files are read without the second thread: starting it costs more than it saves on a
// few blocks (milliseconds under Wine).
constexpr std::uint64_t READ_AHEAD_MIN = 4 * INPUT_BLOCK;

struct InputStream {
    std::FILE *file;
    bool read_ahead;           // the next block may be read ahead
    const unsigned char *next; // the next character to hand out
    const unsigned char *end;  // the end of the characters in block
    std::uint64_t block_start; // input position of block[0]
    bool ended;                // a read found the file's end, or failed
    bool failed;               // a read failed
    unsigned char *block;      // one of blocks
    unsigned char blocks[2][INPUT_BLOCK + INPUT_SLACK];
};

// Defined in input_stream.cpp: Windows linkers keep an inline variable's zeros in the executable.
extern InputStream hex_in;

// A reading position kept in local variables across a record, and handed back once.
struct InputCursor {
    const unsigned char *next;
    const unsigned char *end; // at least INPUT_SLACK readable characters follow it
};

// Takes over an open file as hex_in and reads its first block. Returns false when that read fails
// (a folder opens on some systems, but cannot be read). With `read_ahead`, each next block is
// read while the one before is used: only for a file whose reads never wait for a writer (not a
// pipe or a terminal), which could otherwise keep the run waiting for input it does not need.
bool open_input(std::FILE *file, bool read_ahead);

// Waits for a block being read ahead of hex_in, and drops it; reading goes on from the file's
// position. Before hex_in's file is moved or closed.
void settle_input();

// Reads the next block of hex_in. Returns its first character, leaving hex_in.next after it, or
// EOF at the end or on an error.
int refill_input();

// Where hex_in stands.
inline InputCursor input_cursor() {
    return {hex_in.next, hex_in.end};
}

// Moves hex_in on to `at`, a cursor taken from it and moved within its block.
inline void input_resume(const InputCursor &at) {
    hex_in.next = at.next;
}

// Returns the next character of hex_in, or EOF. The cursor never leaves the caller, so that it
// stays in registers.
inline int input_char(InputCursor &at) {
    if (at.next != at.end) return *at.next++;
    int c = refill_input();
    at.next = hex_in.next;
    at.end = hex_in.end;
    return c;
}

// The number of characters read from hex_in so far.
inline std::uint64_t input_position() {
    return hex_in.block_start + static_cast<std::uint64_t>(hex_in.next - hex_in.block);
}

// The last character read, or EOF when it is no longer held.
inline int input_last() {
    return hex_in.next > hex_in.block ? hex_in.next[-1] : EOF;
}

// Whether a read of hex_in found its end (or failed), and whether one failed.
inline bool input_ended() {
    return hex_in.ended;
}
inline bool input_failed() {
    return hex_in.failed;
}

#endif
