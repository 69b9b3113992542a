// quorlit: converts a 32-bit Intel HEX file into the flat binary image of one flash window.
//
// Exit status: 0 when the conversion read the end-of-file record and everything was written,
// 1 when the command line cannot be used or a file cannot be opened, 2 when the conversion
// stopped on an error or a write failed.
#include "address_runs.h"
#include "command_line.h"
#include "hex_survey.h"
#include "image_writer.h"
#include "messages.h"
#include "platform_files.h"
#include "streams.h"

#include <cstdint>
#include <cstdio>

namespace {

// Flushes the messages; a report that could not be written fails an otherwise good run.
int finish(int status) {
    bool failed = std::fflush(message_out) != 0 || std::ferror(message_out) != 0;
    if (failed && status == 0) return EXIT_CONVERSION;
    return status;
}

// Opens IN.hex as hex_in. Returns false after printing why it cannot.
bool open_hex(const char *in_name) {
    std::FILE *in_file = open_file(in_name, "rb");
    if (in_file != nullptr && open_input(in_file)) return true;
    std::fprintf(message_out, "\nCannot open input file %s", in_name);
    return false;
}

// Opens the files of a conversion as hex_in and image_out. Returns false after printing why it
// cannot, with neither open.
bool open_files(const CommandLine &line) {
    if (is_console_name(line.out_name)) {
        std::fprintf(message_out, "\nOutput is standard output %s: name it - and add --quiet",
                     line.out_name);
        return false;
    }
    // The report would run into the image.
    if (!line.quiet && is_standard_output(line.out_name)) {
        std::fprintf(message_out, "\nOutput is standard output %s", line.out_name);
        return false;
    }
    if (!open_hex(line.in_name)) return false;
    if (same_file(line.in_name, line.out_name)) {
        std::fprintf(message_out, "\nInput and output are the same file %s", line.out_name);
        close_input();
        return false;
    }
    // Records below the image's end are checked against the image as written, so it is read too
    // where it can be.
    bool read_back = line.options.any_order && can_read_back(line.out_name);
    std::FILE *out_file = open_file(line.out_name, read_back ? "w+b" : "wb");
    if (out_file == nullptr) {
        std::fprintf(message_out, "\nCannot create output file %s", line.out_name);
        close_input();
        return false;
    }
    open_output(out_file);
    return true;
}

// Prints the report of a conversion that wrote `count` bytes.
void print_report(const CommandLine &line, std::uint32_t count) {
    std::fprintf(message_out, "\n\n%s created ", line.out_name);
    std::fprintf(message_out, "\nFrom %x to %x ", line.flash_start, line.flash_start + count);
    std::fprintf(message_out, "\nSize %x (%u)", count, count);
}

// Converts IN.hex to OUT.bin and reports. Returns the exit status.
int convert(const CommandLine &line) {
    if (!open_files(line)) return EXIT_USAGE;
    Image image;
    start_image(image, line.flash_start, line.flash_size, line.options);
    int stop = convert_hex_to_image(image);
    if (stop == RECORD_END) stop = finish_image(image);
    bool write_failed = !close_output();
    std::uint32_t count = image.bytes_written;
    // A failed write is told as such below, not as the stop that it caused.
    if (stop != RECORD_END && stop != CONVERT_WRITE_FAILED)
        print_stop(line.in_name, stop, image.stop_detail, line.flash_start + count);
    int status = stop == RECORD_END && !write_failed ? 0 : EXIT_CONVERSION;
    if (!line.quiet || status != 0) print_report(line, count);
    if (write_failed) std::fprintf(message_out, "\nError writing %s", line.out_name);
    if (stop == RECORD_END)
        print_window_checks(line.in_name, image.checks, line.flash_start, line.flash_size);
    close_input();
    return status;
}

// Prints the map of IN.hex. Returns the exit status.
int info(const char *in_name) {
    if (!open_hex(in_name)) return EXIT_USAGE;
    HexSurvey survey;
    std::uint32_t detail = 0;
    int stop = survey_hex(survey, detail);
    if (stop != RECORD_END) {
        print_stop(in_name, stop, detail, 0);
        std::fprintf(message_out, "\n");
    } else {
        print_survey(in_name, survey);
    }
    close_input();
    return stop == RECORD_END ? 0 : EXIT_CONVERSION;
}

} // namespace

int main(int argc, char **argv) {
    // With the image on standard output, messages keep out of its stream.
    if (argc > 4 && is_standard_output(argv[argc - 1])) message_out = stderr;
    CommandLine line;
    int status = parse_command_line(argc, argv, line);
    if (status != COMMAND_RUN) return finish(status);
    if (line.info) return finish(info(line.in_name));
    return finish(convert(line));
}
