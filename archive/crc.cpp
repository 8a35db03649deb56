// CRC-32 (reflected polynomial 0xEDB88320) and the 16-bit rotate checksum.
// crc32_update sees every extracted byte, so it has equivalent paths: a
// sixteen-way table loop that runs anywhere, and on x86-64 processors with a
// carry-less multiply a folding loop for long spans, 128 or (with AVX-512)
// 512 bits wide, chosen once at run time.
// Both return exactly the same value for every input and starting value.
#include "archive/crc.h"

#include "archive/cpu_features.h"
#include "archive/extraction_context.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The reflected polynomial P: bit j is the coefficient of x^(31-j), with x^32
// implied.
constexpr uint32_t crc_poly = 0xEDB88320u;

void build_crc_table(ExtractionContext *ctx) {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t x = i;
        for (int bit = 0; bit < 8; bit++)
            x = (x & 1) ? (x >> 1) ^ crc_poly : x >> 1;
        ctx->crc_table[i] = x;
    }
}

// Slicing by sixteen: slice[k][b] is the CRC of byte b followed by k zero
// bytes, so sixteen independent table lookups fold sixteen input bytes at
// once. The checksum of every
// extracted byte goes through here, which makes this the one loop of the
// extractor that must keep up with the decoder. The tables are constant and
// built by the compiler.
namespace {
struct CrcSlices {
    uint32_t slice[16][256];
};

constexpr CrcSlices make_crc_slices() {
    CrcSlices t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t x = i;
        for (int bit = 0; bit < 8; bit++)
            x = (x & 1) ? (x >> 1) ^ crc_poly : x >> 1;
        t.slice[0][i] = x;
    }
    for (int k = 1; k < 16; k++)
        for (uint32_t i = 0; i < 256; i++)
            t.slice[k][i] = t.slice[0][t.slice[k - 1][i] & 0xFF] ^ (t.slice[k - 1][i] >> 8);
    return t;
}

constexpr CrcSlices crc_slices = make_crc_slices();
} // namespace

static inline uint32_t load_le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t crc32_update_portable(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                               size_t count) {
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    const auto &s = crc_slices.slice;
    for (; count >= 16; count -= 16, p += 16) {
        uint32_t w0 = value ^ load_le32(p);
        uint32_t w1 = load_le32(p + 4);
        uint32_t w2 = load_le32(p + 8);
        uint32_t w3 = load_le32(p + 12);
        value = s[15][w0 & 0xFF] ^ s[14][(w0 >> 8) & 0xFF] ^ s[13][(w0 >> 16) & 0xFF] ^
                s[12][w0 >> 24] ^ s[11][w1 & 0xFF] ^ s[10][(w1 >> 8) & 0xFF] ^
                s[9][(w1 >> 16) & 0xFF] ^ s[8][w1 >> 24] ^ s[7][w2 & 0xFF] ^
                s[6][(w2 >> 8) & 0xFF] ^ s[5][(w2 >> 16) & 0xFF] ^ s[4][w2 >> 24] ^
                s[3][w3 & 0xFF] ^ s[2][(w3 >> 8) & 0xFF] ^ s[1][(w3 >> 16) & 0xFF] ^ s[0][w3 >> 24];
    }
    const uint32_t *table = ctx->crc_table;
    for (; count > 0; count--, p++)
        value = table[(value ^ *p) & 0xFF] ^ (value >> 8);
    return value;
}

