// Damaged and hostile archives against the whole extraction: an archive cut
// at every byte, a flipped bit in every header field, sizes of 0, 2^31 - 1
// and 2^31 and more, names that leave the target or do not fit, a folder
// entry with data, thousands of entries, an entry whose packed data decodes
// to far more than its size, the same name twice, and file headers without
// data of their own.
//
// Whatever the input: the run ends with one of the driver's results, nothing
// appears outside the target folder, and every file left in the target is
// one of the archive's files, complete and verified.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/rar_format.h"
#include "pack/archive_writer.h"
#include "pack/lz_encode.h"
#include "platform/host/host_files.h"
#include "platform/win32_api.h"
#include "setup/setup_state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/entry_data.h"
#include "tests/support/extraction_fixture.h"
#include "tests/support/pe_image.h"
#include "tests/support/test_paths.h"
#include "tests/winmodel/dialog.h"

namespace {

using Names = std::vector<std::string>;

struct BadInputTest : ExtractionFixture {
    std::vector<std::string> contents; // every file content the archive may yield

    ExtractionResult run(const std::string &archive) {
        reset_target();
        write_file(setup_path(), archive);
        strcpy(target, "D:\\Target");
        return extract_archive(nullptr, setup_path().c_str(), target);
    }
    // The invariants every run keeps; returns the files in the target.
    Names check_run(ExtractionResult result) const {
        const ExtractionResult known[] = {0, 1, 2, 3, 4, 9, -1};
        EXPECT_NE(std::find(std::begin(known), std::end(known), result), std::end(known))
            << "result " << result;
        Names files = target_files();
        for (const std::string &file : files) {
            std::string data = read_file(in_target(file));
            EXPECT_NE(std::find(contents.begin(), contents.end(), data), contents.end())
                << file << " holds bytes that are no file of the archive";
        }
        return files;
    }
};

uint32_t get16(const std::string &bytes, size_t at) {
    return uint8_t(bytes[at]) | (uint32_t(uint8_t(bytes[at + 1])) << 8);
}

// One block of an archive as a plain walk over its bytes finds it.
struct Block {
    size_t start;
    size_t header_end; // start + head_size: where its data begins
    size_t next;
    std::string name; // of a file entry; "" for folders and other blocks
};

std::vector<Block> blocks_of(const std::string &bytes, size_t archive_at) {
    std::vector<Block> blocks;
    size_t at = archive_at + 7 + get16(bytes, archive_at + 7 + 5);
    while (at < bytes.size()) {
        uint32_t flags = get16(bytes, at + 3);
        Block block{at, at + get16(bytes, at + 5), 0, ""};
        block.next = block.header_end;
        if (flags & 0x8000)
            block.next += get16(bytes, at + 7) | (get16(bytes, at + 9) << 16);
        if (uint8_t(bytes[at + 2]) == 0x74 && (flags & 0xE0) != 0xE0)
            block.name = bytes.substr(at + 32, get16(bytes, at + 26));
        blocks.push_back(block);
        at = block.next;
    }
    return blocks;
}

// The download of an installer as our packer makes it (behind a program
// image; solid, encrypted with the setup's password; a folder, compressed,
// stored and empty files), cut at every byte of every header and inside
// every entry's data: a cut at a block boundary ends cleanly with exactly
// the entries before it, a cut within a header or name fails the run with 2
// and the setup's own name as caption, a cut within an entry's data fails
// that entry. zqrar tells the same story at the cuts around every header.
TEST_F(BadInputTest, CutDownloads) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"EMPTY.TXT", ""},
        {"MAPS\\EUROPE.MAP", random_bytes(300, 2)},
        {"README.TXT", "Start ZQNG.EXE.\r\n"},
        {"ZQNG.EXE", pattern_data(1000, 1, 'a', 5)},
        {"ZQNG_DE.HLP", pattern_data(500, 3, 'a', 9)}};
    std::string work = make_temp_dir("cut-downloads");
    for (const auto &file : files) {
        std::string host = work + "/product/" + file.first;
        std::replace(host.begin(), host.end(), '\\', '/');
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        write_file(host, file.second);
        contents.push_back(file.second);
    }
    const size_t stub_size = 4096;
    const std::string stub = work + "/stub.exe";
    write_file(stub, pe_image(stub_size));
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_EQ(collect_entries({work + "/product"}, &entries, &error), 0) << error;
    ArchiveOptions options = {pack_level_default, true,    built_in_password,
                              stub.c_str(),       nullptr, nullptr};
    ArchiveSummary summary;
    ASSERT_EQ(write_archive((work + "/setup.exe").c_str(), entries, options, &summary, &error), 0)
        << error;
    const std::string installer = read_file(work + "/setup.exe");
    const std::vector<Block> blocks = blocks_of(installer, stub_size);
    ASSERT_EQ(blocks.size(), entries.size() + 1); // and the end block
    ASSERT_EQ(blocks.back().next, installer.size());

    // Every byte of every header; the start, middle and last byte of data.
    std::vector<size_t> cuts = {0, 0x3C, installer.size()};
    for (size_t cut = stub_size; cut < stub_size + 20; ++cut)
        cuts.push_back(cut); // the marker and the main header
    std::vector<size_t> around_headers;
    for (const Block &b : blocks) {
        for (size_t cut = b.start; cut < b.header_end; ++cut)
            cuts.push_back(cut);
        for (size_t cut : {b.header_end, b.header_end + 1, (b.header_end + b.next) / 2, b.next - 1})
            if (cut >= b.header_end && cut < b.next)
                cuts.push_back(cut);
        for (size_t cut : {b.start - 1, b.start, b.start + 1, b.start + 7, b.header_end - 1,
                           b.header_end, (b.header_end + b.next) / 2})
            around_headers.push_back(cut);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    int no_archive = 0, clean = 0, in_header = 0, in_data = 0;
    for (size_t cut : cuts) {
        SCOPED_TRACE(cut);
        ExtractionResult result = run(installer.substr(0, cut));
        Names present = check_run(result);
        // Where the cut falls: in the marker or main header, at a block's
        // start (or the end), in its header, or in its data.
        size_t k = 0;
        while (k < blocks.size() && cut >= blocks[k].next)
            ++k;
        Names before;
        for (size_t i = 0; i < k; ++i) {
            std::string host = blocks[i].name;
            std::replace(host.begin(), host.end(), '\\', '/');
            if (!host.empty())
                before.push_back(host);
        }
        std::sort(before.begin(), before.end());
        std::sort(present.begin(), present.end());
        EXPECT_EQ(present, before);
        int expected;
        Names caption = {"setup.exe"};
        if (cut < stub_size + 20) {
            expected = 2;
            ++no_archive;
        } else if (k == blocks.size() || cut == blocks[k].start) {
            expected = 0;
            caption.clear();
            ++clean;
        } else if (cut < blocks[k].header_end) {
            expected = 2;
            ++in_header;
        } else {
            expected = 3;
            caption = {blocks[k].name};
            ++in_data;
        }
        EXPECT_EQ(result, expected);
        EXPECT_EQ(captions(), caption);
        if (std::find(around_headers.begin(), around_headers.end(), cut) == around_headers.end())
            continue;
        write_file(work + "/cut.exe", installer.substr(0, cut));
        std::string command = "'" ZQ_BINARY_DIR "/zqrar' t --installer '" + work + "/cut.exe' >'" +
                              work + "/out' 2>&1";
        int status = std::system(command.c_str());
        std::string out = read_file(work + "/out");
        // Exit status 4: no archive (in the marker or main header); 1: failed.
        int exit_status = cut < stub_size + 20 ? 4 : expected == 0 ? 0 : 1;
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, exit_status) << out;
        if (exit_status == 1 && expected == 2) {
            EXPECT_NE(out.find("archive cut short or damaged (result 2)"), std::string::npos)
                << out;
        } else if (expected == 3) {
            EXPECT_NE(out.find(blocks[k].name + ": data cut short by the end of the archive"),
                      std::string::npos)
                << out;
        }
    }
    EXPECT_EQ(clean, int(blocks.size()) + 1); // every block's start and the end
    printf("cut downloads: %d before the first block, %d at block boundaries, %d in headers, "
           "%d in data\n",
           no_archive, clean, in_header, in_data);
    remove_tree(work);
}

