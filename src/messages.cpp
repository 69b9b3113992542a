// The texts of errors: each stop's headline and its IN:LINE: reason.
#include "messages.h"

#include "address_runs.h"

#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

bool said = false;      // a message was printed
bool line_ended = true; // and the last one ended with a newline

// The message that tells how a run stopped on an error.
const char *stop_message(int stop) {
    if (stop == CONVERT_LOWER_ADDRESS || stop == CONVERT_NO_SEEK)
        return "\nAttempt to use lower address error";
    if (stop == CONVERT_CHANGED_DATA) return "\nAttempt to change written data error";
    if (stop == CONVERT_TOO_MANY_RUNS) return "\nAttempt to hold more than 65536 data runs error";
    if (stop == CONVERT_TOO_LARGE) return "\nAttempt to grow the image past 2 GiB error";
    if (stop == CONVERT_STAMP_ON_DATA) return "\nAttempt to stamp over data error";
    if (stop == CONVERT_PAST_WINDOW)
        return "\nAttempt to grow the image past the window's end error";
    if (stop == CONVERT_PART_WORD) return "\nAttempt to stamp a part of a word error";
    if (stop == CONVERT_START_CHANGED) return "\nAttempt to change the start address error";
    return "\nCheck sum or other error error";
}

// Prints `reason` in the IN:LINE: form, without the line where it is unknown (0).
void print_where(const char *in_name, std::uint64_t line, const char *reason) {
    if (line != 0) {
        say("%s:%" PRIu64 ": %s", in_name, line, reason);
    } else {
        say("%s: %s", in_name, reason);
    }
}

// Returns why the run stopped, formatted into `text` where it names a value.
const char *stop_reason(char (&text)[PLACE_TEXT + 128], const Stop &stop) {
    int code = stop.code;
    const char *reason = text;
    // The earlier record that the stop names, if any: what the record that stopped it would change.
    char where[PLACE_TEXT];
    place_text(where, stop.earlier);
    if (stop.input_ended && stop.input_failed) {
        reason = "the file cannot be read";
    } else if (stop.input_ended) {
        reason = "the file ends before its end-of-file record";
    } else if (code == RECORD_BAD_CHECKSUM) {
        reason = "checksum mismatch";
    } else if (code == RECORD_BAD_TEXT) {
        reason = "text between records";
    } else if (code == RECORD_BAD_DIGIT && !std::isgraph(stop.character)) {
        reason = "a character is not a hexadecimal digit";
    } else if (code == RECORD_BAD_DIGIT) {
        std::snprintf(text, sizeof text, "'%c' is not a hexadecimal digit", stop.character);
    } else if (code == RECORD_BAD_LENGTH) {
        std::snprintf(text, sizeof text, "extended address record of %u bytes", stop.value);
    } else if (code == CONVERT_CHANGED_DATA) {
        std::snprintf(text, sizeof text, "record changes the data at %x written by %s", stop.value,
                      where);
    } else if (code == CONVERT_START_CHANGED) {
        std::snprintf(text, sizeof text,
                      "start address record differs from the one at %s; --overlap=replace takes "
                      "the later",
                      where);
    } else if (code == CONVERT_STAMP_ON_DATA) {
        std::snprintf(text, sizeof text,
                      "%s: the stamp's bytes at %x fall on this record's data; =VALUE lets a stamp "
                      "replace a placeholder of that value",
                      stop.subject, stop.value);
    } else if (code == CONVERT_PAST_WINDOW) {
        std::snprintf(text, sizeof text, "%s: the image would end at %x, past the window's end",
                      stop.subject, stop.value);
    } else if (code == CONVERT_PART_WORD) {
        std::snprintf(text, sizeof text,
                      "%s: the range it covers, up to %x, is not a whole number of 4-byte words: "
                      "add --align 4",
                      stop.subject, stop.value);
    } else if (code == CONVERT_TOO_MANY_RUNS) {
        std::snprintf(text, sizeof text, "record at %x starts data run %zu", stop.value,
                      RUNS_MAX + 1);
    } else {
        const char *why = code == CONVERT_NO_SEEK ? " and the output cannot seek"
                                                  : "; --any-order writes it in place";
        std::snprintf(text, sizeof text, "record at %x starts below the image's end at %x%s",
                      stop.value, stop.image_end, why);
    }
    return reason;
}

} // namespace

void say(const char *format, ...) {
    char text[4096];
    std::va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length <= 0) return;
    said = true;
    if (static_cast<std::size_t>(length) < sizeof text) {
        std::fputs(text, message_out);
        line_ended = text[length - 1] == '\n';
        return;
    }
    // Longer than any message but one with a very long file name: the text ends with the format.
    va_start(arguments, format);
    std::vfprintf(message_out, format, arguments);
    va_end(arguments);
    std::size_t end = std::strlen(format);
    line_ended = end > 0 && format[end - 1] == '\n';
}

void end_messages() {
    if (said && !line_ended) std::fputc('\n', message_out);
    said = false;
    line_ended = true;
}

void place_text(char (&text)[PLACE_TEXT], const RecordPlace &place) {
    text[0] = '\0';
    if (place.input < 0) return;
    std::uint64_t line = place.position == 0 ? 0 : input_line(place.input, place.position - 1);
    if (line != 0) {
        std::snprintf(text, sizeof text, "%s:%" PRIu64, input_name(place.input), line);
    } else {
        std::snprintf(text, sizeof text, "%s", input_name(place.input));
    }
}

void print_stop(const Stop &stop) {
    say("%s\n", stop_message(stop.code));
    // Where the image outgrows 2 GiB is no place in the input.
    if (stop.code == CONVERT_TOO_LARGE) return;
    char text[PLACE_TEXT + 128];
    const char *reason = stop_reason(text, stop);
    // Stamps and the window's end are no place in an input, unless a record is found.
    if (stop.input < 0) {
        say("%s", reason);
        return;
    }
    print_where(input_name(stop.input), input_line(stop.input, stop.position), reason);
}

void print_at(const RecordPlace &place, const char *reason) {
    say("\n");
    print_where(input_name(place.input), input_line(place.input, place.position - 1), reason);
}
