// Hash-chain and binary-tree match finder.
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
//
// In tree mode the 4-byte hash heads the root of a binary search tree of the
// positions with that hash, ordered by the bytes that follow them (compared
// up to nice_length) and newest at the root. A search descends from the root
// and puts the new position there, splitting the old tree into its two
// subtrees on the way down, so it meets every earlier position that shares a
// longer prefix than any met before: the nearest match of each length, in
// one walk, where a chain visits every position of the hash. A search that
// reaches nice_length hands the old node's subtrees to the new one, and it
// stops, like a chain, after chain_limit steps or at the distance limit (the
// new position's unfinished subtrees are then cut off there).
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
// The first three and two bytes, as the low bytes of a little-endian word:
// any mix of them would serve as well, since a candidate is checked byte by
// byte.
inline uint32_t hash3(const uint8_t *p) {
    return ((load32(p) & 0xFFFFFF) * 2654435761u) >> (32 - hash3_bits);
}
inline uint32_t hash2(const uint8_t *p) {
    return load32(p) & 0xFFFF;
}

void rebase(uint32_t *table, uint32_t count, uint32_t delta) {
    for (uint32_t i = 0; i < count; i++)
        table[i] = table[i] > delta ? table[i] - delta : 0;
}

} // namespace

int match_finder_init(MatchFinder *mf, uint32_t chain_limit, uint32_t nice_length, bool tree) {
    memset(mf, 0, sizeof(*mf));
    // 8 spare bytes let the word compares read past the fill.
    mf->buffer = static_cast<uint8_t *>(calloc(match_buffer_size + 8, 1));
    mf->head4 = static_cast<uint32_t *>(calloc(1u << hash4_bits, 4));
    mf->head3 = static_cast<uint32_t *>(calloc(1u << hash3_bits, 4));
    mf->head2 = static_cast<uint32_t *>(calloc(1u << 16, 4));
    if (tree)
        mf->tree = static_cast<uint32_t *>(calloc(2 * size_t(chain_size), 4));
    else
        mf->chain = static_cast<uint32_t *>(calloc(chain_size, 4));
    mf->chain_limit = chain_limit;
    mf->nice_length = nice_length;
    if (!mf->buffer || !mf->head4 || !mf->head3 || !mf->head2 || !(mf->chain || mf->tree)) {
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
    free(mf->tree);
    memset(mf, 0, sizeof(*mf));
}

size_t match_finder_memory(const MatchFinder *mf) {
    return match_buffer_size + 8 + (size_t(1) << hash4_bits) * 4 + (size_t(1) << hash3_bits) * 4 +
           (size_t(1) << 16) * 4 + size_t(chain_size) * 4 * (mf->tree ? 2 : 1);
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
    if (mf->tree)
        rebase(mf->tree, 2 * chain_size, delta);
    else
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
        if (!mf->tree) {
            uint32_t h = hash4(s);
            mf->chain[p & (chain_size - 1)] = mf->head4[h];
            mf->head4[h] = p + 1;
        }
        mf->head3[hash3(s)] = p + 1;
        mf->head2[hash2(s)] = p + 1;
    }
    if (end > mf->inserted)
        mf->inserted = end;
}

namespace {

// Puts pos at the root of its tree and adds the matches met on the way
// down, each longer than best, to out[0, found). Returns the new count. The
// descent skips the prefix that both sides are known to share, which holds
// only while every node was compared to the same length: a position with
// fewer than nice_length bytes left behind it (at the end of the data fed so
// far) is searched but not entered.
int tree_search(MatchFinder *mf, uint32_t pos, uint32_t max_length, uint32_t lowest, uint32_t best,
                MatchCandidate *out, int found) {
    const uint8_t *s = mf->buffer + pos;
    bool enter = max_length >= mf->nice_length;
    uint32_t limit = enter ? mf->nice_length : max_length;
    uint32_t h = hash4(s);
    uint32_t cand = mf->head4[h];
    // The links still to be set: where the next smaller and the next larger
    // position met go, and how long a prefix each side is known to share.
    uint32_t *smaller = &mf->tree[2 * (pos & (chain_size - 1))];
    uint32_t *larger = smaller + 1;
    uint32_t smaller_length = 0, larger_length = 0;
    if (enter)
        mf->head4[h] = pos + 1;
    uint32_t steps = mf->chain_limit;
    while (cand != 0 && cand - 1 >= lowest && steps-- > 0) {
        uint32_t c = cand - 1;
        uint32_t *pair = &mf->tree[2 * (c & (chain_size - 1))];
        uint32_t len = smaller_length < larger_length ? smaller_length : larger_length;
        const uint8_t *m = mf->buffer + c;
        while (len < limit && m[len] == s[len])
            len++;
        if (len > best) {
            best = len;
            MatchCandidate m_found{len, pos - c};
            if (len == limit && limit < max_length)
                m_found.length = match_length_at(mf, pos, pos - c, max_length);
            if (found < max_match_candidates)
                out[found++] = m_found;
            else
                out[found - 1] = m_found;
        }
        if (len == limit) {
            // Equal as far as the tree compares: c's subtrees become pos's.
            if (enter) {
                *smaller = pair[0];
                *larger = pair[1];
            }
            return found;
        }
        if (m[len] < s[len]) {
            if (enter) {
                *smaller = cand;
                smaller = &pair[1];
            }
            smaller_length = len;
            cand = pair[1];
        } else {
            if (enter) {
                *larger = cand;
                larger = &pair[0];
            }
            larger_length = len;
            cand = pair[0];
        }
    }
    if (enter) {
        *smaller = 0;
        *larger = 0;
    }
    return found;
}

} // namespace

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
    if (mf->tree)
        return max_length < 4 ? found : tree_search(mf, pos, max_length, lowest, best, out, found);
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
