// The output stream: the end of the image in a block, the rest in pages read back from the file.
#include "output_stream.h"

#include <cstring>

OutputStream image_out;

namespace {

// The start of a page that holds nothing.
constexpr std::uint64_t NO_PAGE = ~std::uint64_t{0};

} // namespace

void open_output(std::FILE *file, bool readable) {
    OutputStream &out = image_out;
    out.file = file;
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
    out.block_start = 0;
    out.used = 0;
    out.file_position = 0;
    out.failed = false;
    out.readable = readable;
    out.tap = nullptr;
    out.rewritten = false;
    out.sparse = false;
    out.read_failed = false;
    out.uses = 0;
    out.last_page = nullptr;
    for (std::size_t i = 0; i < OUTPUT_PAGES; ++i) {
        out.pages[i].length = 0;
        out.pages[i].dirty_from = 0;
        out.pages[i].dirty_to = 0;
        out.page_start[i] = NO_PAGE;
        out.page_used_at[i] = 0;
    }
    std::memset(out.page_hint, 0, sizeof out.page_hint);
}

void open_output_to(OutputTap sink, bool keep_fill) {
    open_output(nullptr, false);
    image_out.tap = sink;
    image_out.sparse = !keep_fill;
}

void flush_output() {
    OutputStream &out = image_out;
    if (out.used > 0 && out.tap != nullptr) out.tap(out.block_start, out.block, out.used);
    if (out.used > 0 && !out.failed && out.file != nullptr) {
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
    // A hole that is not kept: the data before it go out, and the image skips it.
    if (image_out.sparse && length > 0) {
        flush_output();
        image_out.block_start += length;
        return;
    }
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

// Reads into page `index` the image from `start`, up to the output block. Returns false when the
// file cannot seek there or be read.
bool read_page(std::size_t index, std::uint64_t start) {
    OutputStream &out = image_out;
    OutputPage &page = out.pages[index];
    write_back(page);
    page.length = 0;
    out.page_start[index] = NO_PAGE;
    std::uint64_t left = out.block_start - start;
    std::size_t length = left < OUTPUT_PAGE ? static_cast<std::size_t>(left) : OUTPUT_PAGE;
    if (out.failed || !out.readable) return false;
    if (std::fseek(out.file, static_cast<long>(start), SEEK_SET) != 0) return false;
    std::size_t got = std::fread(page.bytes, 1, length, out.file);
    out.file_position = UNKNOWN_POSITION; // a write after a read must seek first
    if (got != length) {
        // The image written so far is there to be read: a short read is an input error.
        out.failed = true;
        out.read_failed = true;
        return false;
    }
    page.start = start;
    page.length = length;
    out.page_start[index] = start;
    return true;
}

// Returns the page that holds image offset `offset`, below the output block, reading it when no
// page does; nullptr when it cannot be read.
OutputPage *page_at(std::uint64_t offset) {
    OutputStream &out = image_out;
    std::uint64_t start = offset - offset % OUTPUT_PAGE;
    OutputPage *page = out.last_page;
    if (page == nullptr || page->start != start || offset - start >= page->length) {
        std::uint8_t &hint = out.page_hint[start / OUTPUT_PAGE % PAGE_HINTS];
        std::size_t found = out.page_start[hint] == start ? hint : OUTPUT_PAGES;
        std::size_t oldest = 0;
        for (std::size_t i = 0; i < OUTPUT_PAGES && found == OUTPUT_PAGES; ++i) {
            if (out.page_start[i] == start) found = i;
            if (out.page_used_at[i] < out.page_used_at[oldest]) oldest = i;
        }
        std::size_t index = found < OUTPUT_PAGES ? found : oldest;
        hint = static_cast<std::uint8_t>(index);
        page = &out.pages[index];
        // A page read before the image grew past it may hold less than it can now.
        if (found == OUTPUT_PAGES || offset - start >= page->length) {
            if (!read_page(index, start)) return nullptr;
        }
    }
    out.page_used_at[page - out.pages] = ++out.uses;
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
        // Only bytes that change make the page dirty: data written again costs no write back.
        const unsigned char *held = page->bytes + index;
        std::size_t from = 0;
        while (from < part && held[from] == bytes[from]) ++from;
        std::size_t to = part;
        while (to > from && held[to - 1] == bytes[to - 1]) --to;
        if (from < to) {
            out.rewritten = true;
            std::memcpy(page->bytes + index + from, bytes + from, to - from);
            if (page->dirty_to == page->dirty_from || index + from < page->dirty_from)
                page->dirty_from = index + from;
            page->dirty_to = index + to > page->dirty_to ? index + to : page->dirty_to;
        }
        offset += part;
        bytes += part;
        count -= part;
    }
    return true;
}

bool settle_output() {
    for (OutputPage &page : image_out.pages) write_back(page);
    flush_output();
    return !image_out.failed;
}

bool close_output() {
    settle_output();
    if (image_out.file != nullptr && std::fclose(image_out.file) != 0) image_out.failed = true;
    return !image_out.failed;
}
