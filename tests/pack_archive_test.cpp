// Archives written by the packer, read back by the extraction driver (test
// mode: every entry decoded and its checksum compared), and zqpack's command
// line.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/extraction_context.h"
#include "archive/rar_format.h"
#include "pack/archive_writer.h"
#include "pack/lz_encode.h"
#include "tests/support/entry_data.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_run.h"

namespace fs = std::filesystem;

namespace {

std::string text_like(size_t n, uint32_t seed) {
    static const char *words[] = {"Navigrove ", "setup ", "the ", "file ", "window\r\n",
                                  "language ",  "of ",    "ZQ ",  "data ", "install "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += words[rng() % 10];
    s.resize(n);
    return s;
}

struct EntrySeen {
    std::string name;
    FileHeader header;
    int32_t result;
};

struct RunLog {
    std::vector<EntrySeen> entries;
    MainHeader main_header;
};

void record_entry(const ExtractionContext *ctx, int32_t result, void *user) {
    auto *log = static_cast<RunLog *>(user);
    log->main_header = ctx->main_header;
    log->entries.push_back(EntrySeen{ctx->file_name, ctx->file_header, result});
}

// Decodes every entry and compares its checksum; password nullptr: the
// setup's built-in one.
int32_t test_archive(const std::string &path, const char *password, RunLog *log) {
    ExtractOptions options = {};
    options.password = password;
    options.test_only = 1;
    options.on_entry = record_entry;
    options.user = log;
    char target[path_buffer_size] = "";
    return extract_archive_ex(nullptr, path.c_str(), target, &options);
}

// A photo-like JPEG of about 45 KB, made the same way every time: a seeded
// fractal, blurred, saved with the standard Huffman tables as cameras do.
// Its bytes look random to a count of byte values, yet literal codes still
// save about one per cent of them.
void write_photo(const std::string &path) {
    std::string command = "convert -size 480x360 -seed 5 plasma:fractal -blur 0x1 -quality 90 "
                          "-define jpeg:optimize-coding=false '" +
                          path + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ASSERT_GE(fs::file_size(path), 40000u);
}

// A product-like tree: folders, hundreds of small files, an empty file,
// already compressed data (random bytes and a photo), text, code-like data
// beyond the window.
std::string make_tree(const std::string &root) {
    std::string top = root + "/product";
    fs::create_directories(top + "/SUB/DEEP");
    fs::create_directories(top + "/EMPTYDIR");
    std::mt19937 rng(5);
    for (int i = 0; i < 240; i++) {
        std::string name = top + (i % 3 == 0 ? "/SUB/" : "/") + "f" + std::to_string(i) + ".txt";
        write_file(name, text_like(1 + rng() % 2500, rng()));
    }
    write_file(top + "/EMPTY.DAT", "");
    write_file(top + "/SUB/DEEP/RANDOM.PNG", random_bytes(150000, 9));
    write_photo(top + "/SUB/PHOTO.JPG");
    std::string code;
    for (int i = 0; i < 1300; i++)
        code += random_bytes(700, uint32_t(i % 97)) + text_like(300, uint32_t(i));
    write_file(top + "/ZQNG.EXE", code);
    write_file(top + "/ZQNG_DE.HLP", text_like(200000, 3));
    write_file(top + "/NAVGZIP.SET", "[settings]\r\n");
    return top;
}

ArchiveOptions options_of(int level, bool solid, const char *password) {
    return ArchiveOptions{level, solid, password, nullptr, nullptr, nullptr};
}

TEST(PackArchive, TreesRoundTripThroughTheDriver) {
    std::string dir = make_temp_dir("pack-archive");
    std::string top = make_tree(dir);
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_EQ(collect_entries({top}, &entries, &error), 0) << error;
    struct Case {
        int level;
        bool solid;
        const char *password;
    };
    const Case cases[] = {
        {pack_level_fast, true, nullptr},           {pack_level_default, true, nullptr},
        {pack_level_best, true, nullptr},           {pack_level_default, true, built_in_password},
        {pack_level_fast, false, "secret"},         {pack_level_default, false, nullptr},
        {pack_level_best, true, built_in_password}, {pack_level_best, false, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level << " solid " << c.solid
                                        << " password " << (c.password ? c.password : "-"));
        std::string archive = dir + "/out.rar";
        ArchiveSummary summary{};
        ASSERT_EQ(write_archive(archive.c_str(), entries, options_of(c.level, c.solid, c.password),
                                &summary, &error),
                  0)
            << error;
        EXPECT_EQ(summary.directories, 3u);
        EXPECT_EQ(summary.files + summary.directories, entries.size());
        RunLog log;
        ASSERT_EQ(test_archive(archive, c.password ? c.password : "", &log), 0);
        ASSERT_EQ(log.entries.size(), entries.size());
        EXPECT_EQ(log.main_header.head_flags, c.solid ? 0x0008 : 0);
        bool first_compressed = true;
        for (const EntrySeen &e : log.entries) {
            SCOPED_TRACE(e.name);
            EXPECT_EQ(e.result, 0);
            if (e.header.attributes & 0x10) {
                EXPECT_EQ(e.header.head_flags & 0x00E0, 0x00E0);
                EXPECT_EQ(e.header.pack_size, 0u);
                continue;
            }
            EXPECT_EQ(e.header.host_os, 2);
            EXPECT_EQ(e.header.unp_ver, 20);
            EXPECT_EQ((e.header.head_flags & 0x0004) != 0, c.password != nullptr);
            bool stored = e.header.method == 0x30;
            if (e.name == "SUB\\DEEP\\RANDOM.PNG" || e.name == "EMPTY.DAT") {
                EXPECT_TRUE(stored);
            }
            if (e.name == "ZQNG.EXE" || e.name == "ZQNG_DE.HLP" || e.name == "SUB\\PHOTO.JPG") {
                EXPECT_EQ(e.header.method, 0x30 + c.level);
                EXPECT_LT(e.header.pack_size, e.header.unp_size);
            }
            // Without a shared stream nothing stops a file from being stored
            // when compression does not pay.
            if (!stored && !c.solid) {
                EXPECT_LT(e.header.pack_size, e.header.unp_size);
            }
            if (!stored) {
                // The first compressed entry starts the stream, the others
                // continue it when the archive is solid.
                EXPECT_EQ((e.header.head_flags & 0x0010) != 0, c.solid && !first_compressed);
                first_compressed = false;
            }
            if (c.password) {
                EXPECT_EQ(e.header.pack_size % 16, 0u);
            }
        }
    }
    remove_tree(dir);
}

TEST(PackArchive, HeadersOfFoldersNamesTimesAndAttributes) {
    std::string dir = make_temp_dir("pack-headers");
    fs::create_directories(dir + "/in/A/B");
    write_file(dir + "/in/A/B/C.TXT", "hello hello hello hello");
    write_file(dir + "/in/.hidden", "x");
    write_file(dir + "/in/ro.txt", "read only");
    fs::permissions(dir + "/in/ro.txt", fs::perms::owner_write, fs::perm_options::remove);
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_EQ(collect_entries({dir + "/in/ro.txt", dir + "/in/ro.txt"}, &entries, &error), 1);
    EXPECT_NE(error.find("same name"), std::string::npos) << error;
    entries.clear();
    ASSERT_EQ(collect_entries({dir + "/in"}, &entries, &error), 0) << error;
    std::vector<std::string> names;
    for (const ArchiveEntry &e : entries)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "A", "A\\B", "A\\B\\C.TXT", "ro.txt"}));
    EXPECT_EQ(entries[0].attributes, 0x22u);
    EXPECT_EQ(entries[1].attributes, 0x10u);
    EXPECT_EQ(entries[3].attributes, 0x20u);
    EXPECT_EQ(entries[4].attributes, 0x21u);

    std::string archive = dir + "/out.rar";
    ASSERT_EQ(
        write_archive(archive.c_str(), entries, options_of(3, true, nullptr), nullptr, &error), 0);
    std::string bytes = read_file(archive);
    // Folder entry "A": flags 0x80E0, attributes 0x10, no data.
    size_t at = bytes.find(std::string("\x10\x00\x00\x00"
                                       "A",
                                       5));
    ASSERT_NE(at, std::string::npos);
    size_t header = at - 28;
    EXPECT_EQ(uint8_t(bytes[header + 2]), 0x74);
    EXPECT_EQ(uint8_t(bytes[header + 3]), 0xE0);
    EXPECT_EQ(uint8_t(bytes[header + 4]), 0x80);
    EXPECT_EQ(bytes.substr(header + 7, 8), std::string(8, '\0'));
    // The archive ends with the 7-byte end block.
    EXPECT_EQ(bytes.substr(bytes.size() - 5), std::string("\x7B\x00\x40\x07\x00", 5));
    fs::permissions(dir + "/in/ro.txt", fs::perms::owner_write, fs::perm_options::add);
    remove_tree(dir);
}

