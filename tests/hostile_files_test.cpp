// The extraction against a file system that someone else prepared: links to
// folders and files in the target folder (dangling ones too), links at the
// kept settings file and at an entry that is not written, a folder link
// under a language file's name, FIFOs, a device node, read-only files. Each
// case runs twice: through zqrar on plain Linux paths (the tools' file
// layer) and through extract_archive on the Windows model, where a link is a
// reparse point and the setup's own Win32 code does the work. For each: the
// result, the message, what stands at the name afterwards, and that nothing
// in a sibling folder changed (its files, their bytes, modes and times).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "setup/setup_state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/extraction_fixture.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_run.h"

namespace {

using Names = std::vector<std::string>;

enum PlantKind { plant_link, plant_fifo, plant_device, plant_read_only };
// What stands at the plant's name after the run.
enum After { after_file, after_link, after_plant };
constexpr int old_version = 1; // the entry needs version 2.9: it is not written
constexpr int german_only = 2; // the further languages are not ticked

struct Case {
    const char *what;
    PlantKind kind;   // what is put below the target before the run,
    const char *name; // where ('/' between folders, which are made first),
    const char *to;   // and, for a link, what in the sibling folder it points to
    const char *entry;
    int flags;
    ExtractionResult result;
    const char *caption; // of the model's message; "" for none
    const char *reason;  // zqrar's, behind "FAILED    ENTRY: "
    After after;
};

const char through_link[] = "its path goes through a link or junction in the output folder";
const char special[] = "a FIFO, device or socket stands at its path";
const char cannot_create[] =
    "cannot create the file (a folder or a read-only file in the way, or no rights)";

const Case cases[] = {
    {"folder link on the way", plant_link, "lnk", "dir", "lnk\\inner.txt", 0, 4, "lnk\\inner.txt",
     through_link, after_link},
    {"folder link deeper on the way", plant_link, "SUB/DEEP", "dir", "SUB\\DEEP\\X.TXT", 0, 4,
     "SUB\\DEEP\\X.TXT", through_link, after_link},
    {"file link at a written entry", plant_link, "A.TXT", "victim.txt", "A.TXT", 0, 0, "", "",
     after_file},
    {"dangling link at a written entry", plant_link, "A.TXT", "new.txt", "A.TXT", 0, 0, "", "",
     after_file},
    {"folder link at a written entry", plant_link, "A.TXT", "dir", "A.TXT", 0, 0, "", "",
     after_file},
    {"link at the kept settings file", plant_link, "NAVGZIP.SET", "victim.txt", "NAVGZIP.SET", 0, 0,
     "", "", after_link},
    {"dangling link at the settings file", plant_link, "NAVGZIP.SET", "new.txt", "NAVGZIP.SET", 0,
     0, "", "", after_link},
    {"link at an entry that is not written", plant_link, "OLD.BIN", "victim.txt", "OLD.BIN",
     old_version, 1, "", "needs an unsupported version", after_link},
    {"link at a language file not chosen", plant_link, "ZQNG_FR.HLP", "victim.txt", "ZQNG_FR.HLP",
     german_only, 0, "", "", after_link},
    {"folder link under a language file's name", plant_link, "ZQNG_FR.d", "dir",
     "ZQNG_FR.d\\inner.txt", german_only, 4, "ZQNG_FR.d\\inner.txt", through_link, after_link},
    {"FIFO at a written entry", plant_fifo, "A.TXT", "", "A.TXT", 0, 4, "A.TXT", special,
     after_plant},
    {"FIFO at the settings file", plant_fifo, "NAVGZIP.SET", "", "NAVGZIP.SET", 0, 4, "NAVGZIP.SET",
     special, after_plant},
    {"FIFO at an entry that is not written", plant_fifo, "OLD.BIN", "", "OLD.BIN", old_version, 4,
     "OLD.BIN", special, after_plant},
    {"FIFO where a folder should be", plant_fifo, "PIPE", "", "PIPE\\X.TXT", 0, 1,
     "D:\\Target\\PIPE\\X.TXT", cannot_create, after_plant},
    {"device at a written entry", plant_device, "A.TXT", "", "A.TXT", 0, 4, "A.TXT", special,
     after_plant},
    {"read-only file at a written entry", plant_read_only, "A.TXT", "", "A.TXT", 0, 1,
     "D:\\Target\\A.TXT", cannot_create, after_plant},
    {"read-only settings file", plant_read_only, "NAVGZIP.SET", "", "NAVGZIP.SET", 0, 0, "", "",
     after_plant},
};

// Every entry below folder, not followed: its kind, mode and time, and its
// bytes or where it points.
void snapshot(const std::string &folder, const std::string &prefix,
              std::map<std::string, std::string> *entries) {
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0)
            continue;
        std::string state = std::to_string(info.st_mode) + " " + std::to_string(info.st_mtime);
        if (S_ISLNK(info.st_mode)) {
            char to[512];
            ssize_t length = readlink(path.c_str(), to, sizeof to);
            state += " -> " + std::string(to, length > 0 ? size_t(length) : 0);
        } else if (S_ISREG(info.st_mode)) {
            state += " " + read_file(path);
        } else if (S_ISDIR(info.st_mode)) {
            snapshot(path, prefix + name + "/", entries);
        }
        (*entries)[prefix + name] = state;
    }
    closedir(dir);
}

