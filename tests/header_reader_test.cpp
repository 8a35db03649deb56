#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/extraction_context.h"
#include "archive/header_reader.h"
#include "archive/stream.h"
#include "tests/support/archive_builder.h"
#include "tests/support/test_paths.h"

namespace {

// One block as the reader returned it.
struct Seen {
    int32_t block_start;
    uint8_t type;
    std::string name;
    uint16_t flags;
    uint16_t head_size;
    uint32_t pack_size;
    uint32_t unp_size;
    uint8_t host_os;
    uint32_t file_crc;
    uint32_t file_time;
    uint8_t unp_ver;
    uint8_t method;
    uint32_t attributes;
    bool damaged;
};

struct ReaderFixture : ::testing::Test {
    ExtractionContext *ctx = nullptr;
    std::string dir;
    int32_t walk_end = 0; // what ended the last walk: 0 the end, -1 a damaged block

    void SetUp() override {
        ctx = new_extraction_context();
        dir = make_temp_dir("reader");
    }
    void TearDown() override {
        close_stream(ctx->archive_stream);
        free_extraction_context(ctx);
        remove_tree(dir);
    }

    void open_path(const std::string &path) {
        close_stream(ctx->archive_stream);
        ctx->archive_stream = open_archive_file(path.c_str(), "rb", 1);
        ASSERT_NE(ctx->archive_stream, nullptr) << path;
    }
    void open_bytes(const std::string &bytes) {
        std::string path = dir + "/archive.bin";
        write_file(path, bytes);
        open_path(path);
    }