void put32(std::string &bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = char(value >> (8 * i));
}

// Hostile PE headers in a signed installer: a security directory pointing
// anywhere, sizes that overflow, a table before the archive, a header that
// lies outside the file or is too short. The archive then ends at the file's
// end as without a signature (and the walk goes on into the table, which
// holds a file header where it lands) or, when the table cuts the archive,
// the archive counts as cut there.
TEST_F(BadInputTest, HostileImageHeaders) {
    contents = {"aaaa", "bbbb", "extra"};
    const std::string archive =
        rar_archive({rar_stored_entry("A.TXT", "aaaa"), rar_stored_entry("B.TXT", "bbbb")});
    const size_t stub = 4096 + (8 - archive.size() % 8) % 8; // no padding

    std::string decoy;
    rar_put_file(decoy, rar_stored_entry("EXTRA.TXT", "extra"));
    const size_t pe = 0x80, main_header = stub + 7, first_data = stub + 20 + 32 + 5;
    struct Case {
        const char *what;
        bool pe32;
        size_t at;      // where the change goes: a file offset, or
        size_t entry;   // 1: the security entry + at, 0: at itself
        uint32_t value; // written as 4 bytes; ~0u - 1: the file's size
        ExtractionResult result;
        bool extra; // the walk went on into the table
    };
    const uint32_t file_size = ~0u - 1;
    const Case cases[] = {
        {"a sane PE32+ directory", false, 0, 0, 0, 0, false},
        {"a sane PE32 directory", true, 0, 0, 0, 0, false},
        {"table running past the file's end", false, 0, 1, file_size, 0, true},
        {"table at 2^32 - 8", false, 0, 1, 0xFFFFFFF8, 0, true},
        {"size 2^32 - 1", false, 4, 1, 0xFFFFFFFF, 0, true},
        {"size one past the file's end", false, 4, 1, 1025, 0, true},
        {"size 0", false, 4, 1, 0, 0, true},
        {"table in the program image", false, 0, 1, 0x200, 0, true},
        {"table at the archive's marker", false, 0, 1, uint32_t(stub), 0, true},
        {"table in the main header", false, 0, 1, uint32_t(main_header + 3), 2, false},
        {"table in the first file header", false, 0, 1, uint32_t(stub + 20 + 9), 2, false},
        {"table in the first entry's data", false, 0, 1, uint32_t(first_data + 2), 3, false},
        {"PE header beyond the file", false, 0x3C, 0, 0xFFFFFFF0, 0, true},
        {"PE header cut by the file's end", false, 0x3C, 0, file_size, 0, true},
        {"no PE signature", false, pe, 0, 0x00004550 ^ 0x20, 0, true},
        {"optional header too short", false, pe + 20, 0, 0x00220097, 0, true},
        {"four data directories", false, pe + 24 + 108, 0, 4, 0, true},
        {"unknown optional header", false, pe + 24, 0, 0x0107, 0, true},
        {"no MZ", false, 0, 0, 0x00005A4E, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = pe_image(stub, !c.pe32) + archive;
        size_t table = pe_append_certificate_table(file, 1024, decoy);
        ASSERT_EQ(table % 8, 0u);
        ASSERT_NE(file.find(decoy), std::string::npos);
        if (c.entry || c.value) {
            uint32_t value = c.value == file_size ? uint32_t(file.size() - 2) : c.value;
            put32(file, c.entry ? pe_security_entry(file) + c.at : c.at, value);
        }
        ExtractionResult result = run(file);
        Names present = check_run(result);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(std::count(present.begin(), present.end(), "EXTRA.TXT"), c.extra ? 1 : 0);
        EXPECT_EQ(present.size(), c.result == 0 ? 2u + c.extra : 0u);
        EXPECT_EQ(captions(), c.result == 2   ? Names{"setup.exe"}
                              : c.result == 3 ? Names{"A.TXT"}
                                              : Names{});
    }
}

// Every bit of every header field, flipped one at a time. Fields whose
// effect the driver's rules fix get their result checked too.
TEST_F(BadInputTest, FlippedBitInEveryHeaderField) {
    const std::string first = pattern_data(300, 3, 'a', 5);
    const std::string second = "second file";
    contents = {first, second};
    std::string archive;
    rar_put_marker(archive);
    rar_put_main_header(archive, RarMainEntry());
    const size_t header = archive.size();
    rar_put_file(archive, rar_stored_entry("FIRST.TXT", first));
    rar_put_file(archive, rar_stored_entry("NEXT.TXT", second));
    rar_put_end(archive);
    ASSERT_EQ(run(archive), 0);

    struct Field {
        const char *name;
        size_t offset; // from the start of the file header
        size_t width;
        int result; // for every flip; -100: any of the driver's results
    };
    const Field fields[] = {
        {"head_crc", 0, 2, 0},       {"head_type", 2, 1, 0},    {"head_flags", 3, 2, -100},
        {"head_size", 5, 2, -100},   {"pack_size", 7, 4, -100}, {"unp_size", 11, 4, -100},
        {"host_os", 15, 1, 0},       {"file_crc", 16, 4, 3},    {"file_time", 20, 4, 0},
        {"unp_ver", 24, 1, -100},    {"method", 25, 1, 3},      {"name_size", 26, 2, -100},
        {"attributes", 28, 4, -100}, {"name", 32, 9, -100},
    };
    for (const Field &field : fields) {
        for (size_t bit = 0; bit < field.width * 8; ++bit) {
            SCOPED_TRACE(testing::Message() << field.name << " bit " << bit);
            std::string damaged = archive;
            damaged[header + field.offset + bit / 8] ^= char(1 << (bit % 8));
            ExtractionResult result = run(damaged);
            check_run(result);
            if (field.result != -100) {
                EXPECT_EQ(result, field.result);
            }
            if (std::string(field.name) == "unp_ver") {
                int version = 20 ^ (1 << bit);
                EXPECT_EQ(result, version >= 13 && version <= 20 ? 0 : 1) << version;
            }
        }
    }
    // The main header's fields: its checksum and flags only change the
    // record; its size moves the first block.
    for (size_t byte = 7; byte < header; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string damaged = archive;
            damaged[byte] ^= char(1 << bit);
            check_run(run(damaged));
        }
    }
}

