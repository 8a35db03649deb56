// Packed input and window output of the decoder.
//
// Input: the packed bytes of one entry arrive through read_packed, are
// deciphered there when the entry is encrypted, and sit in the
// input_buffer_size bytes of input_buffer. The decoders read it with the
// inline bit reader, which has no bounds tests of its own: each caller
// refills once its position passes its refill threshold (decoder_limits.h),
// and a refill keeps the last refill_keep bytes so a peek of three bytes
// never leaves the buffer. Besides input_top this unit keeps input_end, the
// true end of the delivered data in buffer coordinates, so the decoder can
// tell stale bytes from packed ones.
//
// Output: the window is a ring of window_size bytes. Everything from
// flush_pos up to window_pos waits to be written; flush_window hands it to
// write_output in at most two pieces (tail of the ring, then its start), so
// output leaves in large writes.
#include "unpack/unpack_io.h"

#include <cstring>

#include "archive/cipher.h"
#include "archive/crc.h"
#include "archive/rar_format.h"
#include "archive/stream.h"
#include "unpack/decoder_limits.h"

// A refill comes once the reader has passed a threshold, each of them at or
// beyond refill_size, and before it leaves the buffer; masking its position
// with refill_keep - 1 then moves it down by exactly refill_size bytes, onto
// the byte it stood on.
static_assert((refill_keep & (refill_keep - 1)) == 0 && refill_size % refill_keep == 0,
              "the mask takes off whole multiples of refill_keep");
static_assert(refill_threshold_step >= refill_size && refill_threshold_table >= refill_size &&
                  refill_threshold_length >= refill_size,
              "a refill never finds the reader in front of the bytes it keeps");

void reset_unpack_state(ExtractionContext *ctx, int solid) {
    ctx->input_pos = 0;
    ctx->input_bit = 0;
    if (solid)
        return;
    ctx->current_channel = 0;
    memset(ctx->old_distances, 0, sizeof ctx->old_distances);
    ctx->old_distance_count = 0;
    ctx->last_length = 0;
    ctx->last_distance = 0;
    // Until the first max_distance bytes are written, matches reaching back
    // before the start read the top half of the ring, which must read zeros;
    // the bottom half is written before anything can read it.
    static_assert(window_size == 2 * max_distance, "the ring is two halves of a match's reach");
    memset(ctx->window + max_distance, 0, window_size - max_distance);
    memset(ctx->kept_lengths, 0, sizeof ctx->kept_lengths);
    ctx->window_pos = 0;
    ctx->flush_pos = 0;
}

int32_t read_packed(ExtractionContext *ctx, uint8_t *destination, uint32_t count) {
    int32_t total = 0;
    while (count > 0) {
        uint32_t n = count;
        if (int64_t(ctx->packed_left) < int64_t(n))
            n = ctx->packed_left > 0 ? uint32_t(ctx->packed_left) : 0;
        if (!ctx->input_stream)
            return 0;
        int32_t got = read_stream(ctx->input_stream, destination + total, int32_t(n));
        if (got < 0)
            got = 0;
        total += got;
        count -= uint32_t(got);
        ctx->packed_left -= got;
        if (ctx->packed_left <= 0 || got == 0)
            break;
    }
    if (ctx->cipher_version >= unp_ver_20 && total > 0)
        decrypt_blocks(ctx, destination, (size_t(total) + 15) / 16);
    return total;
}

void fill_input(ExtractionContext *ctx, int first) {
    if (first) {
        ctx->input_top = read_packed(ctx, ctx->input_buffer, input_buffer_size);
        ctx->input_end = ctx->input_top;
        ctx->input_pos = 0;
        return;
    }
    memcpy(ctx->input_buffer, ctx->input_buffer + refill_size, refill_keep);
    ctx->input_pos &= refill_keep - 1;
    int32_t n = read_packed(ctx, ctx->input_buffer + refill_keep, refill_size);
    if (n > 0) {
        ctx->input_top = n + int32_t(refill_keep);
        ctx->input_end = ctx->input_top;
    } else {
        ctx->input_top = int32_t(ctx->input_pos);
        // Once negative the end stays behind every position.
        if (ctx->input_end >= 0)
            ctx->input_end -= int32_t(refill_size);
    }
}

int32_t write_output(ExtractionContext *ctx, const uint8_t *data, uint32_t count) {
    int32_t written = 0;
    if (ctx->output_stream)
        written = write_stream(ctx->output_stream, data, int32_t(count));
    if (written < 0)
        written = 0;
    if (!ctx->decode_only) {
        int kind = ctx->archive_format == archive_format_older ? checksum_kind_rotate16
                                                               : checksum_kind_crc32;
        ctx->file_checksum = update_checksum(ctx, ctx->file_checksum, data, size_t(written), kind);
    }
    return written;
}

void flush_window(ExtractionContext *ctx) {
    if (ctx->window_pos < ctx->flush_pos) {
        uint32_t start = ctx->flush_pos & window_mask;
        write_output(ctx, ctx->window + start, (0 - ctx->flush_pos) & window_mask);
        write_output(ctx, ctx->window, ctx->window_pos);
    } else {
        write_output(ctx, ctx->window + ctx->flush_pos, ctx->window_pos - ctx->flush_pos);
    }
    ctx->flush_pos = ctx->window_pos;
}