    // Locates the archive and walks it as the driver does: over the rest of
    // the main header, then from block to block.
    // `exact`: the counts must match the names (not so for mangled input).
    std::vector<Seen> walk(bool exact = true) {
        std::vector<Seen> seen;
        if (locate_archive(ctx) == 0)
            return seen;
        seek_stream(ctx->archive_stream, ctx->main_header.head_size - 13, 1);
        for (int guard = 0; guard < 1000; guard++) {
            int32_t count = read_next_file_header(ctx, request_file_or_subblock);
            walk_end = count;
            if (count <= 0)
                break;
            const FileHeader &h = ctx->file_header;
            const BlockHeader &b = ctx->block_header;
            if (b.head_type == head_type_subblock) {
                if (exact) {
                    EXPECT_EQ(count, 32);
                }
                seen.push_back({ctx->block_start, b.head_type, "", b.head_flags, b.head_size,
                                b.add_size, 0, 0, 0, 0, 0, 0, 0, false});
            } else {
                normalize_attributes(ctx);
                if (exact) {
                    EXPECT_EQ(count, 32 + int32_t(strlen(ctx->file_name)));
                }
                seen.push_back({ctx->block_start, b.head_type, ctx->file_name, h.head_flags,
                                h.head_size, h.pack_size, h.unp_size, h.host_os, h.file_crc,
                                h.file_time, h.unp_ver, h.method, h.attributes,
                                ctx->file_header_damaged != 0});
            }
            seek_stream(ctx->archive_stream, ctx->next_block, 0);
        }
        return seen;
    }
};

struct SampleEntry {
    int32_t offset;
    uint8_t type;
    const char *name;
    uint16_t flags;
    uint16_t head_size;
    uint32_t pack_size;
    uint32_t unp_size;
    uint8_t host_os;
    uint32_t file_crc;
    uint32_t file_time;
    uint8_t unp_ver;
    uint8_t method;
    uint32_t attributes; // after normalisation
};

struct Sample {
    const char *file;
    int32_t kind;
    uint16_t main_flags;
    uint16_t main_head_size;
    std::vector<SampleEntry> entries;
};

uint32_t t(int y, int mo, int d, int h, int mi, int s) {
    return rar_dos_time(y, mo, d, h, mi, s);
}

// The facts of the external samples, block by block. Blocks 0x78 and 0x7b
// and the final blocks are passed over and so do not appear.
const std::vector<Sample> &samples() {
    static const std::vector<Sample> table = {
        {"external/rar15-comment.rar",
         1,
         0x0002,
         44,
         {{51, 0x74, "FILE1.TXT", 0x8008, 72, 7, 7, 0, 0xe27f07a9, t(2010, 11, 3, 19, 49, 32), 15,
           0x33, 0x20},
          {130, 0x74, "FILE2.TXT", 0x8008, 72, 8, 8, 0, 0x3c4306f7, t(2010, 11, 3, 19, 49, 38), 15,
           0x30, 0x20}}},
        {"external/rar15-dirs.rar",
         1,
         0x0000,
         13,
         {{20, 0x74, "EXE", 0x80e0, 35, 0, 0, 2, 0, t(2023, 2, 19, 9, 20, 50), 15, 0x33, 0x10},
          {55, 0x74, "EXE\\TEST.EXE", 0x8000, 44, 18672, 45056, 2, 0xcfb109c8,
           t(2022, 8, 1, 19, 23, 4), 15, 0x33, 0x20},
          {18771, 0x74, "JPG", 0x80e0, 35, 0, 0, 2, 0, t(2023, 2, 19, 9, 20, 50), 15, 0x33, 0x10},
          {18806, 0x74, "JPG\\TEST.JPG", 0x8000, 44, 38760, 40372, 2, 0x088814e3,
           t(2022, 8, 1, 19, 23, 4), 15, 0x33, 0x20},
          {57610, 0x74, "TECT.TXT", 0x8000, 40, 2815, 15498, 2, 0x9bd160fa,
           t(2022, 8, 1, 19, 23, 4), 15, 0x33, 0x20}}},
        {"external/rar2-unix-owner.rar",
         1,
         0x0040,
         13,
         {{20, 0x74, "file.txt", 0x8080, 40, 17, 4, 3, 0x7e3265a8, t(2026, 7, 15, 22, 0, 22), 20,
           0x33, 0x20},
          {77, 0x77, "", 0x8000, 18, 8, 0, 0, 0, 0, 0, 0, 0}}},
        {"external/rar20-multivolume-part1.rar",
         2,
         0x0001,
         13,
         {{20, 0x74, "exe", 0x80e0, 35, 0, 0, 2, 0, t(2022, 2, 14, 9, 38, 20), 20, 0x35, 0x10},
          {55, 0x74, "jpg", 0x80e0, 35, 0, 0, 2, 0, t(2022, 2, 14, 9, 38, 20), 20, 0x35, 0x10},
          {90, 0x74, "exe\\test.exe", 0x8082, 44, 9866, 45056, 2, 0x95cd4f54,
           t(2022, 2, 14, 9, 38, 20), 20, 0x35, 0x20}}},
        {"external/rar202-comment-nopsw.rar",
         1,
         0x0002,
         51,
         {{58, 0x74, "FILE1.TXT", 0x8008, 66, 7, 7, 0, 0x7a197dba, t(2010, 11, 3, 0, 27, 28), 20,
           0x30, 0x20},
          {131, 0x74, "FILE2.TXT", 0x8008, 66, 7, 7, 0, 0x785fc3e3, t(2010, 11, 3, 0, 27, 34), 20,
           0x30, 0x20}}},
        {"external/rar202-comment-psw.rar",
         1,
         0x0002,
         51,
         {{58, 0x74, "FILE1.TXT", 0x800c, 66, 32, 7, 0, 0x7a197dba, t(2010, 11, 3, 0, 27, 28), 20,
           0x33, 0x20},
          {156, 0x74, "FILE2.TXT", 0x800c, 66, 32, 7, 0, 0x785fc3e3, t(2010, 11, 3, 0, 27, 34), 20,
           0x33, 0x20}}},
    };
    return table;
}

TEST_F(ReaderFixture, ExternalSamples) {
    for (const Sample &sample : samples()) {
        SCOPED_TRACE(sample.file);
        open_path(test_data(sample.file));
        std::vector<Seen> seen = walk();
        EXPECT_EQ(ctx->archive_kind, sample.kind);
        EXPECT_EQ(ctx->archive_format, 2);
        EXPECT_EQ(ctx->archive_offset, 0);
        EXPECT_EQ(ctx->main_header.head_flags, sample.main_flags);
        EXPECT_EQ(ctx->main_header.head_size, sample.main_head_size);
        EXPECT_EQ(ctx->main_header_damaged, 0);
        ASSERT_EQ(seen.size(), sample.entries.size());
        for (size_t i = 0; i < seen.size(); i++) {
            const SampleEntry &want = sample.entries[i];
            const Seen &got = seen[i];
            SCOPED_TRACE(want.offset);
            EXPECT_EQ(got.block_start, want.offset);
            EXPECT_EQ(got.type, want.type);
            EXPECT_EQ(got.name, want.name);
            EXPECT_EQ(got.flags, want.flags);
            EXPECT_EQ(got.head_size, want.head_size);
            EXPECT_EQ(got.pack_size, want.pack_size);
            EXPECT_FALSE(got.damaged);
            if (want.type != 0x74)
                continue;
            EXPECT_EQ(got.unp_size, want.unp_size);
            EXPECT_EQ(got.host_os, want.host_os);
            EXPECT_EQ(got.file_crc, want.file_crc);
            EXPECT_EQ(got.file_time, want.file_time);
            EXPECT_EQ(got.unp_ver, want.unp_ver);
            EXPECT_EQ(got.method, want.method);
            EXPECT_EQ(got.attributes, want.attributes);
        }
    }
}

// A sub-block comes back with a positive count while file_header still holds
// the entry before it.
TEST_F(ReaderFixture, SubBlockKeepsPreviousEntry) {
    open_path(test_data("external/rar2-unix-owner.rar"));
    ASSERT_EQ(locate_archive(ctx), 1);
    ASSERT_EQ(read_next_file_header(ctx, request_file_or_subblock), 40);
    seek_stream(ctx->archive_stream, ctx->next_block, 0);
    ASSERT_EQ(read_next_file_header(ctx, request_file_or_subblock), 32);
    EXPECT_EQ(ctx->block_header.head_type, 0x77);
    EXPECT_EQ(ctx->block_header.add_size, 8u);
    EXPECT_EQ(ctx->file_header.head_type, 0x74);
    EXPECT_EQ(ctx->file_header.file_crc, 0x7e3265a8u);
    EXPECT_STREQ(ctx->file_name, "file.txt");
    EXPECT_EQ(tell_stream(ctx->archive_stream), 77);
    EXPECT_EQ(ctx->next_block, 103);
    // Asking for file headers only passes over the sub-block as well.
    seek_stream(ctx->archive_stream, 77, 0);
    EXPECT_EQ(read_next_file_header(ctx, head_type_file), 0);
}

std::string small_archive(uint16_t main_flags = 0) {
    return rar_archive({rar_stored_entry("a.txt", "hello")}, main_flags);
}

std::string filler(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++)
        bytes[i] = char('a' + i % 17); // no 'R' anywhere
    return bytes;
}