// Inputs as someone who may write to the product folder could prepare them.
// Nothing is opened before it is known to be a regular file: a FIFO opened
// for reading would hang the test.
TEST(PackArchive, HostileInputs) {
    std::string dir = make_temp_dir("pack-hostile");
    std::string in = dir + "/in";
    std::string out = in + "/out.rar";
    write_file(dir + "/outside.txt", "outside");
    // Plants "KIND NAME [TARGET]" in the input folder; false when the system
    // does not permit it here.
    auto plant = [&](const std::string &what) {
        std::istringstream words(what);
        std::string kind, name, target;
        words >> kind >> name >> target;
        std::string at = in + "/" + name;
        if (kind == "device")
            return mknod(at.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
        if (kind == "fifo")
            mkfifo(at.c_str(), 0600);
        else if (kind == "link")
            fs::create_symlink(target, at);
        else if (kind == "dir")
            fs::create_directories(at);
        else
            write_file(at, kind);
        return true;
    };
    struct Case {
        const char *what;
        std::vector<std::string> plant;
        std::vector<std::string> inputs; // below the input folder unless absolute
        const char *error;               // nullptr: collected
        const char *names;               // then: the entries' names
        size_t notes;
    };
    const Case cases[] = {
        {"FIFO in the folder", {"fifo pipe"}, {"."}, "not a regular file", "", 0},
        {"FIFO named", {"fifo pipe"}, {"pipe"}, "not a regular file", "", 0},
        {"device named", {}, {"/dev/null"}, "not a regular file", "", 0},
        {"device in the folder", {"device null"}, {"."}, "not a regular file", "", 0},
        {"/proc file, empty by its size", {}, {"/proc/self/status"}, "claims to be empty", "", 0},
        {"link to a device", {"link null /dev/null"}, {"."}, "leads out of", "", 0},
        {"file link out", {"link o.txt ../outside.txt"}, {"."}, "leads out of", "", 0},
        {"folder link out", {"link up " + dir}, {"."}, "leads out of", "", 0},
        {"dangling link", {"link gone missing"}, {"."}, "leads nowhere", "", 0},
        {"link to itself", {"link self self"}, {"."}, "leads nowhere", "", 0},
        {"loop", {"dir sub", "link sub/back .."}, {"."}, "a loop", "", 0},
        {"links inside, followed",
         {"dir sub", "c sub/c.txt", "link b.txt a.txt", "link alias " + in + "/sub"},
         {"."},
         nullptr,
         "a.txt alias alias\\c.txt b.txt sub sub\\c.txt",
         0},
        {"OUTPUT in the folder, also through a link",
         {"earlier out.rar", "link out.lnk out.rar"},
         {"."},
         nullptr,
         "a.txt",
         2},
        {"OUTPUT named among the inputs",
         {"earlier out.rar"},
         {"out.rar", "a.txt"},
         nullptr,
         "a.txt",
         1},
        {"OUTPUT the only input", {"earlier out.rar"}, {"out.rar"}, "nothing left to pack", "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fs::create_directories(in);
        write_file(in + "/a.txt", "a");
        bool planted = true;
        for (const std::string &what : c.plant)
            planted = planted && plant(what);
        std::vector<std::string> inputs;
        for (const std::string &input : c.inputs)
            inputs.push_back(input[0] == '/' ? input : in + "/" + input);
        std::vector<ArchiveEntry> entries;
        std::vector<std::string> notes;
        std::string error, names;
        if (!planted) {
            std::printf("%s: skipped, not permitted here\n", c.what);
        } else if (collect_entries(inputs, &entries, &error, out.c_str(), &notes) != 0) {
            EXPECT_TRUE(c.error && error.find(c.error) != std::string::npos) << error;
        } else {
            for (const ArchiveEntry &e : entries)
                names += (names.empty() ? "" : " ") + e.name;
            EXPECT_EQ(c.error, nullptr);
            EXPECT_EQ(names, c.names);
            EXPECT_EQ(notes.size(), c.notes);
        }
        remove_tree(in);
    }
    EXPECT_EQ(read_file(dir + "/outside.txt"), "outside");
    remove_tree(dir);
}

// Names the extractor refuses, or Windows cannot hold or would change,
// stop the packer before anything is written.
TEST(PackArchive, NamesTheSetupCouldNotInstall) {
    struct Case {
        std::vector<std::string> files; // '/' between folders
        const char *error;              // nullptr: packed
    };
    const Case cases[] = {
        {{" "}, "the setup refuses it"},
        {{"..."}, "the setup refuses it"},
        {{"CON"}, "the setup refuses it"},
        {{"aux.txt"}, "the setup refuses it"},
        {{"sub/lpt1.log/x"}, "the setup refuses it"},
        {{"co:lon"}, "the setup refuses it"},
        {{"back\\slash"}, "folder separator"},
        {{"new\nline"}, "new\\x0Aline: a control character"},
        {{"README."}, "trailing dot"},
        {{"space "}, "trailing dot or space"},
        {{"what?.txt"}, "does not allow"},
        {{"Readme", "README"}, "differ only in case"},
        {{"Docs/x.txt", "docs"}, "differ only in case"},
        {{" lead", "#%&'()+,;=@[]^`{}~.txt", "x.y.z", "Readme.txt", "sub/readme.txt"}, nullptr},
    };
    std::string dir = make_temp_dir("pack-names");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.files[0]);
        for (const std::string &f : c.files) {
            fs::create_directories(fs::path(dir + "/in/" + f).parent_path());
            write_file(dir + "/in/" + f, "x");
        }
        std::vector<ArchiveEntry> entries;
        std::string error;
        EXPECT_EQ(collect_entries({dir + "/in"}, &entries, &error) != 0, c.error != nullptr);
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
        remove_tree(dir + "/in");
    }
    remove_tree(dir);
}

