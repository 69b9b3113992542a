// The lines that warn of a window that cuts data or misses it.
#include "window_checks.h"

#include "input_files.h"
#include "messages.h"

#include <cinttypes>
#include <cstdio>

namespace {

const char *plural(std::uint64_t count) {
    return count == 1 ? "" : "s";
}

// Prints a line for each input of a merge that gave the window no data. Returns how many.
int print_inputs_without_data() {
    int lines = 0;
    for (int i = 0; i < input_count() && input_count() > 1; ++i) {
        if (gave_window(i)) continue;
        say("\n%s: the window holds none of this input's data", input_name(i));
        ++lines;
    }
    return lines;
}

// Prints a line for each input whose data replaced other values, with the record that gave the
// first of them first. Returns how many.
int print_replacements() {
    int lines = 0;
    char text[PLACE_TEXT + 128];
    char where[PLACE_TEXT];
    for (int i = 0; i < input_count(); ++i) {
        std::uint32_t first = 0;
        RecordPlace at;
        std::uint64_t count = replaced_bytes(i, first, at);
        if (count == 0) continue;
        place_text(where, find_first_giver(first, at));
        std::snprintf(text, sizeof text,
                      "replaces the values of %" PRIu64 " byte%s, the first at %08x given by %s",
                      count, plural(count), first, where);
        print_at(at, text);
        ++lines;
    }
    return lines;
}

} // namespace

int print_window_checks(const WindowChecks &checks, std::uint32_t flash_start) {
    std::uint32_t size = checks.size;
    int lines = 0;
    if (checks.data && !checks.inside && input_count() == 1) {
        say("\n%s: the window holds no data; the file's data lies in %08x-%08x", input_name(0),
            checks.lowest, checks.highest);
        ++lines;
    } else if (checks.data && !checks.inside) {
        say("\nthe window holds no data; the data of the %d inputs lies in %08x-%08x",
            input_count(), checks.lowest, checks.highest);
        ++lines;
    }
    char text[128];
    if (checks.below.position != 0 && checks.first_given) {
        std::snprintf(text, sizeof text, "the window's start at %08x cuts data that runs from %08x",
                      flash_start, flash_start + checks.below_from);
        print_at(checks.below, text);
        ++lines;
    }
    if (checks.beyond.position != 0 && checks.last_given) {
        std::snprintf(text, sizeof text, "the window's end at %08x cuts data that runs on to %08x",
                      flash_start + size, flash_start + checks.beyond_to);
        print_at(checks.beyond, text);
        ++lines;
    }
    if (checks.inside) lines += print_inputs_without_data();
    return lines + print_replacements();
}
