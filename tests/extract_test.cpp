// The extraction driver on the host model of Windows, in a temporary root:
// the language filter, the settings file, folders, checksums, results and
// messages, and the hostile cases (names leaving the target folder, overlong
// paths, volumes, disk full).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/extraction_context.h"
#include "archive/rar_format.h"
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
#include "tests/winmodel/faults.h"

namespace {

std::string pattern_data(size_t size, uint32_t seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = char(seed >> 24);
    }
    return data;
}

void append_piece(void *user, const uint8_t *data, size_t n) {
    static_cast<std::string *>(user)->append(reinterpret_cast<const char *>(data), n);
}

void piece_done(void *, uint64_t) {}

// The files as one solid stream, each piece enciphered under password (none
// when empty); a name in stored_names becomes a stored entry outside the
// stream.
std::vector<RarFileEntry>
solid_entries(const std::vector<std::pair<std::string, std::string>> &files, const char *password,
              const std::vector<std::string> &stored_names) {
    std::vector<RarFileEntry> entries(files.size());
    LzEncoder *encoder = lz_encoder_create(pack_level_fast);
    EXPECT_NE(encoder, nullptr);
    std::vector<int> solid(files.size(), 0);
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string &data = files[i].second;
        if (std::find(stored_names.begin(), stored_names.end(), files[i].first) !=
            stored_names.end()) {
            entries[i] = rar_stored_entry(files[i].first, data);
            continue;
        }
        solid[i] = lz_begin_file(encoder, 1, password[0] ? 16 : 1,
                                 PieceSink{&entries[i].packed, append_piece, piece_done});
        lz_feed(encoder, reinterpret_cast<const uint8_t *>(data.data()), data.size());
        lz_end_file(encoder);
        entries[i].method = 0x33;
    }
    lz_flush(encoder);
    lz_encoder_free(encoder);
    for (size_t i = 0; i < files.size(); ++i) {
        RarFileEntry &entry = entries[i];
        entry.name = files[i].first;
        entry.file_crc = rar_crc32(files[i].second);
        entry.unp_size = int64_t(files[i].second.size());
        if (entry.method != 0x30 && solid[i])
            entry.flags |= 0x0010;
        if (!password[0])
            continue;
        RarFileEntry sealed = encrypted_entry(entry.name, entry.packed, password);
        entry.flags |= 0x0004;
        entry.packed = sealed.packed;
    }
    return entries;
}

struct ExtractTest : ExtractionFixture {
    ExtractionResult run(const std::string &archive, const ExtractOptions *options = nullptr) {
        write_file(setup_path(), archive);
        return extract_archive_ex(nullptr, setup_path().c_str(), target, options);
    }
    std::vector<std::string> progress() const {
        std::vector<std::string> names;
        for (const auto &entry : host_control_text_log()) {
            EXPECT_EQ(entry.first, 107);
            names.push_back(entry.second);
        }
        return names;
    }
};

TEST_F(ExtractTest, LanguageFilter) {
    // Only German ticked: the other languages' files are decoded, not written,
    // and copies an earlier installation left are removed.
    language_table[0].selected = 1;
    language_table[1].selected = 0;
    language_table[2].selected = 0;
    write_file(in_target("ZQNG_US.HLP"), "old us");
    write_file(in_target("zqng_fr.hlp"), "old fr");
    std::vector<RarFileEntry> entries = {
        rar_stored_entry("ZQNG.DAT", "data"),
        rar_stored_entry("ZQNG_DE.HLP", "german"),
        rar_stored_entry("ZQNG_US.HLP", "english"),
        rar_stored_entry("ZQNG_FR.HLP", "french"),
        rar_stored_entry("ZQNG_FRA.HLP", "always"),
        rar_stored_entry("zqng_de.txt", "german too"),
        rar_stored_entry("Zqng_Us.Lng", "english too"),
        rar_stored_entry("ZQNG_XX", "no dot at 7"),
    };
    ASSERT_EQ(run(rar_archive(entries)), 0);
    const struct {
        const char *name;
        const char *contents; // nullptr: absent
    } expected[] = {
        {"ZQNG.DAT", "data"},          {"ZQNG_DE.HLP", "german"}, {"ZQNG_US.HLP", nullptr},
        {"zqng_fr.hlp", nullptr},      {"ZQNG_FR.HLP", nullptr},  {"ZQNG_FRA.HLP", "always"},
        {"zqng_de.txt", "german too"}, {"Zqng_Us.Lng", nullptr},  {"ZQNG_XX", "no dot at 7"},
    };
    for (const auto &e : expected) {
        EXPECT_EQ(exists(in_target(e.name)), e.contents != nullptr) << e.name;
        if (e.contents) {
            EXPECT_EQ(read_file(in_target(e.name)), e.contents) << e.name;
        }
    }
    std::vector<std::string> names;
    for (const RarFileEntry &entry : entries)
        names.push_back(entry.name);
    EXPECT_EQ(progress(), names); // every entry is shown, written or not
    EXPECT_TRUE(host_message_boxes().empty());
}