// Every name the temporary file may take holds a link: none is followed,
// and the archive takes the first free name.
TEST(PackArchive, TemporaryFileNeverFollowsALink) {
    std::string dir = make_temp_dir("pack-temp");
    write_file(dir + "/victim", "victim");
    write_file(dir + "/f.txt", text_like(5000, 1));
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_EQ(collect_entries({dir + "/f.txt"}, &entries, &error), 0) << error;
    std::string out = dir + "/out.rar";
    std::string base = out + ".tmp" + std::to_string(getpid());
    std::vector<std::string> planted = {base}; // the name of earlier versions
    for (int i = 0; i < 100; i++)
        planted.push_back(base + "-" + std::to_string(i));
    for (size_t i = 0; i < planted.size(); i++)
        fs::create_symlink(dir + (i % 2 ? "/victim" : "/created"), planted[i]);
    for (bool one_free : {false, true}) {
        SCOPED_TRACE(one_free);
        if (one_free)
            fs::remove(planted.back());
        int result =
            write_archive(out.c_str(), entries, options_of(3, true, nullptr), nullptr, &error);
        EXPECT_EQ(result != 0, !one_free) << error;
        EXPECT_EQ(fs::exists(out), one_free);
        EXPECT_EQ(read_file(dir + "/victim"), "victim");
        EXPECT_FALSE(fs::exists(dir + "/created"));
        for (size_t i = 0; i + 1 < planted.size(); i++)
            EXPECT_TRUE(fs::is_symlink(planted[i])) << planted[i];
    }
    EXPECT_NE(error.find("no temporary file"), std::string::npos) << error;
    RunLog log;
    EXPECT_EQ(test_archive(out, "", &log), 0);
    remove_tree(dir);
}

