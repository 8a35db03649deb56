// Damaged and hostile archives against the whole extraction: an archive cut
// at every byte, a flipped bit in every header field, sizes of 0, 2^31 - 1
// and 2^31 and more, names that leave the target or do not fit, a folder
// entry with data, thousands of entries, an entry whose packed data decodes
// to far more than its size, and the same name twice.
//
// Whatever the input: the run ends with one of the driver's results, nothing
// appears outside the target folder, and every file left in the target is
// one of the archive's files, complete and verified.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "platform/win32_api.h"
#include "setup/setup_state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/entry_data.h"
#include "tests/support/test_paths.h"

namespace {

using Names = std::vector<std::string>;

struct BadInputTest : testing::Test {
    std::string root;
    char target[MAX_PATH] = "D:\\Target";
    std::vector<std::string> contents; // every file content the archive may yield

    void SetUp() override {
        root = make_temp_dir("bad-input");
        ASSERT_FALSE(root.empty());
        host_set_root(root.c_str());
        ui_language = 1;
        strcpy(product_file_base, "ZQNG");
        reset_target();
    }
    void TearDown() override {
        strcpy(product_file_base, "ZQNG*.*");
        ui_language = 0;
        remove_tree(root);
    }
    void reset_target() {
        remove_tree(root + "/D");
        mkdir((root + "/D").c_str(), 0777);
        mkdir((root + "/D/Target").c_str(), 0777);
        host_message_boxes().clear();
    }
    ExtractionResult run(const std::string &archive) {
        reset_target();
        write_file(root + "/setup.exe", archive);
        strcpy(target, "D:\\Target");
        return extract_archive(nullptr, (root + "/setup.exe").c_str(), target);
    }
    std::string in_target(const std::string &host) const { return root + "/D/Target/" + host; }
    bool exists(const std::string &host) const {
        struct stat info;
        return stat(in_target(host).c_str(), &info) == 0;
    }
    // The invariants every run keeps; returns the files in the target.
    Names check_run(ExtractionResult result) const {
        const ExtractionResult known[] = {0, 1, 2, 3, 4, 9, -1};
        EXPECT_NE(std::find(std::begin(known), std::end(known), result), std::end(known))
            << "result " << result;
        Names everything;
        list_files(root, "", &everything);
        for (const std::string &file : everything)
            EXPECT_TRUE(file == "setup.exe" || file.rfind("D/Target/", 0) == 0)
                << "written outside the target: " << file;
        Names files;
        list_files(root + "/D/Target", "", &files);
        for (const std::string &file : files) {
            std::string data = read_file(in_target(file));
            EXPECT_NE(std::find(contents.begin(), contents.end(), data), contents.end())
                << file << " holds bytes that are no file of the archive";
        }
        return files;
    }
    Names captions() const {
        Names result;
        for (const HostMessageBox &box : host_message_boxes())
            result.push_back(box.caption);
        return result;
    }
};

// A stored, a compressed and a solid entry, a comment block and the end.
TEST_F(BadInputTest, TruncatedAtEveryByte) {
    std::vector<std::pair<std::string, std::string>> files = {
        {"A.TXT", pattern_data(150, 1, 'a', 5)},
        {"B.TXT", pattern_data(400, 2, 'a', 5)},
        {"C", "ccc"}};
    for (const auto &file : files)
        contents.push_back(file.second);
    std::string archive;
    rar_put_marker(archive);
    rar_put_main_header(archive, RarMainEntry());
    rar_put_file(archive, rar_stored_entry("A.TXT", files[0].second));
    rar_put_block(archive, RarBlockEntry{0x75, 0, -1, "comment", -1, -1, ""});
    rar_put_file(archive, compressed_entry("B.TXT", files[1].second));
    rar_put_file(archive, compressed_entry("C", files[2].second));
    rar_put_end(archive);
    ASSERT_EQ(run(archive), 0);
    ASSERT_EQ(check_run(0).size(), 3u);
    for (size_t cut = 0; cut < archive.size(); ++cut) {
        SCOPED_TRACE(cut);
        ExtractionResult result = run(archive.substr(0, cut));
        Names present = check_run(result);
        if (cut < 20) {
            EXPECT_EQ(result, 2);
        }
        EXPECT_LE(present.size(), 3u);
        if (result == 3) {
            EXPECT_EQ(captions().size(), 1u);
        }
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
        {false, -1, 0x7FFFFFFF, 0, true}, // all the data there is, and it verifies
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
        EXPECT_EQ(exists("SIZE.BIN"), c.written);
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
            EXPECT_TRUE(exists(c.written));
            EXPECT_TRUE(exists("AFTER.TXT"));
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

// A file header without the data flag 0x8000 has no data after it, whatever
// its pack_size field says; a pack_size of 2^31 or more must not make the
// data position overflow (found by fuzz_extract; UBSan reported the signed
// difference next_block - pack_size).
TEST_F(BadInputTest, PackSizeOfAHeaderWithoutDataFlag) {
    contents = {"", "after"};
    for (int64_t pack_size : {int64_t(0x80000000), int64_t(0xFFFFFFFF), int64_t(0x7FFFFFFF)}) {
        SCOPED_TRACE(pack_size);
        RarFileEntry entry = rar_stored_entry("NOFLAG.BIN", "");
        entry.flags = 0;
        entry.pack_size = pack_size;
        entry.unp_size = 0;
        ExtractionResult result = run(rar_archive({entry, rar_stored_entry("AFTER.TXT", "after")}));
        check_run(result);
    }
}

} // namespace
