#include "streams.h"

#include <pthread.h>

InputStream hex_in;
OutputStream image_out;

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

bool rewind_input() {
    settle_input();
    if (std::fseek(hex_in.file, 0, SEEK_SET) != 0) return false;
    std::clearerr(hex_in.file);
    return start_input();
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

std::uint64_t input_line(std::uint64_t position) {
    settle_input();
    if (std::fseek(hex_in.file, 0, SEEK_SET) != 0) return 0;
    std::clearerr(hex_in.file);
    std::uint64_t line = 1;
    int before = EOF;
    for (std::uint64_t seen = 0; seen < position;) {
        std::uint64_t left = position - seen;
        std::size_t want = left < INPUT_BLOCK ? static_cast<std::size_t>(left) : INPUT_BLOCK;
        std::size_t got = std::fread(hex_in.block, 1, want, hex_in.file);
        if (got == 0) return 0;
        for (std::size_t i = 0; i < got; ++i) {
            int c = hex_in.block[i];
            if (c == '\r' || (c == '\n' && before != '\r')) ++line;
            before = c;
        }
        seen += got;
    }
    return line;
}

void open_output(std::FILE *file) {
    OutputStream &out = image_out;
    out.file = file;
    std::setvbuf(file, nullptr, _IONBF, 0);
    out.block_start = 0;
    out.used = 0;
    out.file_position = 0;
    out.failed = false;
    out.uses = 0;
    out.last_page = nullptr;
    for (OutputPage &page : out.pages) {
        page.length = 0;
        page.dirty_from = 0;
        page.dirty_to = 0;
        page.used_at = 0;
    }
}

void flush_output() {
    OutputStream &out = image_out;
    if (out.used > 0 && !out.failed) {
        // Image offsets stay below 2 GiB, so they fit a long on every platform.
        if (out.file_position != out.block_start &&
            std::fseek(out.file, static_cast<long>(out.block_start), SEEK_SET) != 0) {
            out.failed = true;
        } else if (std::fwrite(out.block, 1, out.used, out.file) != out.used) {
            out.failed = true;
        }
        out.file_position = out.block_start + out.used;
    }
    out.block_start += out.used;
    out.used = 0;
}

void output_fill(unsigned char fill, std::uint64_t length) {
    while (length > 0) {
        if (image_out.used == OUTPUT_BLOCK) flush_output();
        std::size_t room = OUTPUT_BLOCK - image_out.used;
        std::size_t part = length < room ? static_cast<std::size_t>(length) : room;
        std::memset(image_out.block + image_out.used, fill, part);
        image_out.used += part;
        length -= part;
    }
}

namespace {

constexpr std::uint64_t UNKNOWN_POSITION = ~std::uint64_t{0};

// Writes the changed bytes of `page` back to the file; a failure is recorded in image_out.failed.
void write_back(OutputPage &page) {
    OutputStream &out = image_out;
    std::size_t length = page.dirty_to - page.dirty_from;
    if (length > 0 && !out.failed) {
        std::uint64_t at = page.start + page.dirty_from;
        if (std::fseek(out.file, static_cast<long>(at), SEEK_SET) != 0 ||
            std::fwrite(page.bytes + page.dirty_from, 1, length, out.file) != length)
            out.failed = true;
        out.file_position = at + length;
    }
    page.dirty_from = 0;
    page.dirty_to = 0;
}

// Reads into `page` the image from `start`, up to the output block. Returns false when the file
// cannot seek there or be read.
bool read_page(OutputPage &page, std::uint64_t start) {
    OutputStream &out = image_out;
    write_back(page);
    page.length = 0;
    std::uint64_t left = out.block_start - start;
    std::size_t length = left < OUTPUT_PAGE ? static_cast<std::size_t>(left) : OUTPUT_PAGE;
    if (out.failed || std::fseek(out.file, static_cast<long>(start), SEEK_SET) != 0) return false;
    std::size_t got = std::fread(page.bytes, 1, length, out.file);
    out.file_position = UNKNOWN_POSITION; // a write after a read must seek first
    if (got != length) return false;
    page.start = start;
    page.length = length;
    return true;
}

// Returns the page that holds image offset `offset`, below the output block, reading it when no
// page does; nullptr when it cannot be read.
OutputPage *page_at(std::uint64_t offset) {
    OutputStream &out = image_out;
    std::uint64_t start = offset - offset % OUTPUT_PAGE;
    OutputPage *page = out.last_page;
    if (page == nullptr || page->start != start || offset - start >= page->length) {
        page = nullptr;
        OutputPage *oldest = &out.pages[0];
        for (OutputPage &held : out.pages) {
            if (held.length > 0 && held.start == start) page = &held;
            if (held.used_at < oldest->used_at) oldest = &held;
        }
        if (page == nullptr) page = oldest;
        // A page read before the image grew past it may hold less than it can now.
        if (page->start != start || offset - start >= page->length) {
            if (!read_page(*page, start)) return nullptr;
        }
    }
    page->used_at = ++out.uses;
    out.last_page = page;
    return page;
}

} // namespace

std::size_t output_at(std::uint64_t offset, const unsigned char *&bytes) {
    OutputStream &out = image_out;
    if (offset >= out.block_start) {
        std::size_t index = static_cast<std::size_t>(offset - out.block_start);
        bytes = out.block + index;
        return out.used - index;
    }
    OutputPage *page = page_at(offset);
    if (page == nullptr) return 0;
    std::size_t index = static_cast<std::size_t>(offset - page->start);
    bytes = page->bytes + index;
    return page->length - index;
}

bool output_overwrite(std::uint64_t offset, const unsigned char *bytes, std::size_t count) {
    OutputStream &out = image_out;
    while (count > 0) {
        if (offset >= out.block_start) {
            std::memcpy(out.block + (offset - out.block_start), bytes, count);
            return true;
        }
        OutputPage *page = page_at(offset);
        if (page == nullptr) return false;
        std::size_t index = static_cast<std::size_t>(offset - page->start);
        std::size_t part = count < page->length - index ? count : page->length - index;
        std::memcpy(page->bytes + index, bytes, part);
        if (page->dirty_to == page->dirty_from || index < page->dirty_from)
            page->dirty_from = index;
        if (index + part > page->dirty_to) page->dirty_to = index + part;
        offset += part;
        bytes += part;
        count -= part;
    }
    return true;
}

bool close_output() {
    for (OutputPage &page : image_out.pages) write_back(page);
    flush_output();
    if (std::fclose(image_out.file) != 0) image_out.failed = true;
    return !image_out.failed;
}
