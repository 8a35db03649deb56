#include "archive/cipher.h"

#include <cstring>

#include "archive/cpu_features.h"
#include "archive/extraction_context.h"

// clang-format off
const uint8_t initial_subst_table[256] = {
    215, 19,  149, 35,  73,  197, 192, 205, 249, 28,  16,  119, 48,  221, 2,   42,
    232, 1,   177, 233, 14,  88,  219, 25,  223, 195, 244, 90,  87,  239, 153, 137,
    255, 199, 147, 70,  92,  66,  246, 13,  216, 40,  62,  29,  217, 230, 86,  6,
    71,  24,  171, 196, 101, 113, 218, 123, 93,  91,  163, 178, 202, 67,  44,  235,
    107, 250, 75,  234, 49,  167, 125, 211, 83,  114, 157, 144, 32,  193, 143, 36,
    158, 124, 247, 187, 89,  214, 141, 47,  121, 228, 61,  130, 213, 194, 174, 251,
    97,  110, 54,  229, 115, 57,  152, 94,  105, 243, 212, 55,  209, 245, 63,  11,
    164, 200, 31,  156, 81,  176, 227, 21,  76,  99,  139, 188, 127, 17,  248, 51,
    207, 120, 189, 210, 8,   226, 41,  72,  183, 203, 135, 165, 166, 60,  98,  7,
    122, 38,  155, 170, 69,  172, 252, 238, 39,  134, 59,  128, 236, 27,  240, 80,
    131, 3,   85,  206, 145, 79,  154, 142, 159, 220, 201, 133, 74,  64,  20,  129,
    224, 185, 138, 103, 173, 182, 43,  34,  254, 82,  198, 151, 231, 180, 58,  10,
    118, 26,  102, 12,  50,  132, 22,  191, 136, 111, 162, 179, 45,  4,   148, 108,
    161, 56,  78,  126, 242, 222, 15,  175, 146, 23,  33,  241, 181, 190, 77,  225,
    0,   46,  169, 186, 68,  95,  237, 65,  53,  208, 253, 168, 9,   18,  100, 52,
    116, 184, 160, 96,  109, 37,  30,  106, 140, 104, 150, 5,   204, 117, 112, 84,
};
// clang-format on

static uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

