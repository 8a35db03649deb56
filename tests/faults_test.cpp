// The extraction driver when the system fails it, through the host layer's
// fault injection: archive reads that fail or end early at every kind of
// position, a disk that fills up, output files or folders that cannot be
// created, files that cannot be removed, attribute and time calls that fail.
// For each the result and the message are the driver's, nothing appears
// outside the target folder, and every file left in the target is complete
// and verified.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "platform/host/host_files.h"
#include "platform/win32_api.h"
#include "setup/setup_state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/entry_data.h"
#include "tests/support/extraction_fixture.h"
#include "tests/support/test_paths.h"
#include "tests/winmodel/dialog.h"
#include "tests/winmodel/faults.h"

namespace {

struct Entry {
    std::string name; // in the archive
    std::string host; // below the target folder
    std::string data;
};

// A stored, a compressed entry in a folder and a compressed one: three
// files, with the offsets where each entry's header and data begin.
struct FaultArchive {
    std::vector<Entry> entries;
    std::vector<size_t> header_at;
    std::vector<size_t> data_at;
    std::string bytes;
};

FaultArchive fault_archive() {
    FaultArchive archive;
    archive.entries = {{"A.TXT", "A.TXT", pattern_data(3000, 1, 'A', 7)},
                       {"SUB\\B.BIN", "SUB/B.BIN", pattern_data(20000, 2, 'A', 7)},
                       {"C.TXT", "C.TXT", pattern_data(9000, 3, 'A', 7)}};
    rar_put_marker(archive.bytes);
    rar_put_main_header(archive.bytes, RarMainEntry());
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        const Entry &entry = archive.entries[i];
        RarFileEntry item = i == 0 ? rar_stored_entry(entry.name, entry.data)
                                   : compressed_entry(entry.name, entry.data);
        archive.header_at.push_back(archive.bytes.size());
        archive.data_at.push_back(archive.bytes.size() + 32 + entry.name.size());
        rar_put_file(archive.bytes, item);
    }
    archive.header_at.push_back(archive.bytes.size());
    rar_put_end(archive.bytes);
    return archive;
}

struct FaultsTest : ExtractionFixture {
    FaultArchive archive = fault_archive();

    void SetUp() override {
        ExtractionFixture::SetUp();
        host_faults_clear();
        write_file(setup_path(), archive.bytes);
    }
    void TearDown() override {
        host_faults_clear();
        ExtractionFixture::TearDown();
    }

    ExtractionResult run() {
        strcpy(target, "D:\\Target");
        return extract_archive(nullptr, setup_path().c_str(), target);
    }

    // Nothing outside the target; each file in it is one of the archive's,
    // complete and correct. Returns the names present.
    std::vector<std::string> check_target() const {
        std::vector<std::string> files = target_files();
        for (const std::string &file : files) {
            const Entry *known = nullptr;
            for (const Entry &entry : archive.entries)
                if (entry.host == file)
                    known = &entry;
            if (!known) {
                ADD_FAILURE() << "unexpected file " << file;
                continue;
            }
            EXPECT_TRUE(read_file(in_target(file)) == known->data)
                << file << " is not complete and correct";
        }
        return files;
    }
    // The captions of the messages shown, each of them the driver's error.
    std::vector<std::string> captions() const {
        for (const HostMessageBox &box : host_message_boxes()) {
            EXPECT_EQ(box.text, "Cannot install file.");
            EXPECT_EQ(box.type, UINT(MB_ICONERROR));
        }
        return ExtractionFixture::captions();
    }
};

using Names = std::vector<std::string>;

TEST_F(FaultsTest, NoFaultExtractsEverything) {
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(check_target().size(), 3u);
    EXPECT_TRUE(captions().empty());
}

// The archive's reads end early, or fail, at positions in every kind of
// block: the result follows from where the reads stopped.
TEST_F(FaultsTest, ArchiveReadsEndEarlyOrFail) {
    std::vector<size_t> cuts = {0, 6, 7, 12, 19, 20};
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        size_t header = archive.header_at[i];
        size_t data = archive.data_at[i];
        size_t end = archive.header_at[i + 1];
        for (size_t cut :
             {header + 1, header + 31, header + 32, data - 1, data, data + 1, (data + end) / 2})
            cuts.push_back(cut);
    }
    // The packer's last byte of a compressed piece may be padding the decoder
    // never needs; the stored entry's last byte is data.
    cuts.push_back(archive.header_at[1] - 1);
    cuts.push_back(archive.header_at.back());
    cuts.push_back(archive.bytes.size() - 1);
    for (bool fails : {false, true}) {
        for (size_t cut : cuts) {
            SCOPED_TRACE(testing::Message() << "cut at " << cut << (fails ? ", error" : ", end"));
            reset_target();
            host_faults_clear();
            host_fault_streams("setup.exe", int64_t(cut), fails, -1);
            ExtractionResult result = run();
            std::vector<std::string> present = check_target();
            size_t k = 0;
            while (k < archive.entries.size() && cut >= archive.header_at[k + 1])
                ++k;
            // Entries before the one cut are there; nothing after it.
            EXPECT_EQ(present.size(), k);
            if (k == archive.entries.size() || cut < archive.data_at[k]) {
                // The reads end within the marker, a header or a name, though
                // the file goes on: a damaged archive, whether the read
                // failed or met an early end.
                EXPECT_EQ(result, 2);
                EXPECT_EQ(captions(), Names{"setup.exe"});
            } else {
                // Cut within the entry's data: its checksum fails, the
                // partial file is removed.
                EXPECT_EQ(result, 3);
                EXPECT_EQ(captions(), Names{archive.entries[k].name});
                EXPECT_FALSE(exists(in_target(archive.entries[k].host)));
            }
        }
    }
}

