// The SSE2 decoder: 32 characters at a time. See hex_decode.h.
#ifndef QUORLIT_HEX_DECODE_SSE2_H
#define QUORLIT_HEX_DECODE_SSE2_H

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

// 32 lanes set, then 32 clear: 16 bytes loaded from FIRST_SET - n have their first n lanes set.
alignas(16) inline const unsigned char LANE_MASKS[64] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr std::size_t FIRST_SET = 32;

QUORLIT_INLINE __m128i first_lanes(std::size_t n) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(LANE_MASKS + FIRST_SET - n));
}

// Turns 16 characters into their digit values, clearing lanes of `valid` that are no digit.
// The additions wrap each range onto the lowest signed values, so that one comparison tests it.
QUORLIT_INLINE __m128i digit_values(__m128i text, __m128i &valid) {
    __m128i is_digit =
        _mm_cmplt_epi8(_mm_add_epi8(text, _mm_set1_epi8(128 - '0')), _mm_set1_epi8(-128 + 10));
    __m128i lower = _mm_or_si128(text, _mm_set1_epi8(0x20));
    __m128i is_letter =
        _mm_cmplt_epi8(_mm_add_epi8(lower, _mm_set1_epi8(128 - 'a')), _mm_set1_epi8(-128 + 6));
    valid = _mm_and_si128(valid, _mm_or_si128(is_digit, is_letter));
    // '0'-'9' end in 0-9, 'A'-'F' and 'a'-'f' in 1-6.
    __m128i low_bits = _mm_and_si128(text, _mm_set1_epi8(0x0F));
    return _mm_add_epi8(low_bits, _mm_and_si128(is_letter, _mm_set1_epi8(9)));
}

// Joins 16 digit values into 8 bytes, one in each 16-bit lane, the first digit high.
QUORLIT_INLINE __m128i join_pairs(__m128i values) {
    __m128i high = _mm_slli_epi16(_mm_and_si128(values, _mm_set1_epi16(0x00FF)), 4);
    return _mm_or_si128(high, _mm_srli_epi16(values, 8));
}

// Decodes the 8 pairs at `text`, into the low 8 bytes; `valid` marks the characters that are
// digits.
QUORLIT_INLINE __m128i decode_8(const unsigned char *text, __m128i &valid) {
    valid = _mm_set1_epi8(-1);
    __m128i values =
        join_pairs(digit_values(_mm_loadu_si128(reinterpret_cast<const __m128i *>(text)), valid));
    return _mm_packus_epi16(values, values);
}

// Decodes the 16 pairs at `text`; `first_valid` and `second_valid` mark the characters of the
// first and second 8 pairs that are digits.
QUORLIT_INLINE __m128i decode_16(const unsigned char *text, __m128i &first_valid,
                                 __m128i &second_valid) {
    const auto *at = reinterpret_cast<const __m128i *>(text);
    first_valid = _mm_set1_epi8(-1);
    second_valid = _mm_set1_epi8(-1);
    __m128i first = join_pairs(digit_values(_mm_loadu_si128(at), first_valid));
    __m128i second = join_pairs(digit_values(_mm_loadu_si128(at + 1), second_valid));
    return _mm_packus_epi16(first, second);
}

QUORLIT_INLINE bool decode_hex_sse2(const unsigned char *text, std::size_t pairs,
                                    std::uint8_t *bytes, unsigned &sum) {
    __m128i total = _mm_setzero_si128();
    __m128i valid = _mm_set1_epi8(-1);
    __m128i first_valid;
    __m128i second_valid;
    std::size_t i = 0;
    for (; i + 16 <= pairs; i += 16) {
        __m128i decoded = decode_16(text + 2 * i, first_valid, second_valid);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes + i), decoded);
        valid = _mm_and_si128(valid, _mm_and_si128(first_valid, second_valid));
        total = _mm_add_epi64(total, _mm_sad_epu8(decoded, _mm_setzero_si128()));
    }
    __m128i bad = _mm_setzero_si128();
    std::size_t left = pairs - i;
    __m128i decoded = _mm_setzero_si128();
    if (left > 8) {
        // Only the lanes that hold the last pairs count.
        decoded = decode_16(text + 2 * i, first_valid, second_valid);
        bad = _mm_andnot_si128(second_valid, first_lanes(2 * left - 16));
        bad = _mm_or_si128(bad, _mm_andnot_si128(first_valid, _mm_set1_epi8(-1)));
    } else if (left > 0) {
        decoded = decode_8(text + 2 * i, first_valid);
        bad = _mm_andnot_si128(first_valid, first_lanes(2 * left));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes + i), decoded);
    __m128i counted = _mm_and_si128(decoded, first_lanes(left));
    total = _mm_add_epi64(total, _mm_sad_epu8(counted, _mm_setzero_si128()));
    sum = static_cast<unsigned>(_mm_cvtsi128_si32(total) +
                                _mm_cvtsi128_si32(_mm_srli_si128(total, 8)));
    return _mm_movemask_epi8(valid) == 0xFFFF && _mm_movemask_epi8(bad) == 0;
}

#endif