struct LocateCase {
    const char *what;
    std::string bytes;
    int32_t kind;
    int32_t format;
    int32_t offset;
};

std::string with_archive_at(size_t offset, const std::string &archive = small_archive()) {
    return filler(offset) + archive;
}

std::string decoy_then_archive() {
    std::string bytes = filler(0x18000);
    // A marker whose byte 9 places on is no main header, and an older-format
    // marker without the self-extractor signature.
    bytes.replace(0x100, 10, std::string("Rar!\x1a\x07\x00\x00\x00\x74", 10));
    bytes.replace(0x200, 4, "RE~^");
    return bytes + small_archive();
}

std::string older_format_with_signature() {
    std::string bytes = decoy_then_archive();
    bytes.replace(28, 4, "RSFX");
    return bytes;
}

TEST_F(ReaderFixture, LocateArchive) {
    std::vector<LocateCase> cases = {
        {"at offset 0", small_archive(), 1, 2, 0},
        {"volume at offset 0", small_archive(0x0001), 2, 2, 0},
        {"behind decoys", decoy_then_archive(), 3, 2, 0x18000},
        {"volume behind data", with_archive_at(0x18000, small_archive(0x0001)), 2, 2, 0x18000},
        {"older format with RSFX", older_format_with_signature(), 3, 1, 0x200},
        {"right after the first 7 bytes", with_archive_at(7), 3, 2, 7},
        {"last marker the scan sees", with_archive_at(249996), 3, 2, 249996},
        {"marker one byte too far", with_archive_at(249997), 0, 0, 0},
        {"marker beyond 250,005", with_archive_at(250006), 0, 0, 0},
        {"empty file", "", 0, 0, 0},
        {"shorter than 7 bytes", "Rar!\x1a\x07", 0, 0, 0},
        {"no marker", filler(5000), 0, 0, 0},
        {"direct marker, 12 main-header bytes", small_archive().substr(0, 19), 0, 0, 0},
        {"scanned marker, main header cut short", filler(100) + small_archive().substr(0, 19), 0, 0,
         0},
        {"decoy at the end of the file", filler(100) + "Rar!\x1a\x07\x00\x00", 0, 0, 0},
        {"lone R at the end", filler(100) + "R", 0, 0, 0},
    };
    for (const LocateCase &c : cases) {
        SCOPED_TRACE(c.what);
        open_bytes(c.bytes);
        EXPECT_EQ(locate_archive(ctx), c.kind);
        EXPECT_EQ(ctx->archive_kind, c.kind);
        EXPECT_EQ(ctx->archive_format, c.format);
        EXPECT_EQ(ctx->archive_offset, c.offset);
        if (c.kind != 0 && c.format == 2) {
            EXPECT_EQ(tell_stream(ctx->archive_stream), c.offset + 20);
            EXPECT_EQ(memcmp(ctx->marker, "Rar!\x1a\x07\x00", 7), 0);
            EXPECT_EQ(ctx->main_header_damaged, 0);
        }
    }
}