struct HostileFilesTest : ExtractionFixture {
    std::string outside() const { return root + "/D/Outside"; }

    // An empty target and the sibling folder with a file and a folder, all
    // of an old time; then the case's plant. False when the system does not
    // let the test make a device node.
    bool prepare(const Case &c) {
        reset_target();
        mkdir(outside().c_str(), 0755);
        mkdir((outside() + "/dir").c_str(), 0755);
        write_file(outside() + "/victim.txt", "precious");
        write_file(outside() + "/dir/inner.txt", "inner");
        chmod((outside() + "/victim.txt").c_str(), 0640);
        const timespec old[2] = {{981173106, 0}, {981173106, 0}}; // 2001-02-03
        for (const char *name : {"/victim.txt", "/dir/inner.txt", "/dir"})
            utimensat(AT_FDCWD, (outside() + name).c_str(), old, 0);
        std::string path = in_target(c.name);
        for (size_t slash = path.find('/', in_target("").size()); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0755);
        bool made = true;
        switch (c.kind) {
        case plant_link:
            made = symlink((outside() + "/" + c.to).c_str(), path.c_str()) == 0;
            break;
        case plant_fifo:
            made = mkfifo(path.c_str(), 0644) == 0;
            break;
        case plant_device:
            if (mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0)
                return false;
            break;
        case plant_read_only:
            write_file(path, "planted");
            made = chmod(path.c_str(), 0444) == 0;
            break;
        }
        EXPECT_TRUE(made);
        return true;
    }

    std::string archive(const Case &c) const {
        RarFileEntry entry = rar_stored_entry(c.entry, "fresh");
        // Read-only and dated: applied to anything but the new file, they
        // would show in the sibling's snapshot.
        entry.attributes = 0x21;
        entry.file_time = rar_dos_time(2010, 11, 3, 0, 27, 28);
        if (c.flags & old_version)
            entry.unp_ver = 29;
        return rar_archive({entry});
    }

    void check_name(const Case &c) const {
        std::string path = in_target(c.name);
        struct stat info;
        ASSERT_EQ(lstat(path.c_str(), &info), 0);
        if (c.after == after_file) {
            EXPECT_TRUE(S_ISREG(info.st_mode));
            EXPECT_EQ(read_file(path), "fresh");
        } else if (c.after == after_link) {
            EXPECT_TRUE(S_ISLNK(info.st_mode));
        } else if (c.kind == plant_read_only) {
            EXPECT_EQ(read_file(path), "planted");
        } else {
            EXPECT_TRUE(c.kind == plant_fifo ? S_ISFIFO(info.st_mode) : S_ISCHR(info.st_mode));
        }
    }
};

TEST_F(HostileFilesTest, NothingGoesThroughALinkOrOpensASpecialFile) {
    for (bool on_model : {false, true}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(on_model ? "model: " : "zqrar: ") + c.what);
            if (!prepare(c)) {
                printf("%s: no device node may be made here, case left out\n", c.what);
                continue;
            }
            std::map<std::string, std::string> before, after;
            snapshot(outside(), "", &before);
            write_file(setup_path(), archive(c));
            if (on_model) {
                language_table[2].selected = c.flags & german_only ? 0 : 1;
                strcpy(target, "D:\\Target");
                EXPECT_EQ(extract_archive(nullptr, setup_path().c_str(), target), c.result);
                EXPECT_EQ(captions(), *c.caption ? Names{c.caption} : Names{});
            } else {
                ToolRun run = run_tool("zqrar",
                                       {"x", setup_path(), "-o", root + "/D/Target", "--lang",
                                        c.flags & german_only ? "DE,US" : "ALL"},
                                       root);
                EXPECT_EQ(run.status, c.result == 0 ? 0 : 1) << run.out << run.err;
                if (c.result != 0) {
                    std::string line = std::string("FAILED    ") + c.entry + ": " + c.reason;
                    EXPECT_NE(run.out.find(line + "\n"), std::string::npos) << run.out;
                }
            }
            check_name(c);
            snapshot(outside(), "", &after);
            EXPECT_EQ(after, before);
        }
    }
}

} // namespace