TEST(PackArchive, DosTime) {
    const char *old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        int64_t unix_time;
        uint32_t dos;
    };
    const Case cases[] = {
        {1676758571, (43u << 25) | (2u << 21) | (18u << 16) | (22u << 11) | (16u << 5) | 5u},
        {315532800, 0x00210000},    // 1980-01-01 00:00:00
        {0, 0x00210000},            // before 1980: the earliest DOS time
        {4354819200LL, 0xFF9FBF7D}, // 2108: the latest one
    };
    for (const Case &c : cases)
        EXPECT_EQ(dos_time_of(c.unix_time), c.dos) << c.unix_time;
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(PackArchive, FailuresLeaveNothingBehind) {
    std::string dir = make_temp_dir("pack-fail");
    std::vector<ArchiveEntry> entries;
    std::string error;
    EXPECT_NE(collect_entries({dir + "/missing"}, &entries, &error), 0);
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;

    // A name of more than 259 characters cannot be read back whole.
    std::string a(150, 'a'), b(150, 'b');
    fs::create_directories(dir + "/long/" + a);
    write_file(dir + "/long/" + a + "/" + b, "x");
    entries.clear();
    EXPECT_NE(collect_entries({dir + "/long"}, &entries, &error), 0);
    EXPECT_NE(error.find("name too long"), std::string::npos) << error;

    // 2 GiB: a sparse file costs nothing.
    write_file(dir + "/huge.bin", "");
    fs::resize_file(dir + "/huge.bin", uint64_t(1) << 31);
    entries.clear();
    EXPECT_NE(collect_entries({dir + "/huge.bin"}, &entries, &error), 0);
    EXPECT_NE(error.find("2 GiB"), std::string::npos) << error;
    fs::remove(dir + "/huge.bin");
    // Files under 2 GiB each that together could make an archive of 2 GiB:
    // refused before a byte is read or written.
    for (const char *name : {"/half1.bin", "/half2.bin"}) {
        write_file(dir + name, "");
        fs::resize_file(dir + name, uint64_t(1) << 30);
    }
    entries.clear();
    ASSERT_EQ(collect_entries({dir + "/half1.bin", dir + "/half2.bin"}, &entries, &error), 0);
    EXPECT_NE(write_archive((dir + "/out.rar").c_str(), entries, options_of(3, true, nullptr),
                            nullptr, &error),
              0);
    EXPECT_NE(error.find("would reach 2 GiB"), std::string::npos) << error;
    fs::remove(dir + "/half1.bin");
    fs::remove(dir + "/half2.bin");

    write_file(dir + "/f.txt", "some data");
    entries.clear();
    ASSERT_EQ(collect_entries({dir + "/f.txt"}, &entries, &error), 0);
    EXPECT_NE(write_archive((dir + "/no/such/folder/out.rar").c_str(), entries,
                            options_of(3, true, nullptr), nullptr, &error),
              0);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_NE(write_archive(dir.c_str(), entries, options_of(3, true, nullptr), nullptr, &error),
              0);
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    // Stubs the setup could not find its archive behind: it would take the
    // first marker it meets, also the older form when "RSFX" stands at 28.
    const std::string rar_marker_bytes("Rar!\x1A\x07\x00", 7);
    std::string older = "MZ" + std::string(26, '\0') + "RSFX" + std::string(40, '\0') + "RE~^";
    write_file(dir + "/big.exe", std::string(max_stub_size + 1, 'M'));
    write_file(dir + "/tiny.exe", "MZ");
    write_file(dir + "/marked.exe", "MZ " + rar_marker_bytes + std::string("\x00\x00\x73 ", 4));
    write_file(dir + "/marker-first.exe", rar_marker_bytes + "MZ and more");
    write_file(dir + "/older.exe", older + std::string(100, '\0'));
    for (const char *stub :
         {"/big.exe", "/tiny.exe", "/marked.exe", "/marker-first.exe", "/older.exe"}) {
        ArchiveOptions o = options_of(3, true, "pw");
        std::string stub_path = dir + stub;
        o.stub = stub_path.c_str();
        std::string out = dir + "/setup.exe";
        EXPECT_NE(write_archive(out.c_str(), entries, o, nullptr, &error), 0) << stub;
        EXPECT_FALSE(fs::exists(out));
    }
    // Nothing but the inputs is left: no temporary files.
    int count = 0;
    for (const auto &e : fs::directory_iterator(dir)) {
        (void)e;
        count++;
    }
    EXPECT_EQ(count, 7);
    // The setup itself holds the marker (not followed by a main header) and
    // the older one (without "RSFX" at 28): such a stub is fine.
    write_file(dir + "/setup-like.exe", "MZ" + std::string(40, '\0') + rar_marker_bytes +
                                            std::string("\x00\x00\x00 RE~^ and code", 17));
    ArchiveOptions o = options_of(3, true, nullptr);
    std::string out = dir + "/setup.exe";
    std::string stub_path = dir + "/setup-like.exe";
    o.stub = stub_path.c_str();
    EXPECT_EQ(write_archive(out.c_str(), entries, o, nullptr, &error), 0) << error;
    RunLog log;
    EXPECT_EQ(test_archive(out, "", &log), 0);
    EXPECT_EQ(log.entries.size(), 1u);
    remove_tree(dir);
}

