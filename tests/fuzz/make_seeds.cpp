// Writes the seed corpora of the fuzz targets, each in the layout its target
// reads (tests/fuzz/fuzz_targets.h), made by our own packer and test archive
// writer: well-formed archives of small payloads (stored, compressed, solid,
// encrypted, behind a program image, signed) and a few hostile shapes, plus
// packed streams for fuzz_unpack and fuzz_cipher_unpack, and payloads for
// fuzz_round_trip. The archives in tests/data (other archivers' and an
// independent encoder's) seed the header walk and the extraction too, and the
// compressed entries of the latter become packed streams as well. Usage:
// fuzz_make_seeds <folder>; it fills <folder>/TARGET for every target.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/extraction_context.h"
#include "archive/header_reader.h"
#include "archive/rar_format.h"
#include "archive/stream.h"
#include "pack/lz_encode.h"
#include "tests/support/archive_builder.h"
#include "tests/support/entry_data.h"
#include "tests/support/pe_image.h"
#include "tests/support/test_paths.h"

static std::string pattern(size_t size, uint32_t seed, int alphabet) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = char('a' + (seed >> 24) % uint32_t(alphabet));
    }
    return data;
}

static std::vector<std::string> payloads() {
    std::string text;
    while (text.size() < 3000)
        text += "The quick brown fox jumps over the lazy dog. 0123456789\r\n";
    return {"",
            "x",
            "hello, world\n",
            text,
            std::string(5000, '\0'),
            pattern(2000, 7, 4),
            pattern(700, 11, 256),
            pattern(300, 3, 2) + text.substr(0, 500) + pattern(300, 3, 2)};
}

static void write_seed(const std::string &folder, const std::string &name,
                       const std::string &bytes) {
    std::string path = folder + "/" + name;
    FILE *out = fopen(path.c_str(), "wb");
    if (!out || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || fclose(out) != 0) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(1);
    }
}

static void append_piece(void *user, const uint8_t *data, size_t n) {
    static_cast<std::string *>(user)->append(reinterpret_cast<const char *>(data), n);
}

static void piece_done(void *, uint64_t) {}

// The payloads as pieces of one solid stream (padded to 16 when they are
// to be enciphered); solid[i] is the flag piece i needs.
static std::vector<std::string> solid_pieces(const std::vector<std::string> &files, int level,
                                             uint32_t pad_to, std::vector<int> *solid) {
    std::vector<std::string> pieces(files.size());
    solid->assign(files.size(), 0);
    LzEncoder *encoder = lz_encoder_create(level);
    if (!encoder)
        exit(1);
    for (size_t i = 0; i < files.size(); ++i) {
        (*solid)[i] =
            lz_begin_file(encoder, 1, pad_to, PieceSink{&pieces[i], append_piece, piece_done});
        lz_feed(encoder, reinterpret_cast<const uint8_t *>(files[i].data()), files[i].size());
        lz_end_file(encoder);
    }
    lz_flush(encoder);
    lz_encoder_free(encoder);
    return pieces;
}

static void put32(std::string &out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += char(value >> (8 * i));
}

// The layout of fuzz_unpack: the packed bytes, per entry its size and packed
// length, then the count and solid bits.
static std::string unpack_input(const std::vector<uint32_t> &sizes,
                                const std::vector<std::string> &pieces) {
    std::string out;
    for (const std::string &piece : pieces)
        out += piece;
    for (size_t i = 0; i < sizes.size(); ++i) {
        put32(out, sizes[i]);
        out += char(pieces[i].size() & 0xFF);
        out += char(pieces[i].size() >> 8);
    }
    out += char((sizes.size() - 1) | 0x04);
    return out;
}

// The layout of fuzz_extract: the setup file, then the ticked languages and
// the test-mode bit. Every archive goes in twice: installed with every
// language, and tested with two of them.
static void write_extract_seeds(const std::string &folder, const std::string &name,
                                const std::string &archive) {
    write_seed(folder, name + "-install", archive + char(0x07));
    write_seed(folder, name + "-test", archive + char(0x0D));
}

// Compressed entries of one solid stream, enciphered under password when it
// is not empty.
static std::vector<RarFileEntry> compressed_entries(const std::vector<std::string> &names,
                                                    const std::vector<std::string> &files,
                                                    const char *password) {
    std::vector<int> solid;
    std::vector<std::string> pieces =
        solid_pieces(files, pack_level_default, password[0] ? 16 : 1, &solid);
    std::vector<RarFileEntry> entries;
    for (size_t i = 0; i < files.size(); ++i) {
        RarFileEntry item;
        item.name = names[i];
        item.method = method_default;
        item.unp_size = int64_t(files[i].size());
        item.file_crc = rar_crc32(files[i]);
        item.packed = password[0] ? encipher(pieces[i], password) : pieces[i];
        item.flags = uint16_t(flag_has_data | (solid[i] ? flag_solid : 0) |
                              (password[0] ? flag_encrypted : 0));
        entries.push_back(item);
    }
    return entries;
}

