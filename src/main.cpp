// quorlit: converts a 32-bit Intel HEX file into the flat binary image of one flash window.
//
// Exit status: 0 when the conversion read the end-of-file record and everything was written,
// 1 when the command line cannot be used or a file cannot be opened, 2 when the conversion
// stopped on an error or a write failed.
#include "command_line.h"
#include "hex_survey.h"
#include "image_writer.h"
#include "input_files.h"
#include "messages.h"
#include "platform_files.h"
#include "streams.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Flushes the messages; a report that could not be written fails an otherwise good run.
int finish(int status) {
    bool failed = std::fflush(message_out) != 0 || std::ferror(message_out) != 0;
    if (failed && status == 0) return EXIT_CONVERSION;
    return status;
}

// Opens every input, and reads the first as hex_in. Returns false after printing which cannot
// be opened, with none open.
bool open_inputs(const CommandLine &line) {
    clear_inputs();
    for (int i = 0; i < line.in_count; ++i) {
        const char *name = line.in_names[i];
        std::FILE *file = is_folder(name) ? nullptr : open_file(name, "rb");
        if (file == nullptr || !add_input(name, file)) {
            if (file != nullptr && file != stdin) std::fclose(file);
            std::fprintf(message_out, "\nCannot open input file %s", name);
            close_inputs();
            return false;
        }
    }
    if (read_input(0)) return true;
    std::fprintf(message_out, "\nCannot open input file %s", input_name(0));
    close_inputs();
    return false;
}

// Opens the files of a conversion: the inputs and image_out. Returns false after printing why
// it cannot, with none open.
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
    if (!open_inputs(line)) return false;
    for (int i = 0; i < line.in_count; ++i) {
        if (same_file(line.in_names[i], line.out_name)) {
            std::fprintf(message_out, "\nInput and output are the same file %s", line.out_name);
            close_inputs();
            return false;
        }
    }
    // Records below the image's end are checked against the image as written, so it is read too
    // where it can be.
    bool read_back = writes_in_place(line.options, line.in_count) && can_read_back(line.out_name);
    std::FILE *out_file = open_file(line.out_name, read_back ? "w+b" : "wb");
    if (out_file == nullptr) {
        std::fprintf(message_out, "\nCannot create output file %s", line.out_name);
        close_inputs();
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

// Converts the inputs to OUT.bin and reports. Returns the exit status.
int convert(const CommandLine &line) {
    if (!open_files(line)) return EXIT_USAGE;
    Image image;
    start_image(image, line.flash_start, line.flash_size, line.options);
    Stop stop = convert_inputs(image);
    bool write_failed = !close_output();
    // The record that stopped the run ends with the character at stop.position.
    if (stop.code == CONVERT_CHANGED_DATA)
        stop.earlier = find_first_giver(stop.value, {stop.input, stop.position + 1});
    // A failed write is told as such below, not as the stop that it caused.
    if (stopped(stop) && stop.code != CONVERT_WRITE_FAILED) print_stop(stop);
    int status = !stopped(stop) && !write_failed ? 0 : EXIT_CONVERSION;
    if (!line.quiet || status != 0) print_report(line, image.bytes_written);
    if (write_failed) std::fprintf(message_out, "\nError writing %s", line.out_name);
    if (!stopped(stop)) print_window_checks(image.checks, line.flash_start);
    close_inputs();
    return status;
}

// Prints the survey of the inputs. Returns the exit status.
int info(const CommandLine &line) {
    if (!open_inputs(line)) return EXIT_USAGE;
    HexSurvey survey;
    Stop stop = survey_inputs(survey);
    if (stopped(stop)) {
        print_stop(stop);
        std::fprintf(message_out, "\n");
    } else {
        print_survey(survey);
    }
    close_inputs();
    return stopped(stop) ? EXIT_CONVERSION : 0;
}

} // namespace

int main(int argc, char **argv) {
    // With the image on standard output, messages keep out of its stream.
    bool survey = argc > 1 && std::strcmp(argv[1], "--info") == 0;
    if (argc > 4 && !survey && is_standard_output(argv[argc - 1])) message_out = stderr;
    // The messages go out in one write at the end: Windows leaves a console (or NUL) unbuffered,
    // and there each write of a line can cost more than converting a small file.
    static char message_buffer[4096];
    std::setvbuf(message_out, message_buffer, _IOFBF, sizeof message_buffer);
    CommandLine line;
    int status = parse_command_line(argc, argv, line);
    if (status != COMMAND_RUN) return finish(status);
    if (line.info) return finish(info(line));
    return finish(convert(line));
}