// Claimed sizes of 0, 2^31 - 1, 2^31 and 2^32 - 1 for the packed and the
// unpacked size, stored and compressed.
TEST_F(BadInputTest, ExtremeSizes) {
    const std::string data = pattern_data(1000, 4, 'a', 5);
    contents = {data, ""};
    struct Case {
        bool compressed;
        int64_t pack_size; // -1: the real size
        int64_t unp_size;  // -1: the real size
        ExtractionResult result;
        bool written;
    };
    const Case cases[] = {
        {false, -1, 0, 3, false},
        // All the data there is, far short of the size: a cut file, whatever
        // its checksum says.
        {false, -1, 0x7FFFFFFF, 3, false},
        {false, -1, 0x80000000, 3, false},
        {false, -1, 0xFFFFFFFF, 3, false},
        {false, 0, -1, 3, false},
        // Data running past the archive's end: the entry cannot be complete.
        {false, 100000, -1, 3, false},
        // The next block would lie beyond 2 GiB: no position of this archive.
        {false, 0x7FFFFFFF, -1, 2, false},
        {false, 0x80000000, -1, 2, false},
        {false, 0xFFFFFFFF, -1, 2, false},
        {true, -1, 0, 3, false},
        {true, -1, 0x7FFFFFFF, 3, false},
        {true, -1, 0x80000000, 3, false},
        {true, -1, 0xFFFFFFFF, 3, false},
        {true, 0, -1, 3, false},
        {true, 100000, -1, 3, false},
        {true, 0x7FFFFFFF, -1, 2, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.compressed ? "compressed" : "stored") << " pack "
                                        << c.pack_size << " unp " << c.unp_size);
        RarFileEntry entry =
            c.compressed ? compressed_entry("SIZE.BIN", data) : rar_stored_entry("SIZE.BIN", data);
        if (c.pack_size >= 0)
            entry.pack_size = c.pack_size;
        if (c.unp_size >= 0)
            entry.unp_size = c.unp_size;
        ExtractionResult result = run(rar_archive({entry}));
        check_run(result);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(exists(in_target("SIZE.BIN")), c.written);
        EXPECT_EQ(captions(), c.result == 3   ? Names{"SIZE.BIN"}
                              : c.result == 2 ? Names{"setup.exe"}
                                              : Names{});
    }
    // Empty and claiming to be empty.
    ExtractionResult result = run(rar_archive({rar_stored_entry("EMPTY", "")}));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file(in_target("EMPTY")), "");
}

