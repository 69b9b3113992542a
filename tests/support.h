// Builders for HEX text and image bytes in test tables.
#ifndef QUORLIT_TEST_SUPPORT_H
#define QUORLIT_TEST_SUPPORT_H

#include <cctype>
#include <cstdio>
#include <string>

// Bytes spelled by pairs of hexadecimal digits: bytes("01FF") is "\x01\xff".
inline std::string bytes(const std::string &digits) {
    std::string out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
}

// Digits of n bytes that count up from 0, wrapping at 256.
inline std::string counting(std::size_t n) {
    std::string out;
    char pair[3];
    for (std::size_t i = 0; i < n; ++i)
        std::snprintf(pair, sizeof pair, "%02X", unsigned(i & 0xFF)), out += pair;
    return out;
}

inline std::string ff(std::size_t n) {
    return std::string(n, '\xff');
}

// One record line with a correct byte count and checksum: rec(0, 0xE000, "0102").
inline std::string rec(int type, unsigned address, const std::string &data_digits) {
    std::string body = bytes(data_digits);
    unsigned sum = static_cast<unsigned>(body.size()) + (address >> 8) + address + unsigned(type);
    for (char c : body) sum += static_cast<unsigned char>(c);
    char head[16];
    std::snprintf(head, sizeof head, ":%02X%04X%02X", unsigned(body.size()), address & 0xFFFF,
                  unsigned(type));
    char tail[8];
    std::snprintf(tail, sizeof tail, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return head + data_digits + tail;
}

// A table row's name as a test name: letters and digits, the rest as '_'.
inline std::string test_name(std::string name) {
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

#endif