static void archive_seeds(const std::string &header_folder, const std::string &extract_folder) {
    std::vector<std::string> data = payloads();
    std::vector<std::pair<std::string, std::string>> archives;

    archives.push_back({"stored", rar_archive({rar_stored_entry("ZQNG.DAT", data[2]),
                                               rar_stored_entry("SUB\\FILE.TXT", data[3]),
                                               rar_stored_entry("NAVGZIP.SET", "settings"),
                                               rar_stored_entry("ZQNG_DE.HLP", data[1]),
                                               rar_stored_entry("EMPTY", "")})});
    std::vector<std::string> names = {
        "ZQNG.EXE",        "ZQNG_DE.HLP", "ZQNG_US.HLP", "ZQNG_FR.HLP",
        "DATA\\ZEROS.BIN", "DATA\\A.TXT", "B.BIN",       "C.TXT"};
    archives.push_back({"solid", rar_archive(compressed_entries(names, data, ""))});
    archives.push_back(
        {"solid-encrypted", rar_archive(compressed_entries(names, data, built_in_password))});
    std::vector<RarFileEntry> few =
        compressed_entries({"ONE.TXT", "TWO.TXT"}, {data[3], data[5]}, "");
    archives.push_back({"compressed", rar_archive(few)});

    archives.push_back({"stored-encrypted",
                        rar_archive({encrypted_entry("SECRET.TXT", data[2], built_in_password)})});

    // Blocks the reader steps over, and a main header with extra bytes.
    std::string blocks;
    rar_put_marker(blocks);
    RarMainEntry main;
    main.extra = "comment!";
    rar_put_main_header(blocks, main);
    rar_put_block(blocks, RarBlockEntry{0x75, 0, -1, "note", -1, -1, ""});
    rar_put_file(blocks, rar_stored_entry("A.TXT", "a"));
    rar_put_block(blocks, RarBlockEntry{0x77, 0x8000, -1, "", -1, -1, "subdata"});
    rar_put_block(blocks, RarBlockEntry{0x78, 0xC000, -1, "", -1, -1, pattern(40, 5, 256)});
    rar_put_file(blocks, rar_stored_entry("B.TXT", "b"));
    rar_put_end(blocks, 20);
    archives.push_back({"blocks", blocks});

    // Behind a program image, found by the scan.
    std::string image = "MZ" + pattern(3000, 9, 256);
    archives.push_back({"behind-image", image + archives[0].second});

    // Signed: behind a PE image, the archive ends at the certificate table
    // (PE32+ and PE32, with and without padding), and a table pointing into
    // the archive.
    std::string decoy;
    rar_put_file(decoy, rar_stored_entry("EXTRA.TXT", "extra"));
    for (bool pe32_plus : {true, false}) {
        std::string file = pe_image(pe32_plus ? 2048 : 2051, pe32_plus) + archives[2].second;
        pe_append_certificate_table(file, pe32_plus ? 1024 : 9000, decoy);
        archives.push_back({pe32_plus ? "signed" : "signed-pe32", file});
    }
    std::string cut_by_table = archives.back().second;
    cut_by_table.replace(pe_security_entry(cut_by_table), 4, std::string("\x40\x09\0\0", 4));
    archives.push_back({"signed-table-in-archive", cut_by_table});

    // Hostile shapes: claimed sizes far beyond the data, a directory with
    // data, names that leave the target, the same name twice.
    RarFileEntry huge = rar_stored_entry("HUGE.BIN", data[3]);
    huge.unp_size = 0xFFFFFFFFu;
    RarFileEntry huge_pack = rar_stored_entry("HUGEPACK.BIN", data[3]);
    huge_pack.pack_size = 0x7FFFFFFF;
    archives.push_back({"huge-sizes", rar_archive({huge, huge_pack})});
    std::vector<RarFileEntry> bomb =
        compressed_entries({"BOMB.BIN"}, {std::string(1 << 20, '\0')}, "");
    bomb[0].unp_size = 0x7FFFFFFF;
    archives.push_back({"bomb", rar_archive(bomb)});
    RarFileEntry folder = rar_stored_entry("DIR", "data in a folder");
    folder.attributes = 0x10;
    archives.push_back(
        {"folder-with-data", rar_archive({folder, rar_stored_entry("DIR\\F", "f")})});
    archives.push_back({"names", rar_archive({rar_stored_entry("..\\UP.TXT", "up"),
                                              rar_stored_entry("C:\\X.TXT", "x")})});
    archives.push_back({"twice", rar_archive({rar_stored_entry("SAME.TXT", "one"),
                                              rar_stored_entry("same.txt", "two")})});

    for (const auto &archive : archives) {
        write_seed(header_folder, archive.first, archive.second);
        write_extract_seeds(extract_folder, archive.first, archive.second);
    }
}

// The archives in tests/data, by their folder and name.
static void data_archive_seeds(const std::string &header_folder,
                               const std::string &extract_folder) {
    for (const char *kind : {"external", "synthetic"}) {
        std::vector<std::string> names;
        list_files(test_data(kind), "", &names);
        for (const std::string &name : names) {
            std::string suffix = name.size() > 4 ? name.substr(name.size() - 4) : "";
            if (suffix != ".rar" && suffix != ".exe")
                continue;
            std::string archive = read_file(test_data(std::string(kind) + "/" + name));
            std::string seed = std::string(kind) + "-" + name;
            write_seed(header_folder, seed, archive);
            write_extract_seeds(extract_folder, seed, archive);
        }
    }
}

