#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "archive/rar_format.h"
#include "tests/support/archive_builder.h"
#include "tests/support/entry_data.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_run.h"

namespace {

struct ZqrarFixture : ::testing::Test {
    std::string dir;
    void SetUp() override { dir = make_temp_dir("zqrar"); }
    void TearDown() override { remove_tree(dir); }

    ToolRun run(const std::vector<std::string> &args) { return run_tool("zqrar", args, dir); }
    std::string save(const std::string &name, const std::string &bytes) {
        std::string path = dir + "/" + name;
        write_file(path, bytes);
        return path;
    }
};

bool has_line(const std::string &text, const std::string &line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

int line_count(const std::string &text) {
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

struct ListedSample {
    const char *file;
    const char *found;
    std::vector<const char *> lines;
    const char *summary;
};

// The samples' facts as the listing shows them; 0x77, 0x78 and 0x7b blocks
// are passed over and listed nowhere.
const ListedSample listed_samples[] = {
    {"external/rar15-comment.rar",
     "Found at the start of the file (kind 1) at offset 0, format RAR 2.x, main header flags "
     "0x0002",
     {"-----          7          7 MS-DOS 1.5  0x33 00000020 e27f07a9 2010-11-03 19:49:32 "
      "FILE1.TXT",
      "-----          8          8 MS-DOS 1.5  0x30 00000020 3c4306f7 2010-11-03 19:49:38 "
      "FILE2.TXT"},
     "2 entries, 15 bytes, 15 packed"},
    {"external/rar15-dirs.rar",
     "Found at the start of the file (kind 1) at offset 0, format RAR 2.x, main header flags "
     "0x0000",
     {"--D--          0          0 Win32  1.5  0x33 00000010 00000000 2023-02-19 09:20:50 EXE",
      "-----      45056      18672 Win32  1.5  0x33 00000020 cfb109c8 2022-08-01 19:23:04 "
      "EXE\\TEST.EXE",
      "--D--          0          0 Win32  1.5  0x33 00000010 00000000 2023-02-19 09:20:50 JPG",
      "-----      40372      38760 Win32  1.5  0x33 00000020 088814e3 2022-08-01 19:23:04 "
      "JPG\\TEST.JPG",
      "-----      15498       2815 Win32  1.5  0x33 00000020 9bd160fa 2022-08-01 19:23:04 "
      "TECT.TXT"},
     "5 entries, 100926 bytes, 60247 packed"},
    {"external/rar2-unix-owner.rar",
     "Found at the start of the file (kind 1) at offset 0, format RAR 2.x, main header flags "
     "0x0040",
     {"-----          4         17 Unix   2.0  0x33 00000020 7e3265a8 2026-07-15 22:00:22 "
      "file.txt"},
     "1 entry, 4 bytes, 17 packed"},
    {"external/rar20-multivolume-part1.rar",
     "Found volume of a multi-volume set (kind 2) at offset 0, format RAR 2.x, main header "
     "flags 0x0001",
     {"--D--          0          0 Win32  2.0  0x35 00000010 00000000 2022-02-14 09:38:20 exe",
      "--D--          0          0 Win32  2.0  0x35 00000010 00000000 2022-02-14 09:38:20 jpg",
      "--->-      45056       9866 Win32  2.0  0x35 00000020 95cd4f54 2022-02-14 09:38:20 "
      "exe\\test.exe"},
     "3 entries, 45056 bytes, 9866 packed"},
    {"external/rar202-comment-nopsw.rar",
     "Found at the start of the file (kind 1) at offset 0, format RAR 2.x, main header flags "
     "0x0002",
     {"-----          7          7 MS-DOS 2.0  0x30 00000020 7a197dba 2010-11-03 00:27:28 "
      "FILE1.TXT",
      "-----          7          7 MS-DOS 2.0  0x30 00000020 785fc3e3 2010-11-03 00:27:34 "
      "FILE2.TXT"},
     "2 entries, 14 bytes, 14 packed"},
    {"external/rar202-comment-psw.rar",
     "Found at the start of the file (kind 1) at offset 0, format RAR 2.x, main header flags "
     "0x0002",
     {"-E---          7         32 MS-DOS 2.0  0x33 00000020 7a197dba 2010-11-03 00:27:28 "
      "FILE1.TXT",
      "-E---          7         32 MS-DOS 2.0  0x33 00000020 785fc3e3 2010-11-03 00:27:34 "
      "FILE2.TXT"},
     "2 entries, 14 bytes, 64 packed"},
};

TEST_F(ZqrarFixture, ListsExternalSamples) {
    for (const ListedSample &sample : listed_samples) {
        SCOPED_TRACE(sample.file);
        ToolRun r = run({"l", test_data(sample.file)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(has_line(r.out, sample.found)) << r.out;
        for (const char *line : sample.lines)
            EXPECT_TRUE(has_line(r.out, line)) << line << "\n" << r.out;
        EXPECT_TRUE(has_line(r.out, sample.summary)) << r.out;
        // Archive line, found line, blank, column heads, entries, blank, summary.
        EXPECT_EQ(line_count(r.out), 6 + int(sample.lines.size()));
    }
}

TEST_F(ZqrarFixture, ListsArchiveBehindProgramWithMarks) {
    RarFileEntry damaged = rar_stored_entry("bad header.txt", "x");
    damaged.bad_crc = true;
    RarFileEntry solid = rar_stored_entry("dir/solid.txt", "solid");
    solid.flags = 0x8010;
    solid.file_time = rar_dos_time(2001, 2, 3, 4, 5, 6);
    std::string program(0x18000, 'p');
    std::string path = save("setup.exe", program + rar_archive({damaged, solid}));
    ToolRun r = run({"l", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has_line(r.out, "Found behind other data (kind 3) at offset 98304, format RAR "
                                "2.x, main header flags 0x0000"))
        << r.out;
    EXPECT_NE(r.out.find("----! "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" bad header.txt\n"), std::string::npos) << r.out;
    EXPECT_TRUE(has_line(r.out, "S----          5          5 Win32  2.0  0x30 00000020 "
                                "a438cdbc 2001-02-03 04:05:06 dir\\solid.txt"))
        << r.out;
    EXPECT_TRUE(has_line(r.out, "1 header with a damaged checksum")) << r.out;
}

TEST_F(ZqrarFixture, HelpAndVersion) {
    const std::vector<std::vector<std::string>> help_forms = {
        {"--help"}, {"-h"}, {"l", "--help"}, {"l", "archive.rar", "-h"}};
    for (const auto &args : help_forms) {
        ToolRun r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: zqrar COMMAND [OPTIONS] ARCHIVE\n", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
    for (const char *form : {"--version", "-V"}) {
        ToolRun r = run({form});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "zqrar 3.20\n");
    }
}

// Every failure: one line on stderr, nothing on stdout, a nonzero status.
TEST_F(ZqrarFixture, Failures) {
    std::string no_archive = save("plain.bin", std::string(4000, 'x'));
    std::string tiny = save("tiny.bin", "Rar!");
    struct FailureCase {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<FailureCase> cases = {
        {{}, 2, "zqrar: no command given (try 'zqrar --help')"},
        {{"l"}, 2, "zqrar: no archive given (try 'zqrar --help')"},
        {{"q", no_archive}, 2, "zqrar: unknown command q (try 'zqrar --help')"},
        {{"l", no_archive, "--frobnicate"},
         2,
         "zqrar: unknown option --frobnicate (try 'zqrar --help')"},
        {{"l", no_archive, "extra"}, 2, "zqrar: unexpected argument extra (try 'zqrar --help')"},
        {{"l", dir + "/missing.rar"},
         3,
         "zqrar: cannot open " + std::string(dir) + "/missing.rar: No such file or directory"},
        {{"l", dir}, 3, "zqrar: cannot read " + dir + ": it is a folder"},
        {{"t", "/dev/null"}, 3, "zqrar: cannot read /dev/null: it is no regular file"},
        {{"l", no_archive}, 4, "zqrar: " + no_archive + ": no RAR archive found"},
        {{"l", tiny}, 4, "zqrar: " + tiny + ": no RAR archive found"},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.message);
        ToolRun r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.message + "\n");
        EXPECT_EQ(r.out, "");
    }
}

struct TestCase {
    const char *file;
    std::vector<std::string> options;
    int status;
    std::vector<const char *> lines;
};

// The samples under `t`: the run stops at the first entry that fails.
const TestCase test_cases[] = {
    {"external/rar2-unix-owner.rar",
     {},
     0,
     {"OK        file.txt", "1 OK, 0 failed, 0 skipped, 0 not reached"}},
    {"external/rar202-comment-nopsw.rar",
     {},
     0,
     {"OK        FILE1.TXT", "OK        FILE2.TXT", "2 OK, 0 failed, 0 skipped, 0 not reached"}},
    {"external/rar202-comment-psw.rar",
     {"-p", "password"},
     0,
     {"OK        FILE1.TXT", "OK        FILE2.TXT", "2 OK, 0 failed, 0 skipped, 0 not reached"}},
    {"external/rar202-comment-psw.rar",
     {},
     1,
     {"FAILED    FILE1.TXT: encrypted: checksum mismatch (give -p PASSWORD or --installer)",
      "0 OK, 1 failed, 0 skipped, 1 not reached"}},
    {"external/rar202-comment-psw.rar",
     {"--password=Password"},
     1,
     {"FAILED    FILE1.TXT: checksum mismatch", "0 OK, 1 failed, 0 skipped, 1 not reached"}},
    {"external/rar202-comment-psw.rar",
     {"--installer"},
     1,
     {"FAILED    FILE1.TXT: checksum mismatch", "0 OK, 1 failed, 0 skipped, 1 not reached"}},
    {"external/rar15-dirs.rar",
     {},
     1,
     {"folder    EXE",
      "FAILED    EXE\\TEST.EXE: checksum mismatch (method of version 1.5 not decoded)",
      "0 OK, 1 failed, 1 skipped, 3 not reached"}},
    {"external/rar20-multivolume-part1.rar",
     {},
     1,
     {"folder    exe", "folder    jpg", "FAILED    exe\\test.exe: continued in the next volume",
      "0 OK, 1 failed, 2 skipped, 0 not reached"}},
    // Testing checks the data only: the unsafe name passes here, and x refuses it.
    {"synthetic/solid-encrypted.exe",
     {"-p", "secret7"},
     0,
     {"OK        one.txt", "OK        sub\\two.bin", "folder    sub", "OK        three.dat",
      "OK        four-stored-enc.txt", "OK        five-stored.txt", "OK        six-empty",
      "OK        seven.bin", "OK        eight.txt", "OK        nine.txt",
      "OK        ..\\unsafe.txt", "10 OK, 0 failed, 1 skipped, 0 not reached"}},
};

TEST_F(ZqrarFixture, TestsSampleArchives) {
    for (const TestCase &c : test_cases) {
        std::vector<std::string> args = {"t", test_data(c.file)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        SCOPED_TRACE(std::string(c.file) + " " + (c.options.empty() ? "" : c.options[0]));
        ToolRun r = run(args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "");
        for (const char *line : c.lines)
            EXPECT_TRUE(has_line(r.out, line)) << line << "\n" << r.out;
        EXPECT_EQ(line_count(r.out), int(c.lines.size()) + 1) << r.out;
    }
}

TEST_F(ZqrarFixture, ExtractsEncryptedSampleIntoNewFolder) {
    std::string plain = dir + "/plain", deciphered = dir + "/a/b/deciphered";
    ToolRun r = run({"x", test_data("external/rar202-comment-nopsw.rar"), "-o", plain});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = run(
        {"x", "-p", "password", test_data("external/rar202-comment-psw.rar"), "-o", deciphered});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has_line(r.out, "extracted FILE1.TXT")) << r.out;
    for (const char *name : {"/FILE1.TXT", "/FILE2.TXT"}) {
        EXPECT_EQ(read_file(plain + name).size(), 7u);
        EXPECT_EQ(read_file(deciphered + name), read_file(plain + name));
    }
}

// Another encoder's solid, encrypted stream: every safe entry comes out
// byte for byte; the unsafe name of the last entry is refused, which fails
// the run (exit status 1) after all the others are written.
TEST_F(ZqrarFixture, ExtractsSyntheticSolidStream) {
    std::string out = dir + "/x";
    ToolRun r = run({"x", "-p", "secret7", test_data("synthetic/solid-encrypted.exe"), "-o", out});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has_line(r.out, "FAILED    ..\\unsafe.txt: name leads outside the target folder"))
        << r.out;
    EXPECT_TRUE(has_line(r.out, "9 OK, 1 failed, 1 skipped, 0 not reached")) << r.out;
    EXPECT_EQ(differing_files(files_below(out), files_below(test_data("synthetic/expect"))),
              std::vector<std::string>{});
    struct stat info;
    EXPECT_NE(stat((dir + "/unsafe.txt").c_str(), &info), 0);
}

TEST_F(ZqrarFixture, InstallerPasswordOnlyWhenAsked) {
    std::string setup = save(
        "setup.exe",
        std::string(0x18000, 'p') +
            rar_archive({encrypted_entry("ZQNG.DAT", "data of the product", built_in_password)}));
    ToolRun r = run({"t", setup, "--installer"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has_line(r.out, "OK        ZQNG.DAT")) << r.out;
    r = run({"t", setup, std::string("-p") + built_in_password});
    EXPECT_EQ(r.status, 0) << r.out;
    r = run({"t", setup});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(
        r.out,
        "FAILED    ZQNG.DAT: encrypted: checksum mismatch (give -p PASSWORD or --installer)"))
        << r.out;
}

std::string language_archive() {
    return rar_archive({rar_stored_entry("ZQNG_DE.HLP", "de"),
                        rar_stored_entry("ZQNG_US.HLP", "us"),
                        rar_stored_entry("zqng_fr.hlp", "fr"), rar_stored_entry("ZQNG.DAT", "dat"),
                        rar_stored_entry("NAVGZIP.SET", "new settings"),
                        rar_stored_entry("SUB\\DEEP/FILE.TXT", "deep")});
}

// The language choice and the settings-file rule, as the setup applies them;
// options before and after the archive name alike.
TEST_F(ZqrarFixture, ExtractsLikeTheSetup) {
    std::string archive = save("setup.exe", std::string(0x18000, 'p') + language_archive());
    const std::vector<std::vector<std::string>> forms = {
        {"x", archive, "-o", "@", "--lang", "de"},
        {"--lang=DE", "-o@", "x", archive},
        {"x", "--output", "@", archive, "--lang", "DE"},
        {"--output=@", "--lang", "de,", "x", "--", archive},
    };
    for (const auto &form : forms) {
        std::string out = make_temp_dir("zqrar-out");
        std::vector<std::string> args;
        for (const std::string &arg : form)
            args.push_back(arg == "@"            ? out
                           : arg == "-o@"        ? "-o" + out
                           : arg == "--output=@" ? "--output=" + out
                                                 : arg);
        SCOPED_TRACE(args[0] + " " + args[1]);
        write_file(out + "/ZQNG_US.HLP", "left by an earlier installation");
        write_file(out + "/NAVGZIP.SET", "the user's settings");
        ToolRun r = run(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        for (const char *line :
             {"extracted ZQNG_DE.HLP", "skipped   ZQNG_US.HLP (language not chosen)",
              "skipped   zqng_fr.hlp (language not chosen)", "extracted ZQNG.DAT",
              "kept      NAVGZIP.SET (already present)", "extracted SUB\\DEEP\\FILE.TXT",
              "3 OK, 0 failed, 3 skipped, 0 not reached"})
            EXPECT_TRUE(has_line(r.out, line)) << line << "\n" << r.out;
        EXPECT_EQ(read_file(out + "/ZQNG_DE.HLP"), "de");
        EXPECT_EQ(read_file(out + "/ZQNG.DAT"), "dat");
        EXPECT_EQ(read_file(out + "/SUB/DEEP/FILE.TXT"), "deep");
        EXPECT_EQ(read_file(out + "/NAVGZIP.SET"), "the user's settings");
        struct stat info;
        EXPECT_NE(stat((out + "/ZQNG_US.HLP").c_str(), &info), 0);
        EXPECT_NE(stat((out + "/zqng_fr.hlp").c_str(), &info), 0);
        remove_tree(out);
    }
}

// Paths are this system's own: on Linux "c:a.rar" names a file and "x:y" a
// folder (no drive letters, nothing under a shared folder), '\' is an
// ordinary character of a folder name, even at its end; without -o the
// current folder.
TEST_F(ZqrarFixture, TakesPlainLinuxPaths) {
    save("c:a.rar", rar_archive({rar_stored_entry("SUB\\here.txt", "here")}));
    std::string zqrar = shell_quoted(ZQ_BINARY_DIR "/zqrar");
    std::string command = "(cd " + shell_quoted(dir) + " && " + zqrar + " x c:a.rar && " + zqrar +
                          " x c:a.rar -o x:y && " + zqrar + " x c:a.rar -o 'back\\slash\\')" +
                          " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char *folder : {"", "x:y/", "back\\slash\\/"})
        EXPECT_EQ(read_file(dir + "/" + folder + "SUB/here.txt"), "here") << folder;
}

// Block positions end at 2 GiB: an archive whose walk gets there fails l, t
// and x, also when the file goes on (once taken for the archive's end); one
// that ends at 2^31 - 1 is whole. Sparse files, a few kilobytes on disk.
TEST_F(ZqrarFixture, ArchivesReachingTwoGigabytes) {
    std::string head;
    rar_put_marker(head);
    rar_put_main_header(head, RarMainEntry());
    rar_put_file(head, rar_stored_entry("A.TXT", "a"));
    RarBlockEntry filler;
    filler.flags = 0x8000;
    filler.add_size = INT32_MAX - int64_t(head.size()) - 11; // next block at 2^31 - 1
    rar_put_block(head, filler);
    std::string beyond;
    rar_put_file(beyond, rar_stored_entry("B.TXT", "b"));
    const struct {
        const char *what;
        std::string at_end; // written at 2^31 - 1
        int64_t size;
        int status;
    } cases[] = {
        {"ends at 2^31 - 1", "", INT32_MAX, 0},
        {"zeros beyond", "", int64_t(INT32_MAX) + 100, 1},
        {"a file header at 2^31 - 1", beyond, int64_t(INT32_MAX) + int64_t(beyond.size()), 1},
    };
    std::string path = dir + "/big.rar";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(path, head);
        ASSERT_EQ(truncate(path.c_str(), c.size), 0);
        FILE *file = fopen(path.c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(fseeko(file, INT32_MAX, SEEK_SET), 0);
        fwrite(c.at_end.data(), 1, c.at_end.size(), file);
        fclose(file);
        for (const char *command : {"l", "t", "x"}) {
            std::vector<std::string> args = {command, path};
            if (command[0] == 'x')
                args.insert(args.end(), {"-o", dir + "/files"});
            ToolRun r = run(args);
            EXPECT_EQ(r.status, c.status) << command << "\n" << r.out << r.err;
            EXPECT_EQ(r.err.find("no block at or beyond 2 GiB is read") != std::string::npos,
                      c.status != 0)
                << command << "\n"
                << r.err;
        }
        EXPECT_EQ(read_file(dir + "/files/A.TXT"), "a");
    }
}

// Each failure says what happened, and names are shown with their control
// characters escaped, in every command.
TEST_F(ZqrarFixture, SaysWhatHappened) {
    RarFileEntry both_volumes = rar_stored_entry("BOTH.TXT", "b");
    both_volumes.flags |= 0x0003;
    RarFileEntry label = rar_stored_entry("DISK1", "");
    label.attributes = 0x08;
    RarFileEntry cut = rar_stored_entry("CUT.TXT", "6bytes");
    cut.unp_size = 1000000;
    const std::string escaped = "esc\\x1B[31m\\x0AFAKE\\x7F";
    const std::string long_folder = dir + "/" + std::string(200, 'n');
    const std::string long_name(40, 'L');
    const size_t long_path = long_folder.size() + 2 + long_name.size(); // '/' and '\' between
    const struct {
        std::vector<RarFileEntry> entries;
        const char *command;
        std::string folder;
        int status;
        std::string line;
    } cases[] = {
        {{both_volumes},
         "t",
         "",
         1,
         "FAILED    BOTH.TXT: continued from a previous volume and in the next one"},
        {{rar_stored_entry("A.TXT", "a"), both_volumes},
         "t",
         "",
         1,
         "FAILED    BOTH.TXT: continued from a previous volume and in the next one"},
        {{label}, "x", dir + "/label", 0, "label     DISK1 (volume label, passed over)"},
        {{cut},
         "t",
         "",
         1,
         "FAILED    CUT.TXT: stored data shorter than the 1000000 bytes its header gives"},
        {{cut},
         "x",
         dir + "/cut",
         1,
         "FAILED    CUT.TXT: stored data shorter than the 1000000 bytes its header gives"},
        {{rar_stored_entry(long_name, "x")},
         "x",
         long_folder,
         1,
         "FAILED    " + long_name + ": path too long: the output folder and the name make " +
             std::to_string(long_path) + " characters, at most 259"},
        {{rar_stored_entry("esc\x1b[31m\nFAKE\x7f", "e")}, "t", "", 0, "OK        " + escaped},
        {{rar_stored_entry("esc\x1b[31m\nFAKE\x7f", "e")},
         "x",
         dir + "/esc",
         0,
         "extracted " + escaped},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        std::string archive = save("a.rar", rar_archive(c.entries));
        std::vector<std::string> args = {c.command, archive};
        if (!c.folder.empty())
            args.insert(args.end(), {"-o", c.folder});
        ToolRun r = run(args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_TRUE(has_line(r.out, c.line)) << r.out;
    }
    ToolRun r = run({"l", dir + "/a.rar"});
    EXPECT_NE(r.out.find(" " + escaped + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(dir + "/esc/esc\x1b[31m\nFAKE\x7f"), "e");
    struct stat info;
    EXPECT_NE(stat((dir + "/cut/CUT.TXT").c_str(), &info), 0);
}

TEST_F(ZqrarFixture, ExtractionFailures) {
    std::string archive = save("a.rar", rar_archive({rar_stored_entry("f.txt", "f")}));
    std::string not_folder = save("file", "x");
    RarFileEntry bad = rar_stored_entry("bad.txt", "damaged");
    bad.file_crc ^= 1;
    std::string damaged = save("d.rar", rar_archive({rar_stored_entry("good.txt", "g"), bad,
                                                     rar_stored_entry("after.txt", "a")}));
    ToolRun r = run({"x", archive, "-o", not_folder});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "zqrar: " + not_folder + " is not a folder\n");
    r = run({"x", archive, "-o", dir + "/" + std::string(300, 'n')});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err.rfind("zqrar: folder name too long: ", 0), 0u) << r.err;
    std::string out = dir + "/dest";
    r = run({"x", damaged, "-o", out});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has_line(r.out, "extracted good.txt")) << r.out;
    EXPECT_TRUE(has_line(r.out, "FAILED    bad.txt: checksum mismatch")) << r.out;
    EXPECT_TRUE(has_line(r.out, "1 OK, 1 failed, 0 skipped, 1 not reached")) << r.out;
    EXPECT_EQ(read_file(out + "/good.txt"), "g");
    struct stat info;
    EXPECT_NE(stat((out + "/bad.txt").c_str(), &info), 0);
    EXPECT_NE(stat((out + "/after.txt").c_str(), &info), 0);
}

TEST_F(ZqrarFixture, OptionMisuse) {
    std::string archive = save("a.rar", rar_archive({rar_stored_entry("f.txt", "f")}));
    struct MisuseCase {
        std::vector<std::string> args;
        const char *message;
    };
    const std::vector<MisuseCase> cases = {
        {{"l", archive, "-p", "x"}, "-p and --installer are for t and x"},
        {{"l", "--installer", archive}, "-p and --installer are for t and x"},
        {{"t", archive, "-o", dir}, "-o and --lang are for x"},
        {{"t", archive, "--lang", "DE"}, "-o and --lang are for x"},
        {{"x", archive, "-p", "x", "--installer"}, "give either -p or --installer"},
        {{"x", archive, "--lang", "DE,XX"}, "unknown language list DE,XX"},
        {{"x", archive, "--lang", ","}, "unknown language list ,"},
        {{"x", archive, "-p"}, "missing value for -p"},
        {{"x", archive, "--output"}, "missing value for --output"},
        {{"t", archive, "-p", std::string(128, 'p')}, "password longer than 127 characters"},
    };
    for (const MisuseCase &c : cases) {
        SCOPED_TRACE(c.message);
        ToolRun r = run(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "zqrar: " + std::string(c.message) + " (try 'zqrar --help')\n");
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