TEST_F(BadInputTest, HostileNames) {
    contents = {"data"};
    const std::string long259(259, 'n');
    const std::string long300(300, 'm');
    const std::string fits(249, 'f'); // "D:\Target\" + 249 = 259 characters
    struct Case {
        std::string name;
        ExtractionResult result;
        std::string written; // below the target, "" for nothing
        std::string caption; // "" for no message
    };
    const Case cases[] = {
        {"..\\UP.TXT", 4, "", "..\\UP.TXT"},
        {"SUB\\..\\..\\UP.TXT", 4, "", "SUB\\..\\..\\UP.TXT"},
        {"C:\\DRIVE.TXT", 4, "", "C:\\DRIVE.TXT"},
        {"C:DRIVE.TXT", 4, "", "C:DRIVE.TXT"},
        {"\\ROOT.TXT", 4, "", "\\ROOT.TXT"},
        {"/ROOT.TXT", 4, "", "\\ROOT.TXT"},
        {"FILE.TXT:stream", 4, "", "FILE.TXT:stream"},
        {long259, 1, "", long259},
        {long300, 1, "", long300.substr(0, 259)},
        {fits, 0, fits, ""},
        {std::string("CTRL\x01\x1f.TXT"), 0, std::string("CTRL\x01\x1f.TXT"), ""},
        {std::string("TAB\t.TXT"), 0, std::string("TAB\t.TXT"), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.size() > 40 ? std::to_string(c.name.size()) + " bytes" : c.name);
        RarFileEntry entry = rar_stored_entry(c.name, "data");
        ExtractionResult result = run(rar_archive({entry, rar_stored_entry("AFTER.TXT", "data")}));
        Names present = check_run(result);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(captions(), c.caption.empty() ? Names{} : Names{c.caption});
        if (c.result != 0) {
            EXPECT_TRUE(present.empty());
        } else {
            EXPECT_TRUE(exists(in_target(c.written)));
            EXPECT_TRUE(exists(in_target("AFTER.TXT")));
        }
    }
}