static void stream_seeds(const std::string &unpack_folder, const std::string &cipher_folder) {
    std::vector<std::string> data = payloads();
    std::vector<std::vector<std::string>> sets = {
        {data[3]}, {data[4]},          {data[6]},
        {data[0]}, {data[5], data[7]}, {data[1], data[2], data[3], data[6]},
    };
    int n = 0;
    for (const std::vector<std::string> &files : sets) {
        std::vector<uint32_t> sizes;
        for (const std::string &file : files)
            sizes.push_back(uint32_t(file.size()));
        for (int level : {pack_level_fast, pack_level_best}) {
            std::vector<int> solid;
            std::vector<std::string> pieces = solid_pieces(files, level, 1, &solid);
            write_seed(unpack_folder, "stream-" + std::to_string(n), unpack_input(sizes, pieces));

            std::string password = n % 2 ? built_in_password : "password";
            pieces = solid_pieces(files, level, 16, &solid);
            for (std::string &piece : pieces)
                piece = encipher(piece, password.c_str());
            write_seed(cipher_folder, "stream-" + std::to_string(n),
                       unpack_input(sizes, pieces) + password + char(password.size()));
            ++n;
        }
    }
}

struct PackedEntry {
    std::string name;
    uint32_t unp_size;
    std::string packed;
};

// The file entries of an archive file as the reader finds them, with their
// packed bytes.
static std::vector<PackedEntry> read_entries(const std::string &path) {
    std::vector<PackedEntry> entries;
    ExtractionContext *ctx = new_extraction_context();
    FILE *file = fopen(path.c_str(), "rb");
    if (!ctx || !file) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        exit(1);
    }
    ctx->archive_stream = file;
    if (locate_archive(ctx) != 0) {
        if (ctx->main_header.head_size > 13)
            seek_stream(file, ctx->main_header.head_size - 13, 1);
        while (read_next_file_header(ctx, head_type_file) != 0) {
            const FileHeader &header = ctx->file_header;
            PackedEntry entry = {ctx->file_name, header.unp_size,
                                 std::string(header.pack_size, '\0')};
            seek_stream(file, int32_t(ctx->next_block - header.pack_size), 0);
            entry.packed.resize(
                size_t(read_stream(file, &entry.packed[0], int32_t(header.pack_size))));
            entries.push_back(entry);
            seek_stream(file, ctx->next_block, 0);
        }
    }
    fclose(file);
    free_extraction_context(ctx);
    return entries;
}

// Runs of compressed entries that are not enciphered, each from a non-solid
// one on, in the layout of fuzz_unpack.
static void synthetic_stream_seeds(const std::string &unpack_folder) {
    const std::vector<std::vector<std::string>> runs = {
        {"solid-encrypted.exe", "one.txt", "sub\\two.bin"},
        {"solid-encrypted.exe", "eight.txt", "nine.txt"},
        {"stuck.rar", "stuck.bin"},
    };
    int n = 0;
    for (const std::vector<std::string> &run : runs) {
        std::vector<PackedEntry> entries = read_entries(test_data("synthetic/" + run[0]));
        std::vector<uint32_t> sizes;
        std::vector<std::string> pieces;
        for (size_t i = 1; i < run.size(); ++i) {
            auto entry = entries.begin();
            while (entry != entries.end() && entry->name != run[i])
                ++entry;
            if (entry == entries.end() || entry->packed.size() > 0xFFFF) {
                fprintf(stderr, "no entry %s of at most 64 KiB in %s\n", run[i].c_str(),
                        run[0].c_str());
                exit(1);
            }
            sizes.push_back(entry->unp_size);
            pieces.push_back(entry->packed);
        }
        write_seed(unpack_folder, "synthetic-" + std::to_string(n++), unpack_input(sizes, pieces));
    }
}

// The layout of fuzz_round_trip: the bytes to pack, then a control byte.
static void round_trip_seeds(const std::string &folder) {
    std::vector<std::string> data = payloads();
    int n = 0;
    for (const std::string &payload : data) {
        for (int control : {0x00, 0x1D, 0x3E, 0x2C, 0x54}) {
            write_seed(folder, "payload-" + std::to_string(n), payload + char(control));
            ++n;
        }
    }
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_make_seeds <folder>\n");
        return 2;
    }
    std::string root = argv[1];
    for (const char *name :
         {"", "/header_walk", "/unpack", "/cipher_unpack", "/round_trip", "/extract"})
        mkdir((root + name).c_str(), 0777);
    archive_seeds(root + "/header_walk", root + "/extract");
    data_archive_seeds(root + "/header_walk", root + "/extract");
    stream_seeds(root + "/unpack", root + "/cipher_unpack");
    synthetic_stream_seeds(root + "/unpack");
    round_trip_seeds(root + "/round_trip");
    return 0;
}
