// Decoders of hexadecimal text, one per instruction set and all of one shape, for records that
// lie whole in the input block. The portable one is always built, and is what the others are
// tested against; decode_hex is the one this build uses.
#ifndef QUORLIT_HEX_DECODE_H
#define QUORLIT_HEX_DECODE_H

#include <array>
#include <cstddef>
#include <cstdint>

// A decoder may read up to DECODE_READS_PAST characters past the text it decodes, and write up to
// DECODE_WRITES_PAST bytes past the bytes it decodes; it uses neither.
constexpr std::size_t DECODE_READS_PAST = 32;
constexpr std::size_t DECODE_WRITES_PAST = 16;

// The record loop wants the decoder inlined, its constants in registers, at -O2 too.
#if defined(__GNUC__)
#define QUORLIT_INLINE inline __attribute__((always_inline))
#else
#define QUORLIT_INLINE inline
#endif

// Digit values by character; 0x100 marks the rest, so that a pair with one spells over 0xFF.
constexpr std::array<std::uint16_t, 256> make_digit_values() {
    std::array<std::uint16_t, 256> values{};
    for (unsigned c = 0; c < 256; ++c) {
        unsigned value = 0x100;
        if (c >= '0' && c <= '9') value = c - '0';
        if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
        if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        values[c] = static_cast<std::uint16_t>(value);
    }
    return values;
}

inline constexpr std::array<std::uint16_t, 256> DIGIT_VALUES = make_digit_values();

// Returns the byte that the two digits at `text` spell, or a value over 0xFF when one is no digit.
QUORLIT_INLINE unsigned hex_pair(const unsigned char *text) {
    return static_cast<unsigned>(DIGIT_VALUES[text[0]]) << 4 | DIGIT_VALUES[text[1]];
}

// Each decoder turns the `pairs` pairs of hexadecimal digits (either case) at `text` into bytes
// at `bytes`, sets `sum` to the sum of those bytes, and returns whether every character was a
// digit; where one was not, neither the bytes nor the sum are to be used.
QUORLIT_INLINE bool decode_hex_portable(const unsigned char *text, std::size_t pairs,
                                        std::uint8_t *bytes, unsigned &sum) {
    unsigned total = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        unsigned value = hex_pair(text + 2 * i);
        // Leaving at the first bad pair also keeps compilers from vectorizing the loop into
        // emulated gathers, slower than this.
        if (value > 0xFF) return false;
        total += value;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    sum = total;
    return true;
}

// Every x86-64 processor has SSE2; -DQUORLIT_SIMD=OFF builds the portable decoder alone.
#if defined(__SSE2__) && !defined(QUORLIT_NO_SIMD)
#define QUORLIT_DECODE_SSE2 1
#include "hex_decode_sse2.h"
#endif

// The decoder of this build.
QUORLIT_INLINE bool decode_hex(const unsigned char *text, std::size_t pairs, std::uint8_t *bytes,
                               unsigned &sum) {
#if defined(QUORLIT_DECODE_SSE2)
    return decode_hex_sse2(text, pairs, bytes, sum);
#else
    return decode_hex_portable(text, pairs, bytes, sum);
#endif
}

#endif
