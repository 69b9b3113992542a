// The lines that warn of a window that cuts data or misses it.
#include "window_checks.h"

#include "input_files.h"
#include "messages.h"

#include <cstdio>

void print_window_checks(const WindowChecks &checks, std::uint32_t flash_start) {
    std::uint32_t size = checks.size;
    if (size == 0 || !checks.data) return;
    char text[128];
    if (!checks.inside && input_count() == 1) {
        std::fprintf(message_out,
                     "\n%s: the window holds no data; the file's data lies in %08x-%08x",
                     input_name(0), checks.lowest, checks.highest);
    } else if (!checks.inside) {
        std::fprintf(message_out,
                     "\nthe window holds no data; the data of the %d inputs lies in %08x-%08x",
                     input_count(), checks.lowest, checks.highest);
    }
    if (checks.below.position != 0 && checks.first_given) {
        std::snprintf(text, sizeof text, "the window's start at %08x cuts data that runs from %08x",
                      flash_start, flash_start + checks.below_from);
        print_at(checks.below, text);
    }
    if (checks.beyond.position != 0 && checks.last_given) {
        std::snprintf(text, sizeof text, "the window's end at %08x cuts data that runs on to %08x",
                      flash_start + size, flash_start + checks.beyond_to);
        print_at(checks.beyond, text);
    }
}
