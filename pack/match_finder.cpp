// Hash-chain match finder.
//
// Every position is entered under a hash of its next four bytes (with a
// chain link to the previous position of the same hash), of its next three
// bytes and of its next two bytes; the last two keep only the newest
// position, which is all that short matches (length 2 within 256 bytes,
// length 3 within 8 KiB) can use. Chains run strictly downwards and stop at
// the barrier, at the 1 MiB distance limit or after chain_limit steps, so a
// search is bounded whatever the data. The chain array is indexed by position
// modulo 1 MiB; the buffer only ever slides by whole mebibytes, so a slide
// changes no index, only the stored values.
#include "pack/match_finder.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int hash4_bits = 18;
constexpr int hash3_bits = 15;
constexpr uint32_t chain_size = 1u << 20;
constexpr uint32_t slide_unit = 1u << 20;

inline uint32_t load32(const uint8_t *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

inline uint32_t hash4(const uint8_t *p) {
    return (load32(p) * 2654435761u) >> (32 - hash4_bits);
}
inline uint32_t hash3(const uint8_t *p) {
    return ((uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16) * 2654435761u) >>
           (32 - hash3_bits);
}
inline uint32_t hash2(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

void rebase(uint32_t *table, uint32_t count, uint32_t delta) {
    for (uint32_t i = 0; i < count; i++)
        table[i] = table[i] > delta ? table[i] - delta : 0;
}

} // namespace

int match_finder_init(MatchFinder *mf, uint32_t chain_limit, uint32_t nice_length) {
    memset(mf, 0, sizeof(*mf));
    // 8 spare bytes let the word compares read past the fill.
    mf->buffer = static_cast<uint8_t *>(calloc(match_buffer_size + 8, 1));
    mf->head4 = static_cast<uint32_t *>(calloc(1u << hash4_bits, 4));
    mf->head3 = static_cast<uint32_t *>(calloc(1u << hash3_bits, 4));
    mf->head2 = static_cast<uint32_t *>(calloc(1u << 16, 4));
    mf->chain = static_cast<uint32_t *>(calloc(chain_size, 4));
    mf->chain_limit = chain_limit;
    mf->nice_length = nice_length;
    if (!mf->buffer || !mf->head4 || !mf->head3 || !mf->head2 || !mf->chain) {
        match_finder_free(mf);
        return -1;
    }
    return 0;
}

void match_finder_free(MatchFinder *mf) {
    free(mf->buffer);
    free(mf->head4);
    free(mf->head3);
    free(mf->head2);
    free(mf->chain);
    memset(mf, 0, sizeof(*mf));
}

size_t match_finder_memory() {
    return match_buffer_size + 8 + (size_t(1) << hash4_bits) * 4 + (size_t(1) << hash3_bits) * 4 +
           (size_t(1) << 16) * 4 + size_t(chain_size) * 4;
}

uint32_t match_finder_make_room(MatchFinder *mf, uint32_t keep_from, uint32_t n) {
    if (mf->fill + n <= match_buffer_size)
        return 0;
    // Keep the window behind keep_from; drop whole mebibytes before it.
    uint32_t oldest = keep_from > max_match_distance + 1 ? keep_from - max_match_distance - 1 : 0;
    uint32_t delta = oldest / slide_unit * slide_unit;
    if (delta == 0)
        return 0;
    memmove(mf->buffer, mf->buffer + delta, mf->fill - delta);
    mf->fill -= delta;
    mf->inserted = mf->inserted > delta ? mf->inserted - delta : 0;
    mf->barrier = mf->barrier > delta ? mf->barrier - delta : 0;
    mf->base += delta;
    rebase(mf->head4, 1u << hash4_bits, delta);
    rebase(mf->head3, 1u << hash3_bits, delta);
    rebase(mf->head2, 1u << 16, delta);
    rebase(mf->chain, chain_size, delta);
    return delta;
}

void match_finder_set_barrier(MatchFinder *mf, uint32_t pos) {
    mf->barrier = pos;
}

void match_finder_insert_until(MatchFinder *mf, uint32_t pos) {
    uint32_t end = pos;
    if (end + 4 > mf->fill)
        end = mf->fill >= 4 ? mf->fill - 3 : 0;
    for (uint32_t p = mf->inserted; p < end; p++) {
        const uint8_t *s = mf->buffer + p;
        uint32_t h = hash4(s);
        mf->chain[p & (chain_size - 1)] = mf->head4[h];
        mf->head4[h] = p + 1;
        mf->head3[hash3(s)] = p + 1;
        mf->head2[hash2(s)] = p + 1;
    }
    if (end > mf->inserted)
        mf->inserted = end;
}

uint32_t match_length_at(const MatchFinder *mf, uint32_t pos, uint32_t distance,
                         uint32_t max_length) {
    const uint8_t *a = mf->buffer + pos;
    const uint8_t *b = a - distance;
    uint32_t n = 0;
    while (n + 8 <= max_length) {
        uint64_t x, y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y)
            return n + uint32_t(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < max_length && a[n] == b[n])
        n++;
    return n;
}

int match_finder_find(MatchFinder *mf, uint32_t pos, uint32_t max_length, MatchCandidate *out) {
    int found = 0;
    if (max_length < 2)
        return 0;
    const uint8_t *s = mf->buffer + pos;
    uint32_t best = 1;
    uint32_t lowest = pos > max_match_distance ? pos - max_match_distance : 0;
    if (lowest < mf->barrier)
        lowest = mf->barrier;
    uint32_t cand = mf->head2[hash2(s)];
    if (cand != 0 && cand - 1 < pos && cand - 1 >= lowest && pos - (cand - 1) <= 256) {
        uint32_t d = pos - (cand - 1);
        uint32_t len = match_length_at(mf, pos, d, max_length);
        if (len >= 2) {
            out[found++] = MatchCandidate{len, d};
            best = len;
        }
    }
    if (max_length >= 3 && best < max_length) {
        cand = mf->head3[hash3(s)];
        if (cand != 0 && cand - 1 < pos && cand - 1 >= lowest && pos - (cand - 1) < 0x2000) {
            uint32_t d = pos - (cand - 1);
            uint32_t len = match_length_at(mf, pos, d, max_length);
            if (len > best) {
                out[found++] = MatchCandidate{len, d};
                best = len;
            }
        }
    }
    if (max_length < 4 || best >= max_length || best >= mf->nice_length)
        return found;
    cand = mf->head4[hash4(s)];
    uint32_t steps = mf->chain_limit;
    uint32_t previous = pos + 1;
    while (cand != 0 && steps-- > 0) {
        uint32_t c = cand - 1;
        if (c >= previous || c < lowest)
            break;
        previous = c;
        if (mf->buffer[c + best] == s[best]) {
            uint32_t len = match_length_at(mf, pos, pos - c, max_length);
            if (len > best) {
                best = len;
                if (found < max_match_candidates)
                    out[found++] = MatchCandidate{len, pos - c};
                else
                    out[found - 1] = MatchCandidate{len, pos - c};
                if (len >= mf->nice_length || len >= max_length)
                    break;
            }
        }
        cand = mf->chain[c & (chain_size - 1)];
    }
    return found;
}