TEST_F(ReaderFixture, ArchiveBehindDataIsWalked) {
    open_bytes(decoy_then_archive());
    std::vector<Seen> seen = walk();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "a.txt");
    EXPECT_EQ(seen[0].block_start, 0x18000 + 20);
    EXPECT_EQ(seen[0].block_start + seen[0].head_size, 0x18000 + 20 + 37);
}

TEST_F(ReaderFixture, DamagedMainHeaderIsRecorded) {
    std::string bytes;
    rar_put_marker(bytes);
    RarMainEntry main;
    main.bad_crc = true;
    rar_put_main_header(bytes, main);
    rar_put_file(bytes, rar_stored_entry("a", "x"));
    open_bytes(bytes);
    EXPECT_EQ(locate_archive(ctx), 1);
    EXPECT_EQ(ctx->main_header_damaged, 1);
    EXPECT_GT(read_next_file_header(ctx, request_file_or_subblock), 0);
    EXPECT_EQ(ctx->file_header_damaged, 0);
}

std::string archive_of(const std::vector<RarBlockEntry> &blocks,
                       const std::vector<RarFileEntry> &files) {
    std::string bytes;
    rar_put_marker(bytes);
    rar_put_main_header(bytes, RarMainEntry{});
    for (const RarBlockEntry &block : blocks)
        rar_put_block(bytes, block);
    for (const RarFileEntry &file : files)
        rar_put_file(bytes, file);
    rar_put_end(bytes, 201);
    return bytes;
}

RarBlockEntry block(uint8_t type, uint16_t flags, std::string data = "", int64_t add_size = -1) {
    RarBlockEntry item;
    item.type = type;
    item.flags = flags;
    item.data = data;
    item.add_size = add_size;
    return item;
}

// Every block that is neither a file header nor a sub-block is passed over by
// head_size, + add_size with flag 0x8000.
TEST_F(ReaderFixture, OtherBlocksArePassedOver) {
    std::vector<RarBlockEntry> blocks = {
        block(0x75, 0x0000),       block(0x75, 0x8000, "comment"),
        block(0x76, 0x8000, "av"), block(0x78, 0xc000, std::string(514, 'r')),
        block(0x7b, 0x4000),       block(0x00, 0x0000),
        block(0xff, 0x8000, "zz"), block(0x79, 0x8000, "not the end"),
    };
    blocks[0].header_extra = "some more header bytes";
    open_bytes(archive_of(blocks, {rar_stored_entry("x/y.txt", "data")}));
    std::vector<Seen> seen = walk();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "x\\y.txt");
    EXPECT_FALSE(seen[0].damaged);
}

TEST_F(ReaderFixture, HeaderLongerThanNameKeepsDataPosition) {
    RarFileEntry entry = rar_stored_entry("n.txt", "payload");
    entry.extra = "comment inside the header";
    open_bytes(archive_of({}, {entry, rar_stored_entry("m.txt", "more")}));
    ASSERT_EQ(locate_archive(ctx), 1);
    ASSERT_EQ(read_next_file_header(ctx, request_file_or_subblock), 37);
    EXPECT_EQ(ctx->file_header.head_size, 37 + 25);
    seek_stream(ctx->archive_stream, ctx->next_block - int32_t(ctx->file_header.pack_size), 0);
    char data[8] = {};
    EXPECT_EQ(read_stream(ctx->archive_stream, data, 7), 7);
    EXPECT_STREQ(data, "payload");
    seek_stream(ctx->archive_stream, ctx->next_block, 0);
    ASSERT_EQ(read_next_file_header(ctx, request_file_or_subblock), 37);
    EXPECT_STREQ(ctx->file_name, "m.txt");
}

