// End-to-end cases: each runs the built quorlit (or QUORLIT_EXE under QUORLIT_RUNNER, such as a
// Windows build under wine, with QUORLIT_CRLF=1 for CR LF console line ends) in a fresh folder
// and checks its standard output, exit status and image.
#include "support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

struct Result {
    int status = -1;
    std::string out, err, image;
    bool created = false;
};

std::string env_or(const char *name, const char *fallback) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

const std::string runner = env_or("QUORLIT_RUNNER", "");

std::string slurp(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int shell(const std::string &command) {
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

Result run_tool(const Args &args, const std::string &hex) {
    std::string dir_template = (fs::temp_directory_path() / "quorlit-XXXXXX").string();
    const fs::path dir = mkdtemp(dir_template.data());
    std::ofstream(dir / "in.hex", std::ios::binary) << hex;
    std::string command = "cd " + quote(dir.string()) + " && " + runner + " " +
                          quote(env_or("QUORLIT_EXE", QUORLIT_EXE));
    for (const std::string &arg : args) command += " " + quote(arg);
    Result run;
    run.status = shell(command + " >stdout.txt 2>stderr.txt");
    run.out = slurp(dir / "stdout.txt");
    run.err = slurp(dir / "stderr.txt");
    run.created = fs::exists(dir / "out.bin");
    run.image = slurp(dir / "out.bin");
    fs::remove_all(dir);
    return run;
}

// Console text as the tool's platform writes it.
std::string console(std::string text) {
    if (std::getenv("QUORLIT_CRLF") == nullptr) return text;
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
        text.insert(at, 1, '\r');
    return text;
}

std::string report(std::uint32_t start, std::uint32_t count) {
    char text[128];
    std::snprintf(text, sizeof text, "\n\nout.bin created \nFrom %x to %x \nSize %x (%u)", start,
                  start + count, count, count);
    return text;
}

Args win(const char *start, const char *size_k) {
    return {start, size_k, "in.hex", "out.bin"};
}

const Args W = win("1d00e000", "256");
const std::string EXT = rec(4, 0, "1D00"), END = ":00000001FF\n";
const std::string LOWER = "\nAttempt to use lower address error\n";
const std::string BAD = "\nCheck sum or other error error\n";
const std::string PROBLEM = "\nProblem with flash_start address ";
const std::string USAGE = "\nQuorlit Converts 32 bit files for flash Version 1.0"
                          "\nIntel HEX: https://en.wikipedia.org/wiki/Intel_HEX"
                          "  Binary image: https://en.wikipedia.org/wiki/Binary_file\n"
                          "\nExample:\nQuorlit 1d00e000 256 hexfile binfile"
                          "\nWhere 1d00e000 is the start address in hex (without the 0x)"
                          "\n      256 is the size of flash in K";
const std::uint32_t S = 0x1d00e000;

struct ToolCase {
    const char *name;
    Args args;
    std::string hex, out;
    int status;
    std::string image;
};

const ToolCase tool_cases[] = {
    {"one record", W, EXT + rec(0, 0xE000, "01020304") + END,
     "\n\nout.bin created \nFrom 1d00e000 to 1d00e004 \nSize 4 (4)", 0, bytes("01020304")},
    {"fill up to a record", W, EXT + rec(0, 0xE010, "01020304") + END, report(S, 20), 0,
     ff(16) + bytes("01020304")},
    {"descending record", W, EXT + rec(0, 0xE010, "0102") + rec(0, 0xE000, "03") + END,
     LOWER + report(S, 18), 2, ff(16) + bytes("0102")},
    {"bad checksum on third record", W,
     EXT + rec(0, 0xE000, "01") + rec(0, 0xE002, "02") + ":01E0040003F0\n" + END,
     BAD + report(S, 3), 2, bytes("01FF02")},
    {"no end-of-file record", W, EXT + rec(0, 0xE000, "01"), BAD + report(S, 1), 2, "\x01"},
    {"data before any base record", W, rec(0, 0xE000, "01") + END, report(S, 0), 0, ""},
    {"record at the window's end, size 1K", win("1d00e000", "1K"),
     EXT + rec(0, 0xE000, "01") + rec(0, 0xE400, "02") + END, report(S, 1), 0, "\x01"},
    {"records without image data", win("1d000000", "64"),
     EXT + rec(3, 0, "00001234") + rec(0, 0x10, "01") + rec(5, 0, "1D000000") + rec(0, 0, "") +
         rec(1, 0, "00") + rec(0x80, 0x100, "AA") + rec(0, 0x11, "02") + END,
     report(0x1d000000, 18), 0, ff(16) + bytes("0102")},
    {"segment base", win("10000", "1"), rec(2, 0, "1000") + rec(0, 0, "01") + END,
     report(0x10000, 1), 0, "\x01"},
    {"segment wraps at 64 KiB", win("10000", "1"),
     rec(2, 0, "1000") + rec(0, 0xFFFE, "010203") + END, report(0x10000, 1), 0, "\x03"},
    {"window across 2^32", win("fffffff0", "1"),
     rec(4, 0, "FFFF") + rec(0, 0xFFF8, "0102") + rec(4, 0, "0000") + rec(0, 0, "03") + END,
     report(0xfffffff0, 17), 0, ff(8) + bytes("0102") + ff(6) + "\x03"},
    {"record across 2^32", win("0", "1"), rec(4, 0, "FFFF") + rec(0, 0xFFFE, "01020304") + END,
     report(0, 2), 0, bytes("0304")},
    {"start FFFFFFFF", win("FFFFFFFF", "1"), rec(4, 0, "FFFF") + rec(0, 0xFFFF, "01") + END,
     report(0xffffffff, 1), 0, "\x01"},
    {"upper-case start", win("1D00E000", "256"), EXT + rec(0, 0xE000, "01") + END, report(S, 1), 0,
     "\x01"},
    {"size abc is 0", win("1d00e000", "abc"), EXT + rec(0, 0xE000, "01") + END, report(S, 0), 0,
     ""},
    {"negative size stops at 2 GiB", win("1d00e000", "-1"),
     EXT + rec(0, 0xE000, "01") + rec(4, 0, "9D00") + rec(0, 0xE000, "02") + END, report(S, 1), 0,
     "\x01"},
    {"three arguments", {"1d00e000", "256", "in.hex"}, "", USAGE, 1, ""},
    {"0x prefix", win("0x1d00e000", "256"), "", PROBLEM + "0x1d00e000", 1, ""},
    {"letter x", win("0x1000", "256"), "", PROBLEM + "0x1000", 1, ""},
    {"nine digits", win("01d00e000", "256"), "", PROBLEM + "01d00e000", 1, ""},
    {"leading blank", win(" 1000", "256"), "", PROBLEM + " 1000", 1, ""},
    {"empty start", win("", "256"), "", PROBLEM, 1, ""},
    {"missing input",
     {"1d00e000", "256", "missing.hex", "out.bin"},
     "",
     "\nCannot open input file missing.hex",
     1,
     ""},
    {"output folder missing",
     {"1d00e000", "256", "in.hex", "no/out.bin"},
     EXT + END,
     "\nCannot create output file no/out.bin",
     1,
     ""},
};

class Tool : public testing::TestWithParam<ToolCase> {};

void expect_case(const ToolCase &c, const std::string &hex) {
    Result run = run_tool(c.args, hex);
    EXPECT_EQ(run.out, console(c.out));
    EXPECT_EQ(run.status, c.status);
    if (runner.empty()) {
        EXPECT_EQ(run.err, "");
    }
    // A command line or file that cannot be used leaves no output file behind.
    EXPECT_EQ(run.created, c.status != 1);
    EXPECT_TRUE(run.image == c.image) << "image of " << run.image.size() << " bytes";
}

TEST_P(Tool, Converts) {
    const ToolCase &c = GetParam();
    expect_case(c, c.hex);
    SCOPED_TRACE("lower case, CR LF");
    std::string variant;
    for (char ch : c.hex) {
        if (ch == '\n') variant += '\r';
        variant += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    expect_case(c, variant);
}

INSTANTIATE_TEST_SUITE_P(Table, Tool, testing::ValuesIn(tool_cases),
                         [](const auto &p) { return test_name(p.param.name); });

TEST(ToolIo, FailedWriteIsReported) {
    if (!runner.empty()) GTEST_SKIP() << "needs /dev/full";
    Result run =
        run_tool({"1d00e000", "256", "in.hex", "/dev/full"}, EXT + rec(0, 0xE000, "01") + END);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "\n\n/dev/full created \nFrom 1d00e000 to 1d00e001 \nSize 1 (1)"
                       "\nError writing /dev/full");
}

TEST(ToolIo, FailedReportFailsTheRun) {
    if (!runner.empty()) GTEST_SKIP() << "needs /dev/full";
    EXPECT_EQ(shell(quote(QUORLIT_EXE) + " 1d00e000 256 " + quote(QUORLIT_EXAMPLE) +
                    " /dev/null >/dev/full"),
              2);
}

TEST(ToolIo, FailedReadIsReported) {
    if (!runner.empty()) GTEST_SKIP() << "needs a folder that opens as a file";
    Result run = run_tool({"1d00e000", "256", ".", "out.bin"}, "");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, BAD + report(S, 0));
}

TEST(ToolFiles, RandomImageRoundTrips) {
    if (shell("objcopy --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no objcopy";
    const fs::path dir = fs::temp_directory_path() / "quorlit-random";
    fs::create_directories(dir);
    std::string image(3 << 20, '\0');
    std::uint32_t x = 2463534242u;
    for (char &c : image) x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = static_cast<char>(x);
    std::ofstream(dir / "image.bin", std::ios::binary) << image;
    ASSERT_EQ(shell("cd " + quote(dir.string()) + " && objcopy -I binary -O ihex " +
                    "--change-addresses 0x1D000000 image.bin image.hex"),
              0);
    Result run = run_tool({"1d000000", "4096", "in.hex", "out.bin"}, slurp(dir / "image.hex"));
    fs::remove_all(dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.image == image);
}

} // namespace
