// quorlit: converts a 32-bit Intel HEX file into the flat binary image of one flash window.
//
// Exit status: 0 when the conversion read the end-of-file record and everything was written,
// 1 when the command line cannot be used or a file cannot be opened, 2 when the conversion
// stopped on an error or a write failed.
#include "command_line.h"
#include "hex_reader.h"
#include "hex_survey.h"
#include "hex_writer.h"
#include "image_writer.h"
#include "input_files.h"
#include "messages.h"
#include "platform_files.h"
#include "streams.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Flushes the messages; a report that could not be written fails an otherwise good run.
int finish(int status) {
    end_messages();
    bool failed = std::fflush(message_out) != 0 || std::ferror(message_out) != 0;
    if (failed && status == 0) return EXIT_CONVERSION;
    return status;
}

// What an input that is no Intel HEX file looks like (see judge_file_start).
const char *looks_like(int looks) {
    if (looks == LOOKS_EMPTY) return "it is empty";
    if (looks == LOOKS_ELF) return "it is an ELF file: objcopy -O ihex makes Intel HEX of it";
    if (looks == LOOKS_SRECORD) return "it holds S-records (S0 to S9 lines), not Intel HEX records";
    if (looks == LOOKS_BINARY) return "it holds binary data: is it an image, given as an input?";
    return "it holds text, but no Intel HEX record";
}

// Opens every input, reads the first as hex_in, and judges the start of each. Returns false
// after printing which cannot be opened or is no Intel HEX file, with none open.
bool open_inputs(const CommandLine &line) {
    clear_inputs();
    for (int i = 0; i < line.in_count; ++i) {
        const char *name = line.in_names[i];
        std::FILE *file = is_folder(name) ? nullptr : open_file(name, "rb");
        if (file == nullptr || !add_input(name, file)) {
            if (file != nullptr && file != stdin) std::fclose(file);
            say("\nCannot open input file %s", name);
            close_inputs();
            return false;
        }
    }
    if (!read_input(0)) {
        say("\nCannot open input file %s", input_name(0));
        close_inputs();
        return false;
    }
    for (int i = 0; i < input_count(); ++i) {
        int looks = judge_input(i);
        if (looks == LOOKS_HEX) continue;
        say("\nInput is not an Intel HEX file %s", input_name(i));
        say("\n%s", looks_like(looks));
        close_inputs();
        return false;
    }
    return true;
}

// Whether `name` is a file whose first record reads as a good Intel HEX record.
bool holds_hex(const char *name) {
    if (is_dash(name) || !is_regular_file(name)) return false;
    std::FILE *file = open_file(name, "rb");
    if (file == nullptr) return false;
    unsigned char start[4096];
    std::size_t length = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    bool good_first = false;
    int looks = judge_file_start(start, length, length < sizeof start, good_first);
    return looks == LOOKS_HEX && good_first;
}

// Opens the output of a conversion to Intel HEX. An image written in order goes out as it grows;
// one written `in_place` is built in a temporary file first. Returns false after printing why it
// cannot, with the inputs closed and no file changed.
bool open_hex_output(const CommandLine &line, bool in_place) {
    std::FILE *image = in_place ? open_temporary(line.out_name) : nullptr;
    if (in_place && image == nullptr) {
        say("\nCannot create a temporary file for the image of %s", line.out_name);
        close_inputs();
        return false;
    }
    std::FILE *out_file = open_file(line.out_name, "wb");
    if (out_file == nullptr) {
        if (image != nullptr) std::fclose(image);
        say("\nCannot create output file %s", line.out_name);
        close_inputs();
        return false;
    }
    start_hex(out_file, line.flash_start, line.crlf);
    if (in_place) {
        open_output(image, true);
    } else {
        open_output_to(write_hex_data, writes_fill(line.options));
    }
    return true;
}

// Opens the files of a conversion: the inputs and image_out. Returns false after printing why
// it cannot, with none open and no file changed.
bool open_files(const CommandLine &line) {
    if (is_console_name(line.out_name)) {
        say("\nOutput is standard output %s: name it - and add --quiet", line.out_name);
        return false;
    }
    // The report would run into the image.
    if (!line.quiet && is_standard_output(line.out_name)) {
        say("\nOutput is standard output %s: add --quiet to write the image there", line.out_name);
        return false;
    }
    // Check values are taken of the image as it goes out; stamps inside it are written over it,
    // which takes a file that can be read back.
    bool stamps = line.stamps.count > 0;
    bool readable = !is_dash(line.out_name) && can_read_back(line.out_name);
    // Intel HEX is written from an image built in a file of its own, which is read back.
    if (stamps_fixed(line.stamps) && !readable && !line.hex) {
        say("\nProblem with --stamp: a stamp inside the image needs the image in a file that can "
            "be "
            "read back, not %s",
            line.out_name);
        return false;
    }
    if (!open_inputs(line)) return false;
    for (int i = 0; i < line.in_count; ++i) {
        if (same_file(line.in_names[i], line.out_name)) {
            say("\nInput and output are the same file %s", line.out_name);
            close_inputs();
            return false;
        }
    }
    // A binary image never replaces an Intel HEX file: the output and an input swapped, say.
    // Intel HEX does where -o names it, which no swap of two file names gives.
    if (holds_hex(line.out_name) && !(line.hex && line.out_by_option)) {
        say("\nOutput is an Intel HEX file %s", line.out_name);
        say(line.hex ? "\nname it with -o to write the new Intel HEX over it"
                     : "\nname the image another file, or remove this one first");
        close_inputs();
        return false;
    }
    // A binary image named as Intel HEX is a forgotten --hex.
    if (!line.hex && named_as_hex(line.out_name)) {
        say("\nOutput is named as Intel HEX %s", line.out_name);
        say("\nadd --hex to write Intel HEX there, or name the image .bin");
        close_inputs();
        return false;
    }
    // Records below the image's end are checked against the image as written, so it is read too
    // where it can be.
    bool in_place = writes_in_place(line.options, line.in_count) || stamps;
    if (line.hex) return open_hex_output(line, in_place);
    bool read_back = in_place && readable;
    std::FILE *out_file = open_file(line.out_name, read_back ? "w+b" : "wb");
    if (out_file == nullptr) {
        say("\nCannot create output file %s", line.out_name);
        close_inputs();
        return false;
    }
    open_output(out_file, read_back);
    return true;
}