#if defined(__x86_64__)
// Folding with carry-less multiplication.
//
// Read the input as one polynomial M over GF(2) whose first bit is the
// highest power (the reflected order: bit 0 of the first byte comes first).
// Started from 0, the table loop leaves M * x^32 mod P in `value`; started
// from v, it leaves what it would from 0 after v is XORed into the first
// four bytes. So the fast path XORs v into the first block and from then on
// only needs some polynomial congruent to M modulo P: any A with
// A = M (mod P) and at most 128 bits, written back as 16 bytes and run
// through the table loop from 0, gives exactly M * x^32 mod P.
//
// Such an A is kept in a 128-bit register with the same bit order as the
// input: its low quadword H holds the coefficients of x^127..x^64, the high
// quadword L those of x^63..x^0, so A = H x^64 + L. Moving A forward over D
// more bits of input means replacing A x^D by something congruent and
// short: A x^D = H x^(64+D) + L x^D = H (x^(64+D) mod P) + L (x^D mod P)
// (mod P). Each product is 64 bits times 32 bits, at most 95 bits, so the
// XOR of the two plus the next D bits of input fits the register again.
// Reflection costs one power of x: a carry-less product of a 64-bit
// reflected H with a 32-bit reflected constant c lands, read as a 128-bit
// reflected value, as H c x^33; hence the constants are x^(D+31) mod P for
// the low quadword and x^(D-33) mod P for the high one.
//
// Four registers each take every fourth 16-byte block (D = 512) so that the
// multiplier's latency overlaps; they are then folded into one (D = 128),
// which also swallows whole blocks left over. Only the last 16-byte value
// and the under-16-byte tail go through the tables. Every step is an exact
// congruence modulo P, never an approximation, so the result is bit for bit
// the table loop's. Two multiplies and a few XORs consume 16 bytes, against
// sixteen table lookups on the portable path.
namespace {
// x^n mod P in the reflected form of the tables: bit j is the coefficient of
// x^(31-j). Multiplying by x shifts right, and x^32 reduces to the polynomial.
constexpr uint32_t x_pow_mod(int n) {
    uint32_t v = 0x80000000u;
    for (int i = 0; i < n; i++)
        v = (v & 1) ? (v >> 1) ^ crc_poly : v >> 1;
    return v;
}
static_assert(x_pow_mod(32) == crc_poly, "x^32 mod P is P without its top term");

// Constant pairs for moving a register forward by D bits: the low quadword
// multiplies the register's low quadword, the high one its high quadword.
constexpr long long fold512_lo = x_pow_mod(512 + 31);
constexpr long long fold512_hi = x_pow_mod(512 - 33);
constexpr long long fold128_lo = x_pow_mod(128 + 31);
constexpr long long fold128_hi = x_pow_mod(128 - 33);
constexpr long long fold2048_lo = x_pow_mod(2048 + 31);
constexpr long long fold2048_hi = x_pow_mod(2048 - 33);
} // namespace

__attribute__((target("pclmul"))) static inline __m128i fold(__m128i a, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(a, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(a, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

static inline __m128i load128(const uint8_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Folds the whole 16-byte blocks left into a, then runs a's 16 bytes and the
// last few through the tables.
__attribute__((target("pclmul"))) static inline uint32_t
finish_folding(const ExtractionContext *ctx, __m128i a, const uint8_t *p, size_t count) {
    const __m128i k128 = _mm_set_epi64x(fold128_hi, fold128_lo);
    for (; count >= 16; p += 16, count -= 16)
        a = fold(a, k128, load128(p));
    uint8_t last[16];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(last), a);
    uint32_t value = crc32_update_portable(ctx, 0, last, sizeof last);
    return crc32_update_portable(ctx, value, p, count);
}

// Needs count >= 64.
__attribute__((target("pclmul"))) static uint32_t
crc32_update_clmul(const ExtractionContext *ctx, uint32_t value, const uint8_t *p, size_t count) {
    const __m128i k512 = _mm_set_epi64x(fold512_hi, fold512_lo);
    const __m128i k128 = _mm_set_epi64x(fold128_hi, fold128_lo);
    __m128i a0 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(value)));
    __m128i a1 = load128(p + 16);
    __m128i a2 = load128(p + 32);
    __m128i a3 = load128(p + 48);
    for (p += 64, count -= 64; count >= 64; p += 64, count -= 64) {
        a0 = fold(a0, k512, load128(p));
        a1 = fold(a1, k512, load128(p + 16));
        a2 = fold(a2, k512, load128(p + 32));
        a3 = fold(a3, k512, load128(p + 48));
    }
    return finish_folding(ctx, fold(fold(fold(a0, k128, a1), k128, a2), k128, a3), p, count);
}

// The same folding four registers wide: a 512-bit register holds four
// 128-bit values side by side and one multiply instruction moves all four.
// Four such registers take every fourth 64-byte block (each lane moves D =
// 2048 bits per step); they are folded into one (D = 512), its four lanes
// into one 128-bit value (D = 128), and the 16-byte loop and the tables
// finish as above.
#define ZQ_WIDE_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul")))

ZQ_WIDE_TARGET static inline __m512i fold_wide(__m512i a, __m512i k, __m512i next) {
    __m512i lo = _mm512_clmulepi64_epi128(a, k, 0x00);
    __m512i hi = _mm512_clmulepi64_epi128(a, k, 0x11);
    return _mm512_ternarylogic_epi64(lo, hi, next, 0x96); // lo ^ hi ^ next
}

// The masked form (all lanes) spells out what the plain one leaves undefined,
// which some compilers' headers warn about.
ZQ_WIDE_TARGET static inline __m512i broadcast_lanes(__m128i x) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF, x);
}