// The disk fills up while an entry is written: the entry fails with the
// message naming it, the partial file is removed, the run ends there.
TEST_F(FaultsTest, DiskFull) {
    struct Case {
        const char *path;
        int64_t limit;
        size_t entry;
    };
    const Case cases[] = {
        {"A.TXT", 0, 0},     {"A.TXT", 1, 0},    {"A.TXT", 2999, 0},
        {"B.BIN", 0, 1},     {"B.BIN", 4095, 1}, {"B.BIN", 4096, 1},
        {"B.BIN", 19999, 1}, {"C.TXT", 100, 2},  {"Target", 5000, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.path << " full after " << c.limit);
        reset_target();
        host_faults_clear();
        host_fault_streams(c.path, -1, false, c.limit);
        EXPECT_EQ(run(), 3);
        EXPECT_GT(host_fault_stream_count(), 0);
        EXPECT_EQ(captions(), Names{archive.entries[c.entry].name});
        EXPECT_EQ(check_target().size(), c.entry);
        EXPECT_FALSE(exists(in_target(archive.entries[c.entry].host)));
    }
}

// An output file or its folder cannot be created: the message names the
// path, the entry is decoded only, and the run ends with 1 after it.
TEST_F(FaultsTest, CreationRefused) {
    struct Case {
        int kind;
        const char *path;
        size_t entry;
    };
    const Case cases[] = {
        {host_fault_create_file, "A.TXT", 0},
        {host_fault_create_file, "B.BIN", 1},
        {host_fault_create_file, "C.TXT", 2},
        {host_fault_create_directory, "SUB", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        reset_target();
        host_faults_clear();
        host_fault_arm(c.kind, c.path);
        EXPECT_EQ(run(), 1);
        EXPECT_GT(host_fault_count(c.kind), 0);
        EXPECT_EQ(captions(), Names{"D:\\Target\\" + archive.entries[c.entry].name});
        EXPECT_EQ(check_target().size(), c.entry);
        EXPECT_FALSE(exists(in_target(archive.entries[c.entry].host)));
    }
}

// A file that cannot be removed: an old copy in the way is not written
// through (the new file is created afresh, never over what stands there), so
// the entry fails as one that cannot be created; an unwanted language file
// stays, without a message.
TEST_F(FaultsTest, ExistingFileCannotBeRemoved) {
    const std::string old_copy = "an older copy of the file";
    write_file(in_target("A.TXT"), old_copy);
    host_fault_arm(host_fault_remove, "A.TXT");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(read_file(in_target("A.TXT")), old_copy);
    EXPECT_EQ(captions(), Names{"D:\\Target\\A.TXT"});

    reset_target();
    host_faults_clear();
    language_table[1].selected = 0;
    write_file(in_target("ZQNG_US.HLP"), "old");
    write_file(root + "/setup.exe", rar_archive({rar_stored_entry("ZQNG_US.HLP", "new")}));
    host_fault_arm(host_fault_remove, "ZQNG_US.HLP");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(read_file(in_target("ZQNG_US.HLP")), "old");
    EXPECT_GT(host_fault_count(host_fault_remove), 0);
    EXPECT_TRUE(captions().empty());
}

// Failing attribute and time calls are not reported and spoil nothing: for
// every file, or (the handle that carries them cannot be opened) for the
// first file, whose creation goes first.
TEST_F(FaultsTest, AttributeAndTimeCallsFail) {
    const struct {
        int kind;
        const char *path;
        int pass;
        int strikes;
    } cases[] = {
        {host_fault_set_attributes, "", 0, 3},
        {host_fault_set_time, "", 0, 3},
        {host_fault_create_file, "A.TXT", 1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        reset_target();
        host_faults_clear();
        host_fault_arm(c.kind, c.path, c.pass);
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(host_fault_count(c.kind), c.strikes);
        EXPECT_EQ(check_target().size(), 3u);
        EXPECT_TRUE(captions().empty());
    }
}

// A file that fails its checksum and then cannot be removed must not stay
// behind looking like an installed file: it is emptied.
TEST_F(FaultsTest, UnverifiedFileThatCannotBeRemoved) {
    FaultArchive damaged;
    damaged.entries = {{"BAD.TXT", "BAD.TXT", pattern_data(5000, 4, 'A', 7)}};
    RarFileEntry item = rar_stored_entry("BAD.TXT", damaged.entries[0].data);
    item.file_crc ^= 1;
    write_file(root + "/setup.exe", rar_archive({item}));
    host_fault_arm(host_fault_remove, "BAD.TXT");
    EXPECT_EQ(run(), 3);
    EXPECT_EQ(captions(), Names{"BAD.TXT"});
    EXPECT_GT(host_fault_count(host_fault_remove), 0);
    EXPECT_TRUE(!exists(in_target("BAD.TXT")) || read_file(in_target("BAD.TXT")).empty());
}

// A read that fails where the next header begins is no end of the archive:
// the files after it are missing, so the run fails as for an unreadable
// archive.
TEST_F(FaultsTest, ReadErrorAtAHeaderIsNoEndOfArchive) {
    host_fault_streams("setup.exe", int64_t(archive.header_at[1]), true, -1);
    EXPECT_EQ(run(), 2);
    EXPECT_EQ(captions(), Names{"setup.exe"});
    EXPECT_EQ(check_target().size(), 1u);
}

} // namespace