// A folder entry that carries data: passed over as a folder, and the next
// header is read where it begins, not inside that data.
TEST_F(BadInputTest, FolderEntryWithData) {
    contents = {"next"};
    RarFileEntry folder = rar_stored_entry("DIR", pattern_data(5000, 6, 'a', 5));
    folder.attributes = 0x10;
    RarFileEntry unix_folder = rar_stored_entry("UDIR", rar_archive({rar_stored_entry("X", "x")}));
    unix_folder.host_os = 3;
    unix_folder.flags |= 0x00E0;
    for (const RarFileEntry &entry : {folder, unix_folder}) {
        SCOPED_TRACE(entry.name);
        ExtractionResult result = run(rar_archive({entry, rar_stored_entry("NEXT.TXT", "next")}));
        EXPECT_EQ(check_run(result), Names{"NEXT.TXT"});
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(captions().empty());
    }
}

TEST_F(BadInputTest, ThousandsOfEntries) {
    std::vector<RarFileEntry> entries;
    for (int i = 0; i < 3000; ++i) {
        std::string name = "F" + std::to_string(i);
        contents.push_back(name);
        entries.push_back(rar_stored_entry("SUB" + std::to_string(i % 7) + "\\" + name, name));
    }
    // And as many empty folder entries between them.
    std::vector<RarFileEntry> mixed;
    for (const RarFileEntry &entry : entries) {
        RarFileEntry folder = rar_stored_entry(entry.name + ".D", "");
        folder.attributes = 0x10;
        mixed.push_back(folder);
        mixed.push_back(entry);
    }
    ExtractionResult result = run(rar_archive(mixed));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(check_run(result).size(), 3000u);
}

