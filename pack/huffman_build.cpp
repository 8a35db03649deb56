// Length-limited Huffman codes.
//
// A plain Huffman merge gives the optimal lengths; when the deepest leaf
// exceeds the limit the frequencies are flattened (halved, kept nonzero) and
// the merge runs again. Each pass at least halves the ratio between the
// largest and the smallest weight, so a handful of passes always ends within
// max_code_bits for our at most largest_alphabet symbols. The merge uses two
// sorted queues (leaves sorted once, internal nodes produced in order), which
// makes a pass linear after the sort.
#include "pack/huffman_build.h"

#include <algorithm>

namespace {

constexpr int max_symbols = 512;

struct Node {
    uint64_t weight;
    int parent;
};

// Returns the depth of the deepest leaf; fills lengths.
int huffman_pass(const uint64_t *weight, int count, uint8_t *lengths) {
    int order[max_symbols];
    int used = 0;
    for (int i = 0; i < count; i++) {
        lengths[i] = 0;
        if (weight[i] != 0)
            order[used++] = i;
    }
    if (used == 0)
        return 0;
    if (used == 1) {
        lengths[order[0]] = 1;
        return 1;
    }
    std::stable_sort(order, order + used, [&](int a, int b) { return weight[a] < weight[b]; });
    Node nodes[2 * max_symbols];
    for (int i = 0; i < used; i++)
        nodes[i] = Node{weight[order[i]], -1};
    int next_leaf = 0, next_inner = used, inner_end = used;
    auto take = [&]() {
        if (next_leaf < used &&
            (next_inner >= inner_end || nodes[next_leaf].weight <= nodes[next_inner].weight))
            return next_leaf++;
        return next_inner++;
    };
    for (int k = 0; k < used - 1; k++) {
        int a = take();
        int b = take();
        nodes[inner_end] = Node{nodes[a].weight + nodes[b].weight, -1};
        nodes[a].parent = inner_end;
        nodes[b].parent = inner_end;
        inner_end++;
    }
    // Depths: the root is the last node; parents always come after children.
    int depth[2 * max_symbols];
    depth[inner_end - 1] = 0;
    for (int n = inner_end - 2; n >= 0; n--)
        depth[n] = depth[nodes[n].parent] + 1;
    int deepest = 0;
    for (int i = 0; i < used; i++) {
        lengths[order[i]] = uint8_t(depth[i]);
        deepest = std::max(deepest, depth[i]);
    }
    return deepest;
}

} // namespace

void build_code_lengths(const uint32_t *freq, int count, int max_bits, uint8_t *lengths) {
    uint64_t weight[max_symbols];
    for (int i = 0; i < count; i++)
        weight[i] = freq[i];
    while (huffman_pass(weight, count, lengths) > max_bits) {
        for (int i = 0; i < count; i++)
            if (weight[i] != 0)
                weight[i] = (weight[i] >> 1) | 1;
    }
}

void build_canonical_codes(const uint8_t *lengths, int count, uint16_t *codes) {
    int length_count[max_code_bits + 1] = {};
    for (int i = 0; i < count; i++)
        length_count[lengths[i]]++;
    length_count[0] = 0;
    uint32_t next_code[max_code_bits + 1] = {};
    uint32_t code = 0;
    for (int bits = 1; bits <= max_code_bits; bits++) {
        code = (code + uint32_t(length_count[bits - 1])) << 1;
        next_code[bits] = code;
    }
    for (int i = 0; i < count; i++)
        codes[i] = lengths[i] != 0 ? uint16_t(next_code[lengths[i]]++) : 0;
}