ZQ_WIDE_TARGET static inline __m512i load512(const uint8_t *p) {
    return _mm512_loadu_si512(p);
}

// Needs count >= 256.
ZQ_WIDE_TARGET static uint32_t crc32_update_wide(const ExtractionContext *ctx, uint32_t value,
                                                 const uint8_t *p, size_t count) {
    const __m512i k2048 = broadcast_lanes(_mm_set_epi64x(fold2048_hi, fold2048_lo));
    const __m512i k512 = broadcast_lanes(_mm_set_epi64x(fold512_hi, fold512_lo));
    const __m128i k128 = _mm_set_epi64x(fold128_hi, fold128_lo);
    __m512i a0 = _mm512_xor_si512(load512(p), _mm512_maskz_set1_epi32(1, static_cast<int>(value)));
    __m512i a1 = load512(p + 64);
    __m512i a2 = load512(p + 128);
    __m512i a3 = load512(p + 192);
    for (p += 256, count -= 256; count >= 256; p += 256, count -= 256) {
        a0 = fold_wide(a0, k2048, load512(p));
        a1 = fold_wide(a1, k2048, load512(p + 64));
        a2 = fold_wide(a2, k2048, load512(p + 128));
        a3 = fold_wide(a3, k2048, load512(p + 192));
    }
    __m512i w = fold_wide(fold_wide(fold_wide(a0, k512, a1), k512, a2), k512, a3);
    uint8_t lanes[64];
    _mm512_storeu_si512(lanes, w);
    __m128i a = load128(lanes);
    for (int lane = 1; lane < 4; lane++)
        a = fold(a, k128, load128(lanes + 16 * lane));
    return finish_folding(ctx, a, p, count);
}
#endif

uint32_t crc32_update(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                      size_t count) {
#if defined(__x86_64__)
    if (count >= 256 && cpu_features.wide_carryless_multiply)
        return crc32_update_wide(ctx, value, static_cast<const uint8_t *>(bytes), count);
    // Below 64 bytes the set-up and the final 16 table bytes eat the gain.
    if (count >= 64 && cpu_features.carryless_multiply)
        return crc32_update_clmul(ctx, value, static_cast<const uint8_t *>(bytes), count);
#endif
    return crc32_update_portable(ctx, value, bytes, count);
}

const char *crc32_path() {
    if (cpu_features.wide_carryless_multiply)
        return "512-bit carry-less multiply";
    if (cpu_features.carryless_multiply)
        return "carry-less multiply";
    return cpu_features.switched_off ? "table loop (ZQ_NO_VECTOR)" : "table loop";
}

uint16_t checksum16_update(uint32_t value, const void *bytes, size_t count) {
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    uint32_t v = value & 0xFFFF;
    for (size_t i = 0; i < count; i++) {
        v = (v + p[i]) & 0xFFFF;
        v = ((v << 1) | (v >> 15)) & 0xFFFF;
    }
    return uint16_t(v);
}

uint32_t update_checksum(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                         size_t count, int kind) {
    if (kind == checksum_kind_rotate16)
        return checksum16_update(value, bytes, count);
    return crc32_update(ctx, value, bytes, count);
}
