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

// Digit values by character, shifted left by `shift`; 0x100 << shift marks the rest, so that a
// pair with one spells over 0xFF.
constexpr std::array<std::uint16_t, 256> make_digit_values(unsigned shift) {
    std::array<std::uint16_t, 256> values{};
    for (unsigned c = 0; c < 256; ++c) {
        unsigned value = 0x100;
        if (c >= '0' && c <= '9') value = c - '0';
        if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
        if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        values[c] = static_cast<std::uint16_t>(value << shift);
    }
    return values;
}

inline constexpr std::array<std::uint16_t, 256> DIGIT_VALUES = make_digit_values(0);
inline constexpr std::array<std::uint16_t, 256> HIGH_DIGIT_VALUES = make_digit_values(4);

// Returns the byte that the two digits at `text` spell, or a value over 0xFF when one is no digit.
QUORLIT_INLINE unsigned hex_pair(const unsigned char *text) {
    return static_cast<unsigned>(HIGH_DIGIT_VALUES[text[0]] | DIGIT_VALUES[text[1]]);
}

// Each decoder turns the `pairs` pairs of hexadecimal digits (either case) at `text` into bytes
// at `bytes`, sets `sum` to the sum of those bytes modulo 256, and returns whether every
// character was a digit; where one was not, neither the bytes nor the sum are to be used.
QUORLIT_INLINE bool decode_hex_portable(const unsigned char *text, std::size_t pairs,
                                        std::uint8_t *bytes, unsigned &sum) {
    unsigned total = 0;
    // Two pairs a step, one test for both. Leaving at a bad pair also keeps compilers from
    // vectorizing the loop into emulated gathers, slower than this.
    std::size_t i = 0;
    for (; i + 2 <= pairs; i += 2) {
        unsigned first = hex_pair(text + 2 * i);
        unsigned second = hex_pair(text + 2 * i + 2);
        if ((first | second) > 0xFF) return false;
        total += first + second;
        bytes[i] = static_cast<std::uint8_t>(first);
        bytes[i + 1] = static_cast<std::uint8_t>(second);
    }
    if (i < pairs) {
        unsigned last = hex_pair(text + 2 * i);
        if (last > 0xFF) return false;
        total += last;
        bytes[i] = static_cast<std::uint8_t>(last);
    }
    sum = total & 0xFF;
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