// Prints the report of a conversion that wrote `count` bytes, and with --hex the start address
// record of type `start_type` it carried (NO_START: none).
void print_report(const CommandLine &line, std::uint32_t count, int start_type) {
    say("\n\n%s created ", line.out_name);
    say("\nFrom %x to %x ", line.flash_start, line.flash_start + count);
    say("\nSize %x (%u)", count, count);
    if (!line.hex) return;
    std::uint64_t bytes = hex_data_bytes();
    std::uint64_t records = hex_data_records();
    say("\nWritten as Intel HEX: %" PRIu64 " byte%s of data in %" PRIu64 " record%s", bytes,
        bytes == 1 ? "" : "s", records, records == 1 ? "" : "s");
    if (start_type != NO_START) say(", and the start address record (%02X)", start_type);
}

// Ends the Intel HEX output: an image built in a temporary file goes out from it, and the file
// goes. `whole` where the conversion did not stop. Returns false when a write, read or close
// failed.
bool close_hex_output(const Image &image, const StampPlan &stamps, bool whole) {
    // A run that stopped stamped nothing.
    const StampPlan none;
    bool good = true;
    if (output_file() != nullptr) {
        good =
            settle_output() && write_hex_image(output_file(), image_length(image),
                                               writes_fill(image.options), whole ? stamps : none);
    }
    good = close_output() && good;
    // Where the image could not be written whole, no end-of-file record says that it was.
    return end_hex(image.start, whole && good) && good;
}

// Points a stop on data under a stamp at the record that gave the data, where it is found.
void point_at_giver(Stop &stop) {
    RecordPlace giver = find_first_giver(stop.value, {input_count() - 1, 0});
    stop.input = giver.position != 0 ? giver.input : -1;
    stop.position = giver.position != 0 ? giver.position - 1 : 0;
}

// Converts the inputs to OUT.bin, or OUT.hex, and reports. Returns the exit status.
int convert(const CommandLine &line) {
    if (!open_files(line)) return EXIT_USAGE;
    Image image;
    start_image(image, line.flash_start, line.flash_size, line.options);
    StampPlan stamps = line.stamps;
    stream_stamps(stamps);
    Stop stop = convert_inputs(image);
    if (!stopped(stop) && stamps.count > 0) stop = stamp_image(image, stamps);
    bool write_failed =
        line.hex ? !close_hex_output(image, stamps, !stopped(stop)) : !close_output();
    // The record that stopped the run ends with the character at stop.position.
    if (stop.code == CONVERT_CHANGED_DATA)
        stop.earlier = find_first_giver(stop.value, {stop.input, stop.position + 1});
    if (stop.code == CONVERT_STAMP_ON_DATA) point_at_giver(stop);
    // A failed write is told as such below, not as the stop that it caused.
    if (stopped(stop) && stop.code != CONVERT_WRITE_FAILED) print_stop(stop);
    int status = !stopped(stop) && !write_failed ? 0 : EXIT_CONVERSION;
    if (!line.quiet || status != 0)
        print_report(line, image_length(image), stopped(stop) ? NO_START : image.start.type);
    if (!line.quiet && !stopped(stop)) print_stamps(stamps, line.flash_start);
    if (write_failed && output_read_failed()) say("\nError reading back %s", line.out_name);
    if (write_failed && !output_read_failed()) say("\nError writing %s", line.out_name);
    int checks = stopped(stop) ? 0 : print_image_checks(image);
    // With --strict, a window check fails the run, after the image is written: make can then
    // remove it (.DELETE_ON_ERROR).
    if (line.strict && checks > 0) status = EXIT_CONVERSION;
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
        say("\n");
    } else {
        print_survey(survey);
    }
    close_inputs();
    bool failed = stopped(stop) || (line.strict && survey_conflicts(survey));
    return failed ? EXIT_CONVERSION : 0;
}

} // namespace

int main(int argc, char **argv) {
    // With the image on standard output, messages keep out of its stream.
    const char *output = output_argument(argc, argv);
    if (output != nullptr && is_standard_output(output)) message_out = stderr;
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