static uint32_t load_word(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

static void store_word(uint8_t *p, uint32_t w) {
    p[0] = uint8_t(w);
    p[1] = uint8_t(w >> 8);
    p[2] = uint8_t(w >> 16);
    p[3] = uint8_t(w >> 24);
}

static uint32_t substitute(const ExtractionContext *ctx, uint32_t t) {
    const uint8_t *s = ctx->subst_table;
    return uint32_t(s[t & 0xFF]) | uint32_t(s[(t >> 8) & 0xFF]) << 8 |
           uint32_t(s[(t >> 16) & 0xFF]) << 16 | uint32_t(s[t >> 24]) << 24;
}

// Runs the 32 rounds forwards (encrypt) or backwards (decrypt); the round
// function is the same both ways, only the order of the round keys differs.
static void run_rounds(ExtractionContext *ctx, uint8_t *block, bool forward) {
    const uint32_t *k = ctx->cipher_key;
    uint32_t x0 = load_word(block) ^ k[0];
    uint32_t x1 = load_word(block + 4) ^ k[1];
    uint32_t x2 = load_word(block + 8) ^ k[2];
    uint32_t x3 = load_word(block + 12) ^ k[3];
    for (int i = 0; i < 32; i++) {
        int r = forward ? i : 31 - i;
        uint32_t t = (x2 + rotl(x3, 11)) ^ k[r & 3];
        uint32_t u = x0 ^ substitute(ctx, t);
        t = (x3 ^ rotl(x2, 17)) + k[r & 3];
        uint32_t v = x1 ^ substitute(ctx, t);
        x0 = x2;
        x1 = x3;
        x2 = u;
        x3 = v;
    }
    store_word(block, x2 ^ k[0]);
    store_word(block + 4, x3 ^ k[1]);
    store_word(block + 8, x0 ^ k[2]);
    store_word(block + 12, x1 ^ k[3]);
}

void mix_key(ExtractionContext *ctx, const uint8_t *block) {
    for (int g = 0; g < 4; g++)
        for (int j = 0; j < 4; j++)
            ctx->cipher_key[j] ^= ctx->crc_table[block[4 * g + j]];
}

void encrypt_block(ExtractionContext *ctx, uint8_t *block) {
    run_rounds(ctx, block, true);
    mix_key(ctx, block);
}

void decrypt_block(ExtractionContext *ctx, uint8_t *block) {
    uint8_t enciphered[16];
    memcpy(enciphered, block, 16);
    run_rounds(ctx, block, false);
    mix_key(ctx, enciphered);
}

// Bulk deciphering. One block's 32 rounds form a single chain of dependent
// table reads, so a block at a time leaves the processor waiting on each
// read. The key of every block follows from the key before it and the
// previous block's enciphered bytes, all known before deciphering starts, so
// the keys of a group of blocks are worked out first and the group's rounds
// then run side by side. The substitution is expanded into four word tables
// (byte b of subst_table placed in byte k of word table k), which makes S(t)
// four reads and three XORs; they are built from subst_table per call, so
// subst_table stays the one record of the substitution.
namespace {
struct SubstWords {
    uint32_t w[4][256];
};
} // namespace

static void make_subst_words(const uint8_t *s, SubstWords *t) {
    for (int b = 0; b < 256; b++) {
        uint32_t v = s[b];
        t->w[0][b] = v;
        t->w[1][b] = v << 8;
        t->w[2][b] = v << 16;
        t->w[3][b] = v << 24;
    }
}

static inline uint32_t substitute_words(const SubstWords &t, uint32_t x) {
    return t.w[0][x & 0xFF] ^ t.w[1][(x >> 8) & 0xFF] ^ t.w[2][(x >> 16) & 0xFF] ^ t.w[3][x >> 24];
}

// The rounds of N blocks, backwards; keys[b] is block b's key.
template <int N>
static inline void decrypt_group(const SubstWords &t, const uint32_t (*keys)[4], uint8_t *data) {
    uint32_t x0[N], x1[N], x2[N], x3[N];
#pragma GCC unroll 8
    for (int b = 0; b < N; b++) {
        const uint8_t *p = data + 16 * b;
        x0[b] = load_word(p) ^ keys[b][0];
        x1[b] = load_word(p + 4) ^ keys[b][1];
        x2[b] = load_word(p + 8) ^ keys[b][2];
        x3[b] = load_word(p + 12) ^ keys[b][3];
    }
    // Two rounds per step, so the words trade places by renaming only; the
    // round keys of a backwards pass run 3, 2, 1, 0.
    for (int i = 0; i < 32; i += 4) {
#pragma GCC unroll 2
        for (int step = 0; step < 2; step++) {
            int first = 3 - 2 * step;
#pragma GCC unroll 8
            for (int b = 0; b < N; b++) {
                uint32_t k = keys[b][first];
                x0[b] ^= substitute_words(t, (x2[b] + rotl(x3[b], 11)) ^ k);
                x1[b] ^= substitute_words(t, (x3[b] ^ rotl(x2[b], 17)) + k);
                k = keys[b][first - 1];
                x2[b] ^= substitute_words(t, (x0[b] + rotl(x1[b], 11)) ^ k);
                x3[b] ^= substitute_words(t, (x1[b] ^ rotl(x0[b], 17)) + k);
            }
        }
    }
#pragma GCC unroll 8
    for (int b = 0; b < N; b++) {
        uint8_t *p = data + 16 * b;
        store_word(p, x2[b] ^ keys[b][0]);
        store_word(p + 4, x3[b] ^ keys[b][1]);
        store_word(p + 8, x0[b] ^ keys[b][2]);
        store_word(p + 12, x1[b] ^ keys[b][3]);
    }
}

// The key of the block after block: each enciphered byte's CRC table entry
// goes into the word of its position modulo four.
static inline void advance_key(const uint32_t *crc, uint32_t key[4], const uint8_t *block) {
    for (int j = 0; j < 4; j++)
        key[j] ^= crc[block[j]] ^ crc[block[4 + j]] ^ crc[block[8 + j]] ^ crc[block[12 + j]];
}

// Deciphers count blocks from key onwards and leaves key after them.
static void decrypt_blocks_scalar(const uint8_t *subst, const uint32_t *crc, uint32_t key[4],
                                  uint8_t *data, size_t count) {
    constexpr int group = 4;
    SubstWords t;
    make_subst_words(subst, &t);
    uint32_t keys[group][4];
    while (count > 0) {
        int n = count < size_t(group) ? int(count) : group;
        for (int b = 0; b < n; b++) {
            memcpy(keys[b], key, sizeof keys[b]);
            advance_key(crc, key, data + 16 * b);
        }
        if (n == group)
            decrypt_group<group>(t, keys, data);
        else
            for (int b = 0; b < n; b++)
                decrypt_group<1>(t, keys + b, data + 16 * b);
        data += 16 * n;
        count -= size_t(n);
    }
}

#if defined(__x86_64__)
#define ZQ_CIPHER_VECTOR 1
#include <immintrin.h>

// Sixteen blocks at once in 512-bit registers, one 32-bit lane per block:
// x[0..3] hold word 0..3 of every block and k[0..3] every block's key words.
// The substitution of all 64 bytes of a register is two 128-entry byte
// permutes (table bytes 0..127 and 128..255, indexed by the low seven bits)
// and a blend on the top bit, so a round costs a dozen vector operations for
// all sixteen blocks where the scalar rounds make eight table reads per
// block. Processors without the byte permutes take the scalar path.
#define ZQ_VECTOR_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// The all-lanes mask spells out what the plain rotate leaves undefined, which
// some compilers' headers warn about.
template <int N> ZQ_VECTOR_TARGET static inline __m512i rotate_lanes(__m512i x) {
    return _mm512_maskz_rol_epi32(0xFFFF, x, N);
}

ZQ_VECTOR_TARGET static inline __m512i substitute_lanes(const __m512i table[4], __m512i x) {
    __m512i low = _mm512_permutex2var_epi8(table[0], x, table[1]);
    __m512i high = _mm512_permutex2var_epi8(table[2], x, table[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

// Loads sixteen blocks as lanes: words 0,1 and words 2,3 of eight blocks
// from two registers, then the halves of sixteen blocks joined.
ZQ_VECTOR_TARGET static inline void load_lanes(const uint8_t *p, __m512i x[4]) {
    const __m512i pick_01 =
        _mm512_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28, 1, 5, 9, 13, 17, 21, 25, 29);
    const __m512i pick_23 =
        _mm512_setr_epi32(2, 6, 10, 14, 18, 22, 26, 30, 3, 7, 11, 15, 19, 23, 27, 31);
    const __m512i join_low =
        _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 23);
    const __m512i join_high =
        _mm512_setr_epi32(8, 9, 10, 11, 12, 13, 14, 15, 24, 25, 26, 27, 28, 29, 30, 31);
    __m512i r0 = _mm512_loadu_si512(p), r1 = _mm512_loadu_si512(p + 64);
    __m512i r2 = _mm512_loadu_si512(p + 128), r3 = _mm512_loadu_si512(p + 192);
    __m512i a01 = _mm512_permutex2var_epi32(r0, pick_01, r1);
    __m512i a23 = _mm512_permutex2var_epi32(r0, pick_23, r1);
    __m512i b01 = _mm512_permutex2var_epi32(r2, pick_01, r3);
    __m512i b23 = _mm512_permutex2var_epi32(r2, pick_23, r3);
    x[0] = _mm512_permutex2var_epi32(a01, join_low, b01);
    x[1] = _mm512_permutex2var_epi32(a01, join_high, b01);
    x[2] = _mm512_permutex2var_epi32(a23, join_low, b23);
    x[3] = _mm512_permutex2var_epi32(a23, join_high, b23);
}

// The way back: word j of every block from lane register o[j].
ZQ_VECTOR_TARGET static inline void store_lanes(uint8_t *p, const __m512i o[4]) {
    const __m512i zip_low =
        _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i zip_high =
        _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    const __m512i pairs_low =
        _mm512_setr_epi32(0, 1, 16, 17, 2, 3, 18, 19, 4, 5, 20, 21, 6, 7, 22, 23);
    const __m512i pairs_high =
        _mm512_setr_epi32(8, 9, 24, 25, 10, 11, 26, 27, 12, 13, 28, 29, 14, 15, 30, 31);
    __m512i c01 = _mm512_permutex2var_epi32(o[0], zip_low, o[1]);
    __m512i c23 = _mm512_permutex2var_epi32(o[2], zip_low, o[3]);
    __m512i d01 = _mm512_permutex2var_epi32(o[0], zip_high, o[1]);
    __m512i d23 = _mm512_permutex2var_epi32(o[2], zip_high, o[3]);
    _mm512_storeu_si512(p, _mm512_permutex2var_epi32(c01, pairs_low, c23));
    _mm512_storeu_si512(p + 64, _mm512_permutex2var_epi32(c01, pairs_high, c23));
    _mm512_storeu_si512(p + 128, _mm512_permutex2var_epi32(d01, pairs_low, d23));
    _mm512_storeu_si512(p + 192, _mm512_permutex2var_epi32(d01, pairs_high, d23));
}

// The rounds of G groups of sixteen blocks side by side, in place at p;
// lane_keys[g][j][b] is word j of the key of block b of group g. A round is
// a chain of dependent operations, so independent groups keep the vector
// units busy.
template <int G>
ZQ_VECTOR_TARGET static inline void decrypt_groups(const __m512i table[4],
                                                   const uint32_t (*lane_keys)[4][16], uint8_t *p) {
    __m512i x[G][4], k[G][4];
    for (int g = 0; g < G; g++) {
        load_lanes(p + 256 * g, x[g]);
        for (int j = 0; j < 4; j++) {
            k[g][j] = _mm512_loadu_si512(lane_keys[g][j]);
            x[g][j] = _mm512_xor_si512(x[g][j], k[g][j]);
        }
    }
    // Two rounds per step as in decrypt_group; round keys run 3, 2, 1, 0, so
    // two steps unrolled make a loop body with fixed keys.
#pragma GCC unroll 2
    for (int i = 0; i < 32; i += 2) {
#pragma GCC unroll 4
        for (int g = 0; g < G; g++) {
            __m512i *w = x[g];
            __m512i kr = k[g][3 - (i & 3)];
            __m512i t = _mm512_xor_si512(_mm512_add_epi32(w[2], rotate_lanes<11>(w[3])), kr);
            __m512i u = _mm512_add_epi32(_mm512_xor_si512(w[3], rotate_lanes<17>(w[2])), kr);
            w[0] = _mm512_xor_si512(w[0], substitute_lanes(table, t));
            w[1] = _mm512_xor_si512(w[1], substitute_lanes(table, u));
            kr = k[g][2 - (i & 3)];
            t = _mm512_xor_si512(_mm512_add_epi32(w[0], rotate_lanes<11>(w[1])), kr);
            u = _mm512_add_epi32(_mm512_xor_si512(w[1], rotate_lanes<17>(w[0])), kr);
            w[2] = _mm512_xor_si512(w[2], substitute_lanes(table, t));
            w[3] = _mm512_xor_si512(w[3], substitute_lanes(table, u));
        }
    }
    for (int g = 0; g < G; g++) {
        __m512i o[4] = {_mm512_xor_si512(x[g][2], k[g][0]), _mm512_xor_si512(x[g][3], k[g][1]),
                        _mm512_xor_si512(x[g][0], k[g][2]), _mm512_xor_si512(x[g][1], k[g][3])};
        store_lanes(p + 256 * g, o);
    }
}

// Deciphers count blocks, a multiple of sixteen: four groups of sixteen at a
// time while there are, then one; key follows them as in
// decrypt_blocks_scalar.
ZQ_VECTOR_TARGET static void decrypt_blocks_vector(const uint8_t *subst, const uint32_t *crc,
                                                   uint32_t key[4], uint8_t *data, size_t count) {
    constexpr int most_groups = 4;
    __m512i table[4];
    for (int i = 0; i < 4; i++)
        table[i] = _mm512_loadu_si512(subst + 64 * i);
    // The running key in scalars the stores cannot alias: its chain through
    // the blocks is serial and must stay in registers.
    uint32_t k0 = key[0], k1 = key[1], k2 = key[2], k3 = key[3];
    for (size_t done = 0; done < count;) {
        int n = count - done >= 16 * most_groups ? most_groups : 1;
        uint8_t *p = data + 16 * done;
        uint32_t lane_keys[most_groups][4][16];
        for (int g = 0; g < n; g++) {
            for (int b = 0; b < 16; b++) {
                const uint8_t *q = p + 256 * g + 16 * b;
                lane_keys[g][0][b] = k0;
                lane_keys[g][1][b] = k1;
                lane_keys[g][2][b] = k2;
                lane_keys[g][3][b] = k3;
                k0 ^= crc[q[0]] ^ crc[q[4]] ^ crc[q[8]] ^ crc[q[12]];
                k1 ^= crc[q[1]] ^ crc[q[5]] ^ crc[q[9]] ^ crc[q[13]];
                k2 ^= crc[q[2]] ^ crc[q[6]] ^ crc[q[10]] ^ crc[q[14]];
                k3 ^= crc[q[3]] ^ crc[q[7]] ^ crc[q[11]] ^ crc[q[15]];
            }
        }
        if (n == most_groups)
            decrypt_groups<most_groups>(table, lane_keys, p);
        else
            decrypt_groups<1>(table, lane_keys, p);
        done += 16 * size_t(n);
    }
    key[0] = k0;
    key[1] = k1;
    key[2] = k2;
    key[3] = k3;
}
#endif

void decrypt_blocks(ExtractionContext *ctx, uint8_t *data, size_t count) {
    // The running key in locals: the record could alias the data bytes.
    uint32_t key[4];
    memcpy(key, ctx->cipher_key, sizeof key);
#if defined(ZQ_CIPHER_VECTOR)
    if (cpu_features.byte_permutes) {
        size_t whole = count & ~size_t(15);
        decrypt_blocks_vector(ctx->subst_table, ctx->crc_table, key, data, whole);
        data += 16 * whole;
        count -= whole;
        if (count > 0) {
            // The last few blocks go as one group padded with zero blocks;
            // the key then follows the real blocks only.
            uint8_t group[256] = {};
            memcpy(group, data, 16 * count);
            uint32_t group_key[4];
            memcpy(group_key, key, sizeof key);
            decrypt_blocks_vector(ctx->subst_table, ctx->crc_table, group_key, group, 16);
            for (size_t b = 0; b < count; b++)
                advance_key(ctx->crc_table, key, data + 16 * b);
            memcpy(data, group, 16 * count);
            count = 0;
        }
    }
#endif
    decrypt_blocks_scalar(ctx->subst_table, ctx->crc_table, key, data, count);
    memcpy(ctx->cipher_key, key, sizeof key);
}

const char *decrypt_blocks_path() {
    if (cpu_features.byte_permutes)
        return "byte permutes";
    return cpu_features.switched_off ? "scalar rounds (ZQ_NO_VECTOR)" : "scalar rounds";
}

void decrypt_blocks_portable(ExtractionContext *ctx, uint8_t *data, size_t count) {
    uint32_t key[4];
    memcpy(key, ctx->cipher_key, sizeof key);
    decrypt_blocks_scalar(ctx->subst_table, ctx->crc_table, key, data, count);
    memcpy(ctx->cipher_key, key, sizeof key);
}

void init_cipher(ExtractionContext *ctx, const char *password) {
    ctx->cipher_key[0] = 0xD3A3B879u;
    ctx->cipher_key[1] = 0x3F6D12F7u;
    ctx->cipher_key[2] = 0x7515A235u;
    ctx->cipher_key[3] = 0xA4E7F123u;

    // The password field holds at most 127 characters; the zero bytes behind
    // it in the 256-byte buffer are read by odd lengths and the last block.
    uint8_t buffer[256] = {};
    size_t len = strnlen(password, 127);
    memcpy(buffer, password, len);

    memcpy(ctx->subst_table, initial_subst_table, 256);
    uint8_t *s = ctx->subst_table;
    for (uint32_t j = 0; j < 256; j++) {
        for (size_t i = 0; i < len; i += 2) {
            uint32_t p = ctx->crc_table[(buffer[i] - j) & 0xFF] & 0xFF;
            uint32_t q = ctx->crc_table[(buffer[i + 1] + j) & 0xFF] & 0xFF;
            for (uint32_t k = 1; p != q; p = (p + 1) & 0xFF, k++) {
                uint32_t other = (p + i + k) & 0xFF;
                uint8_t tmp = s[p];
                s[p] = s[other];
                s[other] = tmp;
            }
        }
    }
    for (size_t i = 0; i < len; i += 16)
        encrypt_block(ctx, buffer + i);
}