// Packed data that decodes to far more than the entry claims: the decoder
// stops at the entry's size (a match that crosses it is finished), the file
// fails its check and the run ends; and a size far beyond what the packed
// data gives: the decoder stops when the data is used up.
TEST_F(BadInputTest, ZipBombShapes) {
    const std::string zeros(4 << 20, '\0');
    contents = {std::string(1000, '\0')};
    RarFileEntry bomb = compressed_entry("BOMB.BIN", zeros);
    bomb.unp_size = 1000;
    bomb.file_crc = rar_crc32(zeros);
    ExtractionResult result = run(rar_archive({bomb, rar_stored_entry("AFTER", "x")}));
    EXPECT_EQ(result, 3);
    EXPECT_TRUE(check_run(result).empty());
    EXPECT_EQ(captions(), Names{"BOMB.BIN"});

    RarFileEntry claims = compressed_entry("CLAIMS.BIN", std::string(1000, '\0'));
    claims.unp_size = 0x7FFFFFF0;
    result = run(rar_archive({claims, rar_stored_entry("AFTER", "x")}));
    EXPECT_EQ(result, 3);
    EXPECT_TRUE(check_run(result).empty());
}

// The same name twice: the second entry replaces the first, in any letter
// case; when the second fails its check, neither stays.
TEST_F(BadInputTest, SameNameTwice) {
    contents = {"first", "second"};
    ExtractionResult result = run(rar_archive(
        {rar_stored_entry("SAME.TXT", "first"), rar_stored_entry("same.txt", "second")}));
    EXPECT_EQ(result, 0);
    // The old file goes and the new one takes the second entry's spelling.
    EXPECT_EQ(check_run(result), Names{"same.txt"});
    EXPECT_EQ(read_file(in_target("same.txt")), "second");

    RarFileEntry bad = rar_stored_entry("SAME.TXT", "second");
    bad.file_crc ^= 1;
    result = run(rar_archive({rar_stored_entry("SAME.TXT", "first"), bad}));
    EXPECT_EQ(result, 3);
    EXPECT_TRUE(check_run(result).empty());
}

// Windows also reserves COM0, LPT0 and the ports written with the Latin-1
// superscript digits (0xB9, 0xB2, 0xB3): in any folder, such a name opens
// a device.
TEST_F(BadInputTest, ReservedDeviceNamesOfEveryForm) {
    contents = {"data"};
    const std::string names[] = {"COM0", "LPT0.TXT", "SUB\\COM\xB9", "LPT\xB2.LOG", "com\xB3"};
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        ExtractionResult result = run(rar_archive({rar_stored_entry(name, "data")}));
        EXPECT_EQ(result, 4);
        EXPECT_TRUE(check_run(result).empty());
    }
}

// File headers whose data is not where a file's data is: without the data
// flag 0x8000 (whatever pack_size claims; 2^31 and more once made the data
// position overflow, found by fuzz_extract), or with a head_size that puts
// the data inside the header. Either is a damaged archive: otherwise any
// number of small headers could point back at one compressed stream and
// decode it again and again.
TEST_F(BadInputTest, FileHeaderWithoutItsOwnData) {
    const std::string data = pattern_data(2000, 8, 'a', 5);
    contents = {data, "after"};
    const RarFileEntry stream = compressed_entry("STREAM.BIN", data);
    std::vector<std::vector<RarFileEntry>> archives;
    for (int64_t pack_size : {int64_t(0), int64_t(0x7FFFFFFF), int64_t(0x80000000),
                              int64_t(0xFFFFFFFF), int64_t(stream.packed.size())}) {
        RarFileEntry no_flag = stream;
        no_flag.name = "NOFLAG.BIN";
        no_flag.flags = 0;
        no_flag.pack_size = pack_size;
        no_flag.packed.clear();
        archives.push_back({stream, no_flag, rar_stored_entry("AFTER.TXT", "after")});
    }
    for (int32_t head_size : {7, 31, 32 + 7}) {
        RarFileEntry inside = rar_stored_entry("INSIDE.BIN", "after");
        inside.head_size = head_size;
        archives.push_back({inside});
    }
    for (const std::vector<RarFileEntry> &entries : archives) {
        SCOPED_TRACE(testing::Message()
                     << entries.back().name << " head_size " << entries.back().head_size
                     << " pack_size " << entries.back().pack_size);
        ExtractionResult result = run(rar_archive(entries));
        Names present = check_run(result);
        EXPECT_EQ(result, 2);
        EXPECT_EQ(captions(), Names{"setup.exe"});
        EXPECT_LE(present.size(), 1u);
    }
}

} // namespace
