// The SSE2 decoder: 16 characters to a register. See hex_decode.h.
#ifndef QUORLIT_HEX_DECODE_SSE2_H
#define QUORLIT_HEX_DECODE_SSE2_H

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

// 16 lanes clear, then 16 set: 16 bytes loaded from LANE_MASKS + 16 - n have all lanes but the
// first n set.
alignas(16) inline const unsigned char LANE_MASKS[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

QUORLIT_INLINE __m128i lanes_past(std::size_t n) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(LANE_MASKS + 16 - n));
}

// Turns the 16 characters at `text` into their digit values, clearing the lanes of `valid` that
// are no digit, unless set in `ignored`. The additions wrap each range onto the lowest signed
// values, so that one comparison tests it.
QUORLIT_INLINE __m128i digit_values(const unsigned char *text, __m128i &valid, __m128i ignored) {
    __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text));
    __m128i is_digit =
        _mm_cmplt_epi8(_mm_add_epi8(chars, _mm_set1_epi8(128 - '0')), _mm_set1_epi8(-128 + 10));
    __m128i lower = _mm_or_si128(chars, _mm_set1_epi8(0x20));
    __m128i is_letter =
        _mm_cmplt_epi8(_mm_add_epi8(lower, _mm_set1_epi8(128 - 'a')), _mm_set1_epi8(-128 + 6));
    valid = _mm_and_si128(valid, _mm_or_si128(_mm_or_si128(is_digit, is_letter), ignored));
    // '0'-'9' end in 0-9, 'A'-'F' and 'a'-'f' in 1-6.
    __m128i low_bits = _mm_and_si128(chars, _mm_set1_epi8(0x0F));
    return _mm_add_epi8(low_bits, _mm_and_si128(is_letter, _mm_set1_epi8(9)));
}

// Joins 16 digit values into 8 bytes, one in each 16-bit lane, the first digit high.
QUORLIT_INLINE __m128i join_pairs(__m128i values) {
    __m128i high = _mm_slli_epi16(_mm_and_si128(values, _mm_set1_epi16(0x00FF)), 4);
    return _mm_or_si128(high, _mm_srli_epi16(values, 8));
}

// Decodes the 8 pairs at `text` into the low 8 bytes at `bytes`, and adds them to `total`.
// Characters in lanes set in `ignored` need not be digits, and their pairs decode as 0.
QUORLIT_INLINE void decode_8(const unsigned char *text, std::uint8_t *bytes, __m128i &valid,
                             __m128i &total, __m128i ignored) {
    __m128i values = _mm_andnot_si128(ignored, digit_values(text, valid, ignored));
    __m128i decoded = _mm_packus_epi16(join_pairs(values), _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i *>(bytes), decoded);
    total = _mm_add_epi8(total, decoded);
}

QUORLIT_INLINE bool decode_hex_sse2(const unsigned char *text, std::size_t pairs,
                                    std::uint8_t *bytes, unsigned &sum) {
    const __m128i none = _mm_setzero_si128();
    __m128i total = none; // sums by lane, modulo 256
    __m128i valid = _mm_set1_epi8(-1);
    // 16 pairs a step while more than 16 are left, then 8 while more than 8 are, then the last.
    std::size_t i = 0;
    for (; i + 16 < pairs; i += 16) {
        __m128i first = join_pairs(digit_values(text + 2 * i, valid, none));
        __m128i second = join_pairs(digit_values(text + 2 * i + 16, valid, none));
        __m128i decoded = _mm_packus_epi16(first, second);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes + i), decoded);
        total = _mm_add_epi8(total, decoded);
    }
    if (i + 8 < pairs) {
        decode_8(text + 2 * i, bytes + i, valid, total, none);
        i += 8;
    }
    decode_8(text + 2 * i, bytes + i, valid, total, lanes_past(2 * (pairs - i)));
    total = _mm_sad_epu8(total, none);
    int low = _mm_cvtsi128_si32(total);
    int high = _mm_cvtsi128_si32(_mm_srli_si128(total, 8));
    sum = static_cast<unsigned>(low + high) & 0xFF;
    return _mm_movemask_epi8(valid) == 0xFFFF;
}

#endif