TEST_F(ReaderFixture, LongNameIsCut) {
    RarFileEntry entry = rar_stored_entry(std::string(300, 'n'), "tail");
    open_bytes(archive_of({}, {entry, rar_stored_entry("next", "n")}));
    ASSERT_EQ(locate_archive(ctx), 1);
    ASSERT_EQ(read_next_file_header(ctx, request_file_or_subblock), 32 + 259);
    EXPECT_EQ(ctx->file_header.name_size, 259);
    EXPECT_EQ(strlen(ctx->file_name), 259u);
    EXPECT_EQ(ctx->file_header_damaged, 1);
    EXPECT_EQ(ctx->next_block - int32_t(ctx->file_header.pack_size), 20 + 332);
    seek_stream(ctx->archive_stream, ctx->next_block - 4, 0);
    char data[5] = {};
    read_stream(ctx->archive_stream, data, 4);
    EXPECT_STREQ(data, "tail");
    seek_stream(ctx->archive_stream, ctx->next_block, 0);
    ASSERT_EQ(read_next_file_header(ctx, request_file_or_subblock), 36);
    EXPECT_STREQ(ctx->file_name, "next");
    EXPECT_EQ(ctx->file_header_damaged, 0);
}

// Blocks that end the walk: the reader returns 0 at the end of the archive
// and -1 for a block only partly there or pointing beyond the file's end (a
// cut or damaged archive); file_header still holds the entry before them.
// Blocks shorter than the 32 bytes the reader asks for may end the file.
TEST_F(ReaderFixture, EndOfArchive) {
    struct EndCase {
        const char *what;
        RarBlockEntry block;
        size_t cut;  // bytes removed from the end of the archive
        size_t seen; // entries returned
        int32_t end; // what ends the walk
    };
    RarBlockEntry short_head = block(0x75, 0);
    short_head.head_size = 6;
    RarBlockEntry zero_head = block(0x74, 0);
    zero_head.head_size = 0;
    RarBlockEntry wraps = block(0x75, 0x8000, "", 0xFFFFFFF9u);
    RarBlockEntry negative = block(0x75, 0x8000, "", 0x80000000u);
    RarBlockEntry past_end = block(0x75, 0x8000, "", 1000000);
    RarBlockEntry end13 = block(0x7b, 0x4000);
    end13.header_extra = "sixsix";
    const size_t unreached = 32 + 9 + 1; // the file entry behind the block
    std::vector<EndCase> cases = {
        {"head_size 6", short_head, 0, 1, 0},
        {"head_size 0", zero_head, 0, 1, 0},
        {"a 7-byte block ends the file", block(0x7b, 0x4000), unreached, 1, 0},
        {"a 13-byte block ends the file", end13, unreached, 1, 0},
        {"next block wraps to the block start", wraps, 0, 1, -1},
        {"next block beyond the signed range", negative, 0, 1, -1},
        {"add_size past the end of the file", past_end, 0, 1, -1},
        {"file ends inside a 7-byte block", block(0x7b, 0x4000), unreached + 1, 1, -1},
        {"file ends inside a 13-byte block", end13, unreached + 1, 1, -1},
        {"file ends inside the final block", block(0x75, 0), 201 + 3, 1, -1},
        {"file ends inside a name", block(0x75, 0), 2, 1, -1},
        {"file ends inside the data", block(0x75, 0), 1, 2, -1},
    };
    for (const EndCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = archive_of({}, {rar_stored_entry("first", "1")});
        rar_put_block(bytes, c.block);
        rar_put_file(bytes, rar_stored_entry("unreached", "2"));
        bytes.resize(bytes.size() - c.cut);
        open_bytes(bytes);
        std::vector<Seen> seen = walk();
        EXPECT_EQ(walk_end, c.end);
        ASSERT_EQ(seen.size(), c.seen);
        EXPECT_EQ(seen[0].name, "first");
        EXPECT_EQ(ctx->file_header.head_type, 0x74);
        EXPECT_EQ(ctx->file_header.pack_size, 1u);
    }
}

