#include "window_checks.h"

#include "messages.h"

#include <cstdio>

void print_window_checks(const char *in_name, const WindowChecks &checks, std::uint32_t flash_start,
                         std::uint32_t size) {
    if (size == 0 || !checks.data) return;
    char text[128];
    if (!checks.inside) {
        std::fprintf(message_out,
                     "\n%s: the window holds no data; the file's data lies in %08x-%08x", in_name,
                     checks.lowest, checks.highest);
        return;
    }
    if (checks.below != 0 && checks.first_given) {
        std::snprintf(text, sizeof text, "the window's start at %08x cuts data that runs from %08x",
                      flash_start, flash_start + checks.below_from);
        print_at(in_name, checks.below, text);
    }
    if (checks.beyond != 0 && checks.last_given) {
        std::snprintf(text, sizeof text, "the window's end at %08x cuts data that runs on to %08x",
                      flash_start + size, flash_start + checks.beyond_to);
        print_at(in_name, checks.beyond, text);
    }
}
