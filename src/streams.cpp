#include "streams.h"

namespace {

// Reads the first block of hex_in, from the file's position. Returns false when that read fails.
bool start_input() {
    hex_in.block_start = 0;
    hex_in.ended = false;
    hex_in.failed = false;
    hex_in.end = hex_in.block;
    refill_input();
    hex_in.next = hex_in.block;
    return !hex_in.failed;
}

} // namespace

bool open_input(std::FILE *file) {
    hex_in.file = file;
    std::setvbuf(file, nullptr, _IONBF, 0);
    return start_input();
}

bool rewind_input() {
    if (std::fseek(hex_in.file, 0, SEEK_SET) != 0) return false;
    std::clearerr(hex_in.file);
    return start_input();
}

int refill_input() {
    hex_in.block_start += static_cast<std::uint64_t>(hex_in.end - hex_in.block);
    std::size_t got = 0;
    if (!hex_in.ended) got = std::fread(hex_in.block, 1, STREAM_BLOCK, hex_in.file);
    if (got == 0) {
        hex_in.ended = true;
        hex_in.failed = std::ferror(hex_in.file) != 0;
    }
    hex_in.end = hex_in.block + got;
    hex_in.next = hex_in.block;
    if (got == 0) return EOF;
    return *hex_in.next++;
}

std::uint64_t input_line(std::uint64_t position) {
    if (std::fseek(hex_in.file, 0, SEEK_SET) != 0) return 0;
    std::clearerr(hex_in.file);
    std::uint64_t line = 1;
    int before = EOF;
    for (std::uint64_t seen = 0; seen < position;) {
        std::uint64_t left = position - seen;
        std::size_t want = left < STREAM_BLOCK ? static_cast<std::size_t>(left) : STREAM_BLOCK;
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
    image_out.file = file;
    std::setvbuf(file, nullptr, _IONBF, 0);
    image_out.block_start = 0;
    image_out.used = 0;
    image_out.file_position = 0;
    image_out.failed = false;
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
        if (image_out.used == STREAM_BLOCK) flush_output();
        std::size_t room = STREAM_BLOCK - image_out.used;
        std::size_t part = length < room ? static_cast<std::size_t>(length) : room;
        std::memset(image_out.block + image_out.used, fill, part);
        image_out.used += part;
        length -= part;
    }
}

namespace {

constexpr std::uint64_t UNKNOWN_POSITION = ~std::uint64_t{0};

// Flushes the output block and loads the one that starts at `start`, holding the image up to
// `image_end`. Returns false when the file cannot seek there or be read.
bool load_output(std::uint64_t start, std::uint64_t image_end) {
    flush_output();
    std::uint64_t left = image_end - start;
    std::size_t length = left < STREAM_BLOCK ? static_cast<std::size_t>(left) : STREAM_BLOCK;
    if (length == 0) return true;
    if (image_out.failed || std::fseek(image_out.file, static_cast<long>(start), SEEK_SET) != 0)
        return false;
    std::size_t got = std::fread(image_out.block, 1, length, image_out.file);
    image_out.file_position = UNKNOWN_POSITION; // a write after a read must seek first
    if (got != length) return false;
    image_out.block_start = start;
    image_out.used = length;
    return true;
}

} // namespace

std::size_t output_at(std::uint64_t offset, std::uint64_t image_end, unsigned char *&bytes) {
    OutputStream &out = image_out;
    if (offset < out.block_start || offset >= out.block_start + out.used) {
        if (!load_output(offset - offset % STREAM_BLOCK, image_end)) return 0;
    }
    std::size_t index = static_cast<std::size_t>(offset - out.block_start);
    bytes = out.block + index;
    return out.used - index;
}

void move_output(std::uint64_t image_end) {
    if (!load_output(image_end - image_end % STREAM_BLOCK, image_end)) image_out.failed = true;
    image_out.block_start = image_end - image_end % STREAM_BLOCK;
    image_out.used = static_cast<std::size_t>(image_end % STREAM_BLOCK);
}

bool close_output() {
    flush_output();
    if (std::fclose(image_out.file) != 0) image_out.failed = true;
    return !image_out.failed;
}