TEST_F(ExtractTest, FurtherLanguagesFollowTheirOwnBox) {
    language_table[0].selected = 0;
    language_table[1].selected = 2; // any nonzero value selects
    language_table[2].selected = 1;
    write_file(in_target("ZQNG_DE.HLP"), "old de");
    ASSERT_EQ(run(rar_archive({rar_stored_entry("ZQNG_DE.HLP", "de"),
                               rar_stored_entry("ZQNG_US.HLP", "us"),
                               rar_stored_entry("zqng_it.hlp", "it")})),
              0);
    EXPECT_FALSE(exists(in_target("ZQNG_DE.HLP")));
    EXPECT_EQ(read_file(in_target("ZQNG_US.HLP")), "us");
    EXPECT_EQ(read_file(in_target("zqng_it.hlp")), "it");
}

TEST_F(ExtractTest, UncutProductBaseStillFilters) {
    strcpy(product_file_base, "ZQNG*.*");
    language_table[1].selected = 0;
    ASSERT_EQ(run(rar_archive({rar_stored_entry("ZQNG_US.HLP", "us")})), 0);
    EXPECT_FALSE(exists(in_target("ZQNG_US.HLP")));
}

TEST_F(ExtractTest, SettingsFileIsKept) {
    write_file(in_target("NAVGZIP.SET"), "user settings");
    RarFileEntry settings = rar_stored_entry("NAVGZIP.SET", "factory settings");
    settings.file_time = rar_dos_time(2006, 7, 15, 22, 0, 22);
    settings.attributes = 0x21;
    ASSERT_EQ(run(rar_archive({settings})), 0);
    EXPECT_EQ(read_file(in_target("NAVGZIP.SET")), "user settings");
    struct stat info;
    ASSERT_EQ(stat(in_target("NAVGZIP.SET").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1153000822);
    EXPECT_EQ(GetFileAttributesA("D:\\Target\\NAVGZIP.SET"), DWORD(0x21));

    // Without one in the target it is written like any other file.
    SetFileAttributesA("D:\\Target\\NAVGZIP.SET", 0x20);
    remove(in_target("NAVGZIP.SET").c_str());
    strcpy(target, "D:\\Target");
    ASSERT_EQ(run(rar_archive({rar_stored_entry("NAVGZIP.SET", "factory settings")})), 0);
    EXPECT_EQ(read_file(in_target("NAVGZIP.SET")), "factory settings");
}

TEST_F(ExtractTest, OtherLetterCaseIsNotTheSettingsFile) {
    write_file(in_target("NAVGZIP.SET"), "user settings");
    ASSERT_EQ(run(rar_archive({rar_stored_entry("navgzip.set", "new")})), 0);
    // The drive model finds the existing file under either spelling.
    EXPECT_EQ(read_file(host_path("D:\\Target\\navgzip.set")), "new");
    EXPECT_EQ(read_file(host_path("D:\\Target\\NAVGZIP.SET")), "new");
}

TEST_F(ExtractTest, FoldersEmptyFilesAndProgress) {
    RarFileEntry folder = rar_stored_entry("EMPTY", "");
    folder.attributes = 0x10;
    RarFileEntry unix_folder = rar_stored_entry("UNIXDIR", "");
    unix_folder.host_os = 3;
    unix_folder.flags = 0x80E0;
    unix_folder.attributes = 0x41ED;
    RarFileEntry empty = rar_stored_entry("EMPTY.TXT", "");
    ASSERT_EQ(empty.file_crc, 0u);
    ASSERT_EQ(run(rar_archive({folder, rar_stored_entry("SUB\\FILE.TXT", "in sub"),
                               rar_stored_entry("A/B/C.TXT", "deep"), unix_folder, empty})),
              0);
    EXPECT_STREQ(target, "D:\\Target\\"); // the caller's buffer gets its '\'
    EXPECT_EQ(read_file(in_target("SUB/FILE.TXT")), "in sub");
    EXPECT_EQ(read_file(in_target("A/B/C.TXT")), "deep");
    EXPECT_FALSE(exists(in_target("EMPTY")));
    EXPECT_FALSE(exists(in_target("UNIXDIR")));
    EXPECT_TRUE(exists(in_target("EMPTY.TXT")));
    EXPECT_EQ(read_file(in_target("EMPTY.TXT")), "");
    EXPECT_EQ(progress(), (std::vector<std::string>{"SUB\\FILE.TXT", "A\\B\\C.TXT", "EMPTY.TXT"}));
    EXPECT_TRUE(host_message_boxes().empty());
}

TEST_F(ExtractTest, TargetFolderIsCreatedWithTheFirstFile) {
    strcpy(target, "D:\\New\\Product");
    ASSERT_EQ(run(rar_archive({rar_stored_entry("F.TXT", "f")})), 0);
    EXPECT_EQ(read_file(root + "/D/New/Product/F.TXT"), "f");
}

TEST_F(ExtractTest, PlainHostTarget) {
    std::string folder = root + "/plain";
    mkdir(folder.c_str(), 0777);
    strcpy(target, folder.c_str());
    ASSERT_EQ(run(rar_archive({rar_stored_entry("SUB\\F.TXT", "f")})), 0);
    EXPECT_EQ(read_file(folder + "/SUB/F.TXT"), "f");
}

TEST_F(ExtractTest, TimeAndAttributes) {
    RarFileEntry read_only = rar_stored_entry("RO.TXT", "ro");
    read_only.file_time = rar_dos_time(2010, 11, 3, 0, 27, 28);
    read_only.attributes = 0x23;
    RarFileEntry bad_date = rar_stored_entry("BADDATE.TXT", "x");
    bad_date.file_time = 0x00000000; // month 0: the time stays as it was
    ASSERT_EQ(run(rar_archive({read_only, bad_date})), 0);
    struct stat info;
    ASSERT_EQ(stat(in_target("RO.TXT").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1288744048);
    EXPECT_EQ(GetFileAttributesA("D:\\Target\\RO.TXT"), DWORD(0x23));
    ASSERT_EQ(stat(in_target("BADDATE.TXT").c_str(), &info), 0);
    EXPECT_GT(info.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(GetFileAttributesA("D:\\Target\\BADDATE.TXT"), DWORD(0x20));
}

TEST_F(ExtractTest, InstallerBehindAProgramImage) {
    std::string image = "MZ" + pattern_data(0x18000 - 2, 7);
    for (char &c : image)
        if (c == 'R')
            c = 'r'; // no stray marker candidates in the image
    std::string archive = rar_archive({rar_stored_entry("ZQNG.EXE", pattern_data(70000, 3))});
    write_file(root + "/D/SETUP.EXE", image + archive);
    EXPECT_EQ(extract_archive(nullptr, "D:\\setup.exe", target), 0);
    EXPECT_EQ(read_file(in_target("ZQNG.EXE")), pattern_data(70000, 3));
}

// A signed installer's archive ends where its certificate table begins,
// whatever the table holds: tables of several sizes behind archives that
// leave 0, 1, 6 and 4 bytes of padding. Where a walk going on past the
// archive's end would land, the table holds a well-formed file header; the
// same bytes without their security directory show that it is reached then.
TEST_F(ExtractTest, SignedInstallerEndsAtItsCertificateTable) {
    const std::string program = pattern_data(3000, 3);
    const std::string archive =
        rar_archive({rar_stored_entry("ZQNG.EXE", program), rar_stored_entry("ZQNG.DAT", "dat")});
    std::string decoy;
    rar_put_file(decoy, rar_stored_entry("EXTRA.TXT", "extra"));
    struct Case {
        uint32_t table_size;
        size_t padding;
        bool decoy_planted;
    };
    const Case cases[] = {{1024, 0, true}, {9000, 1, true}, {4104, 6, true}, {16, 4, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.table_size << " bytes, padding " << c.padding);
        size_t stub = 4096 + (8 - (archive.size() + c.padding) % 8) % 8;
        std::string file = pe_image(stub) + archive;
        ASSERT_EQ(pe_append_certificate_table(file, c.table_size, decoy),
                  stub + archive.size() + c.padding);
        ASSERT_EQ(file.find(decoy) != std::string::npos, c.decoy_planted);
        std::string unsigned_file = file;
        unsigned_file.replace(pe_security_entry(file), 8, 8, '\0');
        for (bool signed_file : {true, false}) {
            if (!signed_file && !c.decoy_planted)
                continue;
            remove_tree(root + "/D/Target");
            strcpy(target, "D:\\Target");
            EXPECT_EQ(run(signed_file ? file : unsigned_file), 0);
            EXPECT_TRUE(read_file(in_target("ZQNG.EXE")) == program);
            EXPECT_EQ(read_file(in_target("ZQNG.DAT")), "dat");
            EXPECT_EQ(exists(in_target("EXTRA.TXT")), !signed_file);
        }
    }
    EXPECT_TRUE(host_message_boxes().empty());
}

TEST_F(ExtractTest, SolidStreamWithUnwantedEntriesInBetween) {
    language_table[1].selected = 0;
    language_table[2].selected = 0;
    // Shared text makes later files match into earlier ones; 1.6 MB in all
    // wraps the window.
    std::string common = pattern_data(20000, 1);
    std::vector<std::pair<std::string, std::string>> files;
    const char *names[] = {"ZQNG.DAT",    "ZQNG_US.HLP", "ZQNG_DE.HLP", "STORED.BIN",
                           "ZQNG_FR.HLP", "SUB\\B.TXT",  "ZQNG_IT.HLP", "LAST.TXT"};
    uint32_t seed = 100;
    for (const char *name : names) {
        std::string data;
        while (data.size() < 200000) {
            data += common.substr(seed % 1000, 3000) + pattern_data(500, seed);
            ++seed;
        }
        files.emplace_back(name, data);
    }
    for (const char *password : {built_in_password, ""}) {
        std::vector<RarFileEntry> entries = solid_entries(files, password, {"STORED.BIN"});
        EXPECT_EQ(entries[0].flags & 0x0010, 0);
        EXPECT_EQ(entries[2].flags & 0x0010, 0x0010);
        ExtractOptions options = {password, 0, nullptr, nullptr, nullptr};
        strcpy(target, "D:\\Target");
        ASSERT_EQ(run(rar_archive(entries), &options), 0) << password;
        for (const auto &file : files) {
            std::string host = host_path(("D:\\Target\\" + file.first).c_str());
            bool unwanted = file.first.find("_US") != std::string::npos ||
                            file.first.find("_FR") != std::string::npos ||
                            file.first.find("_IT") != std::string::npos;
            EXPECT_EQ(exists(host), !unwanted) << file.first;
            if (!unwanted) {
                EXPECT_TRUE(read_file(host) == file.second) << file.first;
            }
        }
        EXPECT_TRUE(host_message_boxes().empty());
        remove_tree(root + "/D/Target");
    }
}

TEST_F(ExtractTest, DamagedEntryEndsTheRun) {
    RarFileEntry damaged = rar_stored_entry("B.TXT", "bbbb");
    damaged.packed[1] ^= 1;
    ASSERT_EQ(run(rar_archive(
                  {rar_stored_entry("A.TXT", "aaaa"), damaged, rar_stored_entry("C.TXT", "cccc")})),
              3);
    EXPECT_EQ(read_file(in_target("A.TXT")), "aaaa");
    EXPECT_FALSE(exists(in_target("B.TXT")));
    EXPECT_FALSE(exists(in_target("C.TXT")));
    ASSERT_EQ(host_message_boxes().size(), 1u);
    EXPECT_EQ(host_message_boxes()[0].text, "Cannot install file.");
    EXPECT_EQ(host_message_boxes()[0].caption, "B.TXT");
    EXPECT_EQ(host_message_boxes()[0].type, UINT(MB_ICONERROR));
    EXPECT_EQ(progress(), (std::vector<std::string>{"A.TXT", "B.TXT"}));
}

TEST_F(ExtractTest, MessageLanguage) {
    RarFileEntry damaged = rar_stored_entry("B.TXT", "bbbb");
    damaged.file_crc ^= 1;
    const struct {
        int32_t language;
        const char *text; // nullptr: no box
    } cases[] = {
        {1, "Cannot install file."}, {2, "Kann nicht die Datei installieren."}, {0, nullptr}};
    for (const auto &c : cases) {
        ui_language = c.language;
        host_message_boxes().clear();
        strcpy(target, "D:\\Target");
        EXPECT_EQ(run(rar_archive({damaged})), 3);
        if (!c.text) {
            EXPECT_TRUE(host_message_boxes().empty());
            continue;
        }
        ASSERT_EQ(host_message_boxes().size(), 1u);
        EXPECT_EQ(host_message_boxes()[0].text, c.text);
    }
}

TEST_F(ExtractTest, EncryptedEntries) {
    std::string data = pattern_data(1000, 11);
    std::string archive = rar_archive({encrypted_entry("SECRET.DAT", data, built_in_password)});
    ASSERT_EQ(run(archive), 0);
    EXPECT_EQ(read_file(in_target("SECRET.DAT")), data);

    const char *wrong[] = {"another", ""};
    for (const char *password : wrong) {
        ExtractOptions options = {password, 0, nullptr, nullptr, nullptr};
        host_message_boxes().clear();
        EXPECT_EQ(run(archive, &options), 3) << password;
        EXPECT_FALSE(exists(in_target("SECRET.DAT")));
        EXPECT_EQ(captions(), std::vector<std::string>{"SECRET.DAT"});
    }
    ExtractOptions options = {"another", 0, nullptr, nullptr, nullptr};
    EXPECT_EQ(run(rar_archive({encrypted_entry("OTHER.DAT", data, "another")}), &options), 0);
    EXPECT_EQ(read_file(in_target("OTHER.DAT")), data);
}

TEST_F(ExtractTest, UnsupportedVersions) {
    RarFileEntry v29 = rar_stored_entry("NEW.DAT", "new");
    v29.unp_ver = 29;
    v29.method = 0x33;
    RarFileEntry v15 = rar_stored_entry("OLD.DAT", "old data");
    v15.unp_ver = 15;
    v15.method = 0x33;
    RarFileEntry stored_v29 = v29;
    stored_v29.method = 0x30;
    RarFileEntry stored_v12 = rar_stored_entry("ANCIENT.DAT", "x");
    stored_v12.unp_ver = 12;
    const struct {
        RarFileEntry entry;
        ExtractionResult result;
        bool message;
    } cases[] = {
        {v29, 1, false},
        {stored_v29, 1, false}, // a stored entry ends the run the same way
        {stored_v12, 1, false},
        {v15, 3, true}, // not decoded: fails its checksum
    };
    for (const auto &c : cases) {
        host_message_boxes().clear();
        EXPECT_EQ(run(rar_archive({rar_stored_entry("FIRST.TXT", "1"), c.entry,
                                   rar_stored_entry("LAST.TXT", "2")})),
                  c.result)
            << c.entry.name << " " << int(c.entry.unp_ver);
        EXPECT_FALSE(exists(in_target(c.entry.name)));
        EXPECT_FALSE(exists(in_target("LAST.TXT")));
        EXPECT_TRUE(exists(in_target("FIRST.TXT")));
        EXPECT_EQ(host_message_boxes().size(), c.message ? 1u : 0u);
    }
}

TEST_F(ExtractTest, StoredEntryOfTwoGigabytesOrMore) {
    // The size does not fit the signed counter; the copy writes nothing
    // rather than reading beyond its buffer, and the file fails its check.
    for (int64_t size : {int64_t(0x80000000), int64_t(0xFFFFFFFF)}) {
        RarFileEntry huge = rar_stored_entry("HUGE.DAT", pattern_data(5000, 4));
        huge.unp_size = size;
        strcpy(target, "D:\\Target");
        host_message_boxes().clear();
        EXPECT_EQ(run(rar_archive({huge})), 3) << size;
        EXPECT_FALSE(exists(in_target("HUGE.DAT")));
        EXPECT_EQ(captions(), std::vector<std::string>{"HUGE.DAT"});
    }
}

TEST_F(ExtractTest, StoredEntryThatCannotBeCreatedEndsTheRun) {
    mkdir(in_target("BLOCKED.TXT").c_str(), 0777); // a folder stands at the path
    ASSERT_EQ(
        run(rar_archive({rar_stored_entry("BLOCKED.TXT", "x"), rar_stored_entry("LAST.TXT", "2")})),
        1);
    EXPECT_EQ(captions(), std::vector<std::string>{"D:\\Target\\BLOCKED.TXT"});
    EXPECT_FALSE(exists(in_target("LAST.TXT")));
}

// Nothing to install: the failure is shown with the setup's own file name.
TEST_F(ExtractTest, NoArchive) {
    const std::string inputs[] = {"", "Rar!", pattern_data(300000, 5), "MZ not an archive"};
    for (const std::string &input : inputs) {
        strcpy(target, "D:\\Target");
        EXPECT_EQ(run(input), 2);
    }
    strcpy(target, "D:\\Target");
    EXPECT_EQ(extract_archive(nullptr, (root + "/missing.exe").c_str(), target), 2);
    EXPECT_EQ(captions(), (std::vector<std::string>{"setup.exe", "setup.exe", "setup.exe",
                                                    "setup.exe", "missing.exe"}));
    EXPECT_TRUE(host_control_text_log().empty());
}

TEST_F(ExtractTest, NamesLeavingTheTargetTouchNothingOutside) {
    write_file(root + "/D/victim", "precious");
    language_table[1].selected = 0;
    const char *names[] = {
        "..\\victim",
        "SUB\\..\\..\\victim",
        "\\victim",
        "/victim",
        "D:\\victim",
        "D:victim",
        "a:b",
        "...\\victim",
        "SUB\\. .\\x",
        "ZQNG_US.\\..\\..\\victim", // an unwanted language file: its removal too
        "CON",
        "sub\\nul.txt",
        "Com1.log",
        "LPT0",
        "SUB\\COM\xB9",
        "lpt\xB3.txt",
        "conout$",
    };
    for (const char *name : names) {
        RarFileEntry hostile = rar_stored_entry(name, "evil");
        RarFileEntry folder = hostile;
        folder.attributes = 0x10;
        for (const RarFileEntry &entry : {hostile, folder}) {
            strcpy(target, "D:\\Target");
            host_message_boxes().clear();
            EXPECT_EQ(run(rar_archive({entry, rar_stored_entry("AFTER.TXT", "x")})), 4) << name;
            EXPECT_EQ(read_file(root + "/D/victim"), "precious") << name;
            std::string shown = hostile.name;
            std::replace(shown.begin(), shown.end(), '/', '\\');
            EXPECT_EQ(captions(), std::vector<std::string>{shown}) << name;
            EXPECT_FALSE(exists(in_target("AFTER.TXT")));
        }
    }
    EXPECT_FALSE(exists(root + "/D/Target/SUB"));
    // Names that only look odd stay allowed.
    strcpy(target, "D:\\Target");
    ASSERT_EQ(
        run(rar_archive({rar_stored_entry(".hidden", "h"), rar_stored_entry("a..b", "d"),
                         rar_stored_entry("CONFIG.SYS", "c"), rar_stored_entry("COM10", "p")})),
        0);
    EXPECT_TRUE(exists(in_target(".hidden")));
    EXPECT_TRUE(exists(in_target("a..b")));
    EXPECT_TRUE(exists(in_target("CONFIG.SYS")));
    EXPECT_TRUE(exists(in_target("COM10")));
}

TEST_F(ExtractTest, OverlongPathIsRefused) {
    // "D:\" + 4 folders of 50 + their separators = 207 characters.
    std::string folder = "D:";
    std::string host = root + "/D";
    for (int i = 0; i < 4; ++i) {
        folder += "\\" + std::string(50, char('a' + i));
        host += "/" + std::string(50, char('a' + i));
        mkdir(host.c_str(), 0777);
    }
    ASSERT_EQ(folder.size() + 1, 207u);
    std::string fits(259 - 207, 'f');     // 259 characters in all
    std::string too_long(260 - 207, 'g'); // one more
    strcpy(target, folder.c_str());
    EXPECT_EQ(run(rar_archive({rar_stored_entry(fits, "ok")})), 0);
    EXPECT_EQ(read_file(host + "/" + fits), "ok");
    strcpy(target, folder.c_str());
    EXPECT_EQ(run(rar_archive({rar_stored_entry(too_long, "no"), rar_stored_entry("X", "x")})), 1);
    EXPECT_FALSE(exists(host + "/" + too_long));
    EXPECT_FALSE(exists(host + "/X"));
    EXPECT_EQ(captions(), std::vector<std::string>{too_long});

    // A target folder that fills its buffer gets no '\' and no file fits.
    std::string full(259, 'z');
    full[0] = 'D';
    full[1] = ':';
    full[2] = '\\';
    strcpy(target, full.c_str());
    EXPECT_EQ(run(rar_archive({rar_stored_entry("F", "f")})), 1);
    EXPECT_EQ(strlen(target), 259u);
}

TEST_F(ExtractTest, Volumes) {
    RarFileEntry continued = rar_stored_entry("SPLIT.DAT", "first half");
    continued.flags |= 0x0002;
    ASSERT_EQ(
        run(rar_archive({rar_stored_entry("A.TXT", "a"), continued, rar_stored_entry("B.TXT", "b")},
                        0x0001)),
        2);
    EXPECT_EQ(read_file(in_target("A.TXT")), "a");
    EXPECT_FALSE(exists(in_target("SPLIT.DAT")));
    EXPECT_FALSE(exists(in_target("B.TXT")));

    RarFileEntry from_previous = rar_stored_entry("REST.DAT", "second half");
    from_previous.flags |= 0x0001;
    strcpy(target, "D:\\Target");
    EXPECT_EQ(run(rar_archive({from_previous, rar_stored_entry("C.TXT", "c")})), 2);
    EXPECT_FALSE(exists(in_target("REST.DAT")));
    EXPECT_FALSE(exists(in_target("C.TXT")));
    EXPECT_EQ(captions(), (std::vector<std::string>{"setup.exe", "setup.exe"}));
}

TEST_F(ExtractTest, ExternalMultiVolumeFirstPartEnds) {
    write_file(setup_path(), read_file(test_data("external/rar20-multivolume-part1.rar")));
    EXPECT_EQ(extract_archive(nullptr, setup_path().c_str(), target), 2);
    EXPECT_FALSE(exists(in_target("exe")));
    EXPECT_FALSE(exists(in_target("jpg")));
}

TEST_F(ExtractTest, FolderEntryDataIsPassedOver) {
    for (uint32_t attributes : {0x10u, 0x08u}) {
        RarFileEntry folder = rar_stored_entry("DIR", std::string(37, '\x74'));
        folder.attributes = attributes;
        strcpy(target, "D:\\Target");
        ASSERT_EQ(run(rar_archive({folder, rar_stored_entry("NEXT.TXT", "next")})), 0);
        EXPECT_EQ(read_file(in_target("NEXT.TXT")), "next");
        EXPECT_FALSE(exists(in_target("DIR")));
        remove(in_target("NEXT.TXT").c_str());
    }
}

// The process may write at most `limit` bytes to any file while it lives.
struct FileSizeLimit {
    rlimit saved;
    void (*saved_handler)(int);
    explicit FileSizeLimit(rlim_t limit) {
        saved_handler = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, saved_handler);
    }
};

TEST_F(ExtractTest, DiskFullLeavesNoPartialFile) {
    // 3000 bytes stay in the stream's buffer until it is flushed; 100000 fail
    // while being written.
    for (size_t size : {size_t(3000), size_t(100000)}) {
        std::string archive = rar_archive({rar_stored_entry("SMALL.TXT", "ok"),
                                           rar_stored_entry("BIG.DAT", pattern_data(size, 9))});
        write_file(setup_path(), archive);
        strcpy(target, "D:\\Target");
        host_message_boxes().clear();
        ExtractionResult result;
        {
            FileSizeLimit limit(1000);
            result = extract_archive(nullptr, setup_path().c_str(), target);
        }
        EXPECT_EQ(result, 3) << size;
        EXPECT_FALSE(exists(in_target("BIG.DAT"))) << size;
        EXPECT_EQ(read_file(in_target("SMALL.TXT")), "ok");
        EXPECT_EQ(captions(), std::vector<std::string>{"BIG.DAT"});
    }
}

TEST_F(ExtractTest, BadFileThatCannotBeRemovedIsEmptied) {
    RarFileEntry damaged = rar_stored_entry("BAD.TXT", pattern_data(5000, 4));
    damaged.file_crc ^= 1;
    host_fault_arm(host_fault_remove, "BAD.TXT");
    EXPECT_EQ(run(rar_archive({damaged})), 3);
    host_faults_clear();
    EXPECT_EQ(read_file(in_target("BAD.TXT")), "");
    EXPECT_EQ(captions(), std::vector<std::string>{"BAD.TXT"});
}

TEST_F(ExtractTest, ReadErrorAtAHeaderIsNoEndOfArchive) {
    std::string first = rar_archive({rar_stored_entry("A.TXT", "a")});
    std::string archive =
        rar_archive({rar_stored_entry("A.TXT", "a"), rar_stored_entry("B.TXT", "b")});
    // The second header starts where the one-entry archive has its end block.
    host_fault_streams("setup.exe", int64_t(first.size() - 7), true, -1);
    EXPECT_EQ(run(archive), 2);
    host_faults_clear();
    EXPECT_EQ(read_file(in_target("A.TXT")), "a");
    EXPECT_FALSE(exists(in_target("B.TXT")));
}

struct Seen {
    std::vector<std::string> names;
    std::vector<int32_t> results;
};

void record_entry(const ExtractionContext *ctx, int32_t result, void *user) {
    Seen *seen = static_cast<Seen *>(user);
    seen->names.push_back(ctx->file_name);
    seen->results.push_back(result);
}

TEST_F(ExtractTest, TestOnlyWritesNothing) {
    language_table[1].selected = 0;
    write_file(in_target("ZQNG_US.HLP"), "old");
    write_file(in_target("NAVGZIP.SET"), "mine");
    RarFileEntry folder = rar_stored_entry("DIR", "");
    folder.attributes = 0x10;
    Seen seen;
    ExtractOptions options = {nullptr, 1, record_entry, &seen, nullptr};
    ASSERT_EQ(run(rar_archive({rar_stored_entry("ZQNG_US.HLP", "us"), folder,
                               rar_stored_entry("SUB\\NAVGZIP.SET", "s"),
                               rar_stored_entry("..\\odd", "o")}),
                  &options),
              0);
    EXPECT_EQ(read_file(in_target("ZQNG_US.HLP")), "old");
    EXPECT_EQ(read_file(in_target("NAVGZIP.SET")), "mine");
    EXPECT_FALSE(exists(in_target("SUB")));
    EXPECT_FALSE(exists(root + "/D/odd"));
    EXPECT_EQ(seen.names,
              (std::vector<std::string>{"ZQNG_US.HLP", "DIR", "SUB\\NAVGZIP.SET", "..\\odd"}));
    EXPECT_EQ(seen.results, (std::vector<int32_t>{0, 0, 0, 0}));

    RarFileEntry damaged = rar_stored_entry("BAD.TXT", "bad");
    damaged.file_crc ^= 0x100;
    write_file(in_target("BAD.TXT"), "installed earlier");
    seen = Seen();
    EXPECT_EQ(run(rar_archive({rar_stored_entry("GOOD.TXT", "good"), damaged,
                               rar_stored_entry("LATER.TXT", "later")}),
                  &options),
              3);
    EXPECT_EQ(seen.results, (std::vector<int32_t>{0, 3}));
    EXPECT_FALSE(exists(in_target("GOOD.TXT")));
    EXPECT_EQ(read_file(in_target("BAD.TXT")), "installed earlier");
}

TEST_F(ExtractTest, ExternalStoredEntriesWithLongHeaders) {
    write_file(setup_path(), read_file(test_data("external/rar202-comment-nopsw.rar")));
    ASSERT_EQ(extract_archive(nullptr, setup_path().c_str(), target), 0);
    struct stat info;
    ASSERT_EQ(stat(in_target("FILE1.TXT").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 7);
    EXPECT_EQ(info.st_mtim.tv_sec, 1288744048); // 2010-11-03 00:27:28
    EXPECT_EQ(GetFileAttributesA("D:\\Target\\FILE2.TXT"), DWORD(0x20));
    EXPECT_EQ(progress(), (std::vector<std::string>{"FILE1.TXT", "FILE2.TXT"}));
}

TEST_F(ExtractTest, ExternalEncryptedCompressedEntries) {
    std::string plain_archive = read_file(test_data("external/rar202-comment-nopsw.rar"));
    write_file(setup_path(), read_file(test_data("external/rar202-comment-psw.rar")));
    ExtractOptions options = {"password", 0, nullptr, nullptr, nullptr};
    ASSERT_EQ(extract_archive_ex(nullptr, setup_path().c_str(), target, &options), 0);
    std::string file1 = read_file(in_target("FILE1.TXT"));
    std::string file2 = read_file(in_target("FILE2.TXT"));
    EXPECT_EQ(file1.size(), 7u);
    EXPECT_NE(plain_archive.find(file1), std::string::npos);
    EXPECT_NE(plain_archive.find(file2), std::string::npos);

    // The built-in password is another one.
    strcpy(target, "D:\\Target");
    EXPECT_EQ(extract_archive(nullptr, setup_path().c_str(), target), 3);
    EXPECT_FALSE(exists(in_target("FILE1.TXT"))); // replaced by a bad copy, then removed
    EXPECT_EQ(captions(), std::vector<std::string>{"FILE1.TXT"});
}

TEST_F(ExtractTest, ExternalVersion15Entries) {
    write_file(setup_path(), read_file(test_data("external/rar15-dirs.rar")));
    EXPECT_EQ(extract_archive(nullptr, setup_path().c_str(), target), 3);
    EXPECT_FALSE(exists(in_target("EXE/TEST.EXE")));
    EXPECT_EQ(captions(), std::vector<std::string>{"EXE\\TEST.EXE"});
}

TEST_F(ExtractTest, ExternalUnixEntryWithSubBlocks) {
    write_file(setup_path(), read_file(test_data("external/rar2-unix-owner.rar")));
    ASSERT_EQ(extract_archive(nullptr, setup_path().c_str(), target), 0);
    EXPECT_EQ(read_file(in_target("file.txt")).size(), 4u);
    EXPECT_EQ(GetFileAttributesA("D:\\Target\\file.txt"), DWORD(0x20));
}

// Vectors another encoder wrote: a solid, encrypted stream behind a program
// image with every kind of symbol, trailing tables, window wrap, a folder, a
// name with junk behind its NUL and an unsafe last name; a stream that stops
// producing; an archive at the scan's last offset and one just beyond it.
TEST_F(ExtractTest, SyntheticVectors) {
    std::map<std::string, std::string> expect = files_below(test_data("synthetic/expect"));
    ASSERT_EQ(expect.size(), 9u);
    const struct {
        const char *file;
        ExtractionResult result;
        std::vector<std::string> captions;
        std::map<std::string, std::string> written;
    } cases[] = {
        // The unsafe name comes last: it ends the run after every other
        // entry is in place.
        {"solid-encrypted.exe", 4, {"..\\unsafe.txt"}, expect},
        {"stuck.rar", 3, {"stuck.bin"}, {}},
        {"scan-edge-in.exe", 0, {}, {{"tiny.txt", "tiny\n"}}},
        {"scan-edge-out.exe", 2, {"setup.exe"}, {}},
    };
    ExtractOptions options = {"secret7", 0, nullptr, nullptr, nullptr};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        strcpy(target, "D:\\Target");
        host_message_boxes().clear();
        write_file(setup_path(), read_file(test_data(std::string("synthetic/") + c.file)));
        EXPECT_EQ(extract_archive_ex(nullptr, setup_path().c_str(), target, &options), c.result);
        EXPECT_EQ(captions(), c.captions);
        std::map<std::string, std::string> written;
        for (const auto &file : c.written)
            written["Target/" + file.first] = file.second;
        EXPECT_EQ(differing_files(files_below(root + "/D"), written), std::vector<std::string>{});
        remove_tree(root + "/D/Target");
    }
}

} // namespace
