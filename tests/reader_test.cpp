#include "hex_reader.h"
#include "streams.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct ReaderCase {
    const char *name;
    std::string text;
    int result;
    std::uint32_t address;
    std::string data; // checked only for results 0 to 255, and only this many bytes
};

const ReaderCase reader_cases[] = {
    {"linear base", ":020000041D00DD", 4, 0x1D00, ""},
    {"data", ":04E000000102030412", 0, 0xE000, bytes("01020304")},
    {"data, last digit changed", ":04E000000102030413", RECORD_ERROR, 0, ""},
    {"end of file", ":00000001FF", RECORD_END, 0, ""},
    {"end of file without checksum", ":00000001", RECORD_END, 0, ""},
    {"zero-length data does not end", rec(0, 0xE000, ""), 0, 0xE000, ""},
    {"segment base", rec(2, 0, "1000"), 2, 0x1000, ""},
    {"start linear address", rec(5, 0, "1D00E100"), 5, 0, bytes("1D00E100")},
    {"text, 0xFF and CR LF before the mark", "junk\r\n\r\n\xff:00000001FF", RECORD_END, 0, ""},
    {"no record mark", "no record here\n", RECORD_ERROR, 0, ""},
    {"empty input", "", RECORD_ERROR, 0, ""},
    {"linear base, bad checksum", ":020000041D00DE", RECORD_ERROR, 0, ""},
    {"linear base with 4 bytes", rec(4, 0, "1D000000"), RECORD_ERROR, 0, ""},
    {"segment base with 1 byte", rec(2, 0, "10"), RECORD_ERROR, 0, ""},
    {"letter G in data", ":04E00000010203G412", RECORD_ERROR, 0, ""},
    {"input ends inside data", ":04E000000102", RECORD_ERROR, 0, ""},
    {"255 data bytes", rec(0, 0xFF00, counting(255)), 0, 0xFF00, bytes(counting(255))},
};

class Reader : public testing::TestWithParam<ReaderCase> {};

TEST_P(Reader, ReadsOneRecord) {
    const ReaderCase &c = GetParam();
    hex_in = std::tmpfile();
    ASSERT_NE(hex_in, nullptr);
    std::fwrite(c.text.data(), 1, c.text.size(), hex_in);
    std::rewind(hex_in);
    std::uint32_t address = 0;
    std::uint8_t data[RECORD_DATA_MAX] = {};
    std::uint8_t count = 0;
    int result = read_hex_record(address, data, count);
    std::fclose(hex_in);
    ASSERT_EQ(result, c.result);
    if (result < 0) return;
    EXPECT_EQ(address, c.address);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(data), c.data.size()), c.data);
    if (result != 2 && result != 4) {
        EXPECT_EQ(count, c.data.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Reader, testing::ValuesIn(reader_cases),
                         [](const auto &p) { return test_name(p.param.name); });

} // namespace
