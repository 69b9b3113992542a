// The input stream: blocks read from the file, the next one ahead by a second thread.
#include "input_stream.h"

#include <pthread.h>

InputStream hex_in;

namespace {

// The block read ahead of hex_in, by a thread that waits between blocks. POSIX threads, which
// the C library has (and MinGW-w64), rather than std::thread, which would bring the C++ library
// and its megabyte into the process.
struct ReadAhead {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
    bool started = false; // the thread runs
    bool asked = false;   // a read is asked for or under way
    bool done = false;    // and has ended: got and failed hold its outcome
    std::FILE *file = nullptr;
    unsigned char *into = nullptr;
    std::size_t got = 0;
    bool failed = false;
};
ReadAhead ahead;

void *read_ahead_blocks(void *) {
    pthread_mutex_lock(&ahead.lock);
    for (;;) {
        while (!ahead.asked || ahead.done) pthread_cond_wait(&ahead.changed, &ahead.lock);
        std::FILE *file = ahead.file;
        unsigned char *into = ahead.into;
        pthread_mutex_unlock(&ahead.lock);
        std::size_t got = std::fread(into, 1, INPUT_BLOCK, file);
        bool failed = got == 0 && std::ferror(file) != 0;
        pthread_mutex_lock(&ahead.lock);
        ahead.got = got;
        ahead.failed = failed;
        ahead.done = true;
        pthread_cond_broadcast(&ahead.changed);
    }
}

// The block that hex_in does not read from.
unsigned char *other_block() {
    return hex_in.block == hex_in.blocks[0] ? hex_in.blocks[1] : hex_in.blocks[0];
}

// Asks for the next block of hex_in to be read into the other block. Returns false when no
// thread can read it.
bool ask_ahead() {
    pthread_mutex_lock(&ahead.lock);
    if (!ahead.started) {
        pthread_t thread;
        ahead.started = pthread_create(&thread, nullptr, read_ahead_blocks, nullptr) == 0;
        if (ahead.started) pthread_detach(thread);
    }
    bool started = ahead.started;
    if (started) {
        ahead.file = hex_in.file;
        ahead.into = other_block();
        ahead.asked = true;
        ahead.done = false;
        pthread_cond_broadcast(&ahead.changed);
    }
    pthread_mutex_unlock(&ahead.lock);
    return started;
}

// Waits for the block asked for, if any: returns false when none was, and otherwise sets `got`
// and `failed` to the outcome of its read.
bool take_ahead(std::size_t &got, bool &failed) {
    pthread_mutex_lock(&ahead.lock);
    bool asked = ahead.asked;
    if (asked) {
        while (!ahead.done) pthread_cond_wait(&ahead.changed, &ahead.lock);
        ahead.asked = false;
        got = ahead.got;
        failed = ahead.failed;
    }
    pthread_mutex_unlock(&ahead.lock);
    return asked;
}

// Reads the first block of hex_in, from the file's position, no block being read ahead. Returns
// false when that read fails.
bool start_input() {
    hex_in.block = hex_in.blocks[0];
    hex_in.block_start = 0;
    hex_in.ended = false;
    hex_in.failed = false;
    hex_in.end = hex_in.block;
    refill_input();
    hex_in.next = hex_in.block;
    return !hex_in.failed;
}

} // namespace

bool open_input(std::FILE *file, bool read_ahead) {
    settle_input();
    hex_in.file = file;
    hex_in.read_ahead = read_ahead;
    std::setvbuf(file, nullptr, _IONBF, 0);
    return start_input();
}

void settle_input() {
    std::size_t got = 0;
    bool failed = false;
    take_ahead(got, failed);
}

int refill_input() {
    hex_in.block_start += static_cast<std::uint64_t>(hex_in.end - hex_in.block);
    std::size_t got = 0;
    bool failed = false;
    if (take_ahead(got, failed)) {
        hex_in.block = other_block();
    } else if (!hex_in.ended) {
        got = std::fread(hex_in.block, 1, INPUT_BLOCK, hex_in.file);
        failed = got == 0 && std::ferror(hex_in.file) != 0;
    }
    if (got == 0) {
        hex_in.ended = true;
        hex_in.failed = failed;
    }
    // A short read met the file's end or an error: the next read tells which, at once.
    if (got == INPUT_BLOCK && hex_in.read_ahead && !ask_ahead()) hex_in.read_ahead = false;
    hex_in.end = hex_in.block + got;
    hex_in.next = hex_in.block;
    if (got == 0) return EOF;
    return *hex_in.next++;
}
