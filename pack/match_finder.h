// Match finder over a sliding buffer that keeps at least the last 1 MiB of
// the stream: hash chains, or a binary tree per hash for a thorough search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr uint32_t max_match_distance = 0xFFFFF;
constexpr int max_match_candidates = 40;

struct MatchCandidate {
    uint32_t length;
    uint32_t distance;
};

struct MatchFinder {
    uint8_t *buffer;   // stream bytes; buffer[0] is stream offset base
    uint32_t fill;     // valid bytes in buffer
    uint32_t inserted; // positions below this are in the hash tables
    uint32_t barrier;  // matches may not reach below this position
    uint64_t base;     // stream offset of buffer[0]
    uint32_t *head4;   // newest position + 1 per 4-byte hash, 0 none
    uint32_t *head3;   // newest position + 1 per 3-byte hash
    uint32_t *head2;   // newest position + 1 per 2-byte value
    uint32_t *chain;   // previous position + 1 with the same 4-byte hash
    uint32_t *tree;    // or, per position, its two subtrees (smaller, larger)
    uint32_t chain_limit;
    uint32_t nice_length;
};

constexpr uint32_t match_buffer_size = 4u << 20;

// tree: search binary trees instead of chains. 0 on success, -1 when memory
// is short.
int match_finder_init(MatchFinder *mf, uint32_t chain_limit, uint32_t nice_length, bool tree);
void match_finder_free(MatchFinder *mf);
// Bytes a match finder holds.
size_t match_finder_memory(const MatchFinder *mf);
// Room for at least n more bytes; slides the buffer when needed. Returns the
// number of bytes the positions moved down by (the caller adjusts its own).
uint32_t match_finder_make_room(MatchFinder *mf, uint32_t keep_from, uint32_t n);
// Matches no further back than pos may use (a new independent stream).
void match_finder_set_barrier(MatchFinder *mf, uint32_t pos);
// Hashes every position below pos that has its bytes in the buffer. With
// trees, only the short hashes: a position enters its tree when it is
// searched, and one never searched is never offered.
void match_finder_insert_until(MatchFinder *mf, uint32_t pos);
// Longest-so-far matches at pos, each longer than the one before, at most
// max_length long: 2-byte (distance <= 256), 3-byte (distance < 0x2000) and
// chained or tree 4-byte candidates. Returns their count.
int match_finder_find(MatchFinder *mf, uint32_t pos, uint32_t max_length, MatchCandidate *out);
// Length of the common run at pos and pos - distance, at most max_length.
inline uint32_t match_length_at(const MatchFinder *mf, uint32_t pos, uint32_t distance,
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