int run(const std::string &command) {
    int raw = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(Zqpack, CommandLineAndInstaller) {
    std::string dir = make_temp_dir("zqpack");
    std::string zqpack = shell_quoted(ZQ_BINARY_DIR "/zqpack");
    std::string zqrar = shell_quoted(ZQ_BINARY_DIR "/zqrar");
    fs::create_directories(dir + "/in/SUB");
    write_file(dir + "/in/ZQNG.EXE", text_like(100000, 1));
    write_file(dir + "/in/SUB/ZQNG_DE.HLP", text_like(5000, 2));
    std::string stub = "MZ" + random_bytes(90000, 4);
    write_file(dir + "/stub.exe", stub);
    struct Case {
        std::string args;
        int status;
    };
    const Case cases[] = {
        {"--help", 0},
        {"--version", 0},
        {"", 2},
        {"--frobnicate out.rar in", 2},
        {shell_quoted(dir + "/a.rar") + " " + shell_quoted(dir + "/missing"), 1},
        {shell_quoted(dir + "/none/a.rar") + " " + shell_quoted(dir + "/in"), 1},
        {"--no-solid --fast " + shell_quoted(dir + "/b.rar") + " " + shell_quoted(dir + "/in"), 0},
        {"--best --stub " + shell_quoted(dir + "/stub.exe") + " " +
             shell_quoted(dir + "/setup.exe") + " " + shell_quoted(dir + "/in"),
         0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(run(zqpack + " " + c.args), c.status) << c.args;
    EXPECT_FALSE(fs::exists(dir + "/a.rar"));
    EXPECT_EQ(run(zqrar + " t " + shell_quoted(dir + "/b.rar")), 0);
    // The installer: the stub unchanged, the archive behind it, encrypted with
    // the setup's password.
    std::string setup = read_file(dir + "/setup.exe");
    EXPECT_EQ(setup.substr(0, stub.size()), stub);
    EXPECT_EQ(setup.substr(stub.size(), 4), "Rar!");
    EXPECT_EQ(run(zqrar + " l " + shell_quoted(dir + "/setup.exe")), 0);
    EXPECT_EQ(run(zqrar + " t --installer " + shell_quoted(dir + "/setup.exe")), 0);
    EXPECT_NE(run(zqrar + " t -p wrong " + shell_quoted(dir + "/setup.exe")), 0);
    RunLog log;
    EXPECT_EQ(test_archive(dir + "/setup.exe", nullptr, &log), 0);
    EXPECT_EQ(log.entries.size(), 3u); // SUB, SUB\ZQNG_DE.HLP, ZQNG.EXE
    remove_tree(dir);
}

} // namespace