TEST_F(ReaderFixture, DamagedFileHeaderIsRecorded) {
    RarFileEntry entry = rar_stored_entry("bad", "x");
    entry.bad_crc = true;
    open_bytes(rar_archive({entry, rar_stored_entry("good", "y")}));
    std::vector<Seen> seen = walk();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].damaged);
    EXPECT_EQ(seen[0].name, "bad");
    EXPECT_FALSE(seen[1].damaged);
}

TEST_F(ReaderFixture, Normalisation) {
    struct NormCase {
        uint8_t host_os;
        uint16_t flags;
        uint32_t attributes;
        uint8_t want_host;
        uint32_t want_attributes;
    };
    const NormCase cases[] = {
        {0, 0x8000, 0x27, 0, 0x27},   {1, 0x8000, 0x01, 1, 0x01},   {2, 0x80E0, 0x10, 2, 0x10},
        {2, 0x8000, 0x08, 2, 0x08},   {3, 0x80E0, 0x41ed, 3, 0x10}, {3, 0x8090, 0x81a4, 3, 0x20},
        {3, 0x80C0, 0x81a4, 3, 0x20}, {7, 0x80E0, 0xFFFF, 0, 0x10}, {200, 0x8000, 0x1234, 0, 0x20},
    };
    std::vector<RarFileEntry> entries;
    for (const NormCase &c : cases) {
        RarFileEntry entry = rar_stored_entry("d/e\\f/g", "");
        entry.host_os = c.host_os;
        entry.flags = c.flags;
        entry.attributes = c.attributes;
        entries.push_back(entry);
    }
    open_bytes(rar_archive(entries));
    std::vector<Seen> seen = walk();
    ASSERT_EQ(seen.size(), std::size(cases));
    for (size_t i = 0; i < seen.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].host_os, cases[i].want_host);
        EXPECT_EQ(seen[i].attributes, cases[i].want_attributes);
        EXPECT_EQ(seen[i].name, "d\\e\\f\\g");
    }
    EXPECT_TRUE(is_path_separator('/'));
    EXPECT_TRUE(is_path_separator('\\'));
    EXPECT_FALSE(is_path_separator(':'));
    EXPECT_FALSE(is_path_separator('\0'));
}

// Every prefix of an archive, and every single-byte change to its headers,
// ends the walk without reading outside a buffer (the sanitizer build checks
// the latter).
TEST_F(ReaderFixture, TruncatedAndMangledArchivesEndCleanly) {
    std::string bytes =
        archive_of({block(0x77, 0x8000, "sub"), block(0x75, 0x8000, "c")},
                   {rar_stored_entry("one", "1111"), rar_stored_entry("two", "22")});
    for (size_t size = 0; size <= bytes.size(); size++) {
        open_bytes(bytes.substr(0, size));
        walk(false);
    }
    for (size_t at = 0; at < 120 && at < bytes.size(); at++) {
        std::string mangled = bytes;
        mangled[at] = char(mangled[at] ^ 0xA5);
        open_bytes(mangled);
        walk(false);
    }
}

TEST(StreamLayer, AbsentStreams) {
    char buffer[4] = {};
    EXPECT_EQ(write_stream(nullptr, "abc", 3), 0);
    EXPECT_EQ(read_stream(nullptr, buffer, 3), 0);
    close_stream(nullptr);
    EXPECT_EQ(open_archive_file("/nonexistent/zq/file", "rb", 1), nullptr);
}

TEST(StreamLayer, ReadWriteSeek) {
    std::string dir = make_temp_dir("stream");
    std::string path = dir + "/s.bin";
    FILE *out = open_archive_file(path.c_str(), "wb", 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(write_stream(out, "0123456789", 10), 10);
    close_stream(out);
    FILE *in = open_archive_file(path.c_str(), "rb", 1);
    ASSERT_NE(in, nullptr);
    char buffer[16] = {};
    seek_stream(in, 4, 0);
    seek_stream(in, 2, 1);
    EXPECT_EQ(tell_stream(in), 6);
    EXPECT_EQ(read_stream(in, buffer, 16), 4);
    EXPECT_STREQ(buffer, "6789");
    EXPECT_EQ(read_stream(in, buffer, 16), 0);
    close_stream(in);
    remove_tree(dir);
}

} // namespace
