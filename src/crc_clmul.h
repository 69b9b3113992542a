// CRC-32 by carry-less multiplication (PCLMULQDQ), 64 bytes a step: the buffer is folded, 128 bits
// at a time, into one 128-bit value that leaves the CRC unchanged, which the byte tables finish.
// The fold constants are x^n mod P for the fold distances, computed here at compile time. Chosen
// at run time where the processor has the instructions; the tables alone are the reference.
#ifndef QUORLIT_CRC_CLMUL_H
#define QUORLIT_CRC_CLMUL_H

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(QUORLIT_NO_SIMD)
#define QUORLIT_CLMUL 1
#include <immintrin.h>

// x^n mod P for CRC-32's polynomial, P = x^32 + 0x04C11DB7.
constexpr std::uint64_t xpow_mod(unsigned n) {
    std::uint64_t value = 1;
    for (unsigned i = 0; i < n; ++i) {
        value <<= 1;
        if ((value >> 32 & 1) != 0) value ^= 0x104C11DB7u;
    }
    return value;
}

// The same for data taken least significant bit first: the 32 bits reflected, then shifted left
// by one, since the product of two reflected operands comes out one bit short.
constexpr std::uint64_t reflected_fold(unsigned n) {
    std::uint64_t value = xpow_mod(n);
    std::uint64_t reflected = 0;
    for (unsigned i = 0; i < 32; ++i) reflected |= (value >> i & 1) << (31 - i);
    return reflected << 1;
}

// Whether this processor has PCLMULQDQ and SSSE3: two bits of the C runtime's processor model
// (no static of a function's own, whose guard would bring the C++ library into the process).
inline bool has_clmul() {
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
}

// Folds 128-bit `x` forward over the distance whose constants `k` holds (low, high qword), and
// adds `data`.
__attribute__((target("pclmul,ssse3"))) inline __m128i fold(__m128i x, __m128i k, __m128i data) {
    __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// Folds `count` bytes (a multiple of 16, at least 64) into one 128-bit value, the first 32 bits
// of the first block added to `first`: x0 to x3 are four blocks folded 512 bits a step, then one.
// `load` turns 16 bytes into the 128-bit value of the CRC's bit order.
template <typename Load>
__attribute__((target("pclmul,ssse3"))) inline __m128i
fold_blocks(const unsigned char *bytes, std::size_t count, __m128i first, __m128i k512,
            __m128i k128, Load load) {
    __m128i x0 = _mm_xor_si128(load(bytes), first);
    __m128i x1 = load(bytes + 16);
    __m128i x2 = load(bytes + 32);
    __m128i x3 = load(bytes + 48);
    std::size_t at = 64;
    for (; count - at >= 64; at += 64) {
        x0 = fold(x0, k512, load(bytes + at));
        x1 = fold(x1, k512, load(bytes + at + 16));
        x2 = fold(x2, k512, load(bytes + at + 32));
        x3 = fold(x3, k512, load(bytes + at + 48));
    }
    __m128i x = fold(fold(fold(x0, k128, x1), k128, x2), k128, x3);
    for (; at < count; at += 16) x = fold(x, k128, load(bytes + at));
    return x;
}

__attribute__((target("pclmul,ssse3"))) inline __m128i load_plain(const unsigned char *bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes));
}

// Loads for a CRC taken most significant bit first: the bytes in reverse order (byte 0 on top),
// or the 32-bit lanes in reverse order (word 0 on top, each little-endian word whole).
struct LoadReversed {
    __attribute__((target("pclmul,ssse3"))) __m128i operator()(const unsigned char *at) const {
        const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        return _mm_shuffle_epi8(load_plain(at), reverse);
    }
};
struct LoadWords {
    __attribute__((target("pclmul,ssse3"))) __m128i operator()(const unsigned char *at) const {
        return _mm_shuffle_epi32(load_plain(at), 0x1B);
    }
};

// Folds `count` bytes (a multiple of 16, at least 64) of a CRC taken least significant bit first
// (CRC-32/ISO-HDLC), from register `crc`; stores the folded value's 16 bytes at `rest`, whose CRC
// from a register of 0 is the CRC of the bytes.
__attribute__((target("pclmul,ssse3"))) inline void fold_reflected(std::uint32_t crc,
                                                                   const unsigned char *bytes,
                                                                   std::size_t count,
                                                                   unsigned char *rest) {
    // Four blocks ahead: 512 bits, plus and minus the CRC's 32; one block: 128 bits.
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(reflected_fold(480)),
                                        static_cast<long long>(reflected_fold(544)));
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(reflected_fold(96)),
                                        static_cast<long long>(reflected_fold(160)));
    __m128i first = _mm_cvtsi32_si128(static_cast<int>(crc));
    __m128i x = fold_blocks(bytes, count, first, k512, k128, load_plain);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rest), x);
}

// Folds `count` bytes (a multiple of 16, at least 64) of a CRC taken most significant bit first
// (CRC-32/MPEG-2): byte by byte, or (`words`) as little-endian 32-bit words each taken from its
// top bit, as the STM32 CRC unit takes them. Stores the folded value's 16 bytes, most significant
// first, at `rest`, whose CRC from a register of 0 taken byte by byte is the CRC of the bytes.
__attribute__((target("pclmul,ssse3"))) inline void fold_forward(std::uint32_t crc,
                                                                 const unsigned char *bytes,
                                                                 std::size_t count, bool words,
                                                                 unsigned char *rest) {
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(xpow_mod(512 + 64)),
                                        static_cast<long long>(xpow_mod(512)));
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(xpow_mod(128 + 64)),
                                        static_cast<long long>(xpow_mod(128)));
    // The register goes into the top 32 bits: the first bits of the message.
    __m128i first = _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(crc)), 12);
    const __m128i reverse_bytes =
        _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i x = words ? fold_blocks(bytes, count, first, k512, k128, LoadWords())
                      : fold_blocks(bytes, count, first, k512, k128, LoadReversed());
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rest), _mm_shuffle_epi8(x, reverse_bytes));
}
#endif

#endif
