// The host model of the Windows file calls: drive mapping, attributes, folder
// errors, handles and times, DOS dates and the find-first search.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/host/host_files.h"
#include "platform/win32_api.h"
#include "tests/support/test_paths.h"

namespace {

// FILETIME of 1980-01-01 00:00:00, the first DOS date.
constexpr uint64_t dos_epoch_ticks = 119600064000000000ULL;

uint64_t ticks(const FILETIME &time) {
    return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct HostFilesTest : testing::Test {
    std::string root;
    void SetUp() override {
        root = make_temp_dir("host");
        ASSERT_FALSE(root.empty());
        host_set_root(root.c_str());
        mkdir((root + "/C").c_str(), 0777);
    }
    void TearDown() override { remove_tree(root); }
};

TEST_F(HostFilesTest, MapsDrivePaths) {
    mkdir((root + "/C/Program Files").c_str(), 0777);
    write_file(root + "/C/Program Files/Read Me.TXT", "x");
    const struct {
        const char *windows;
        std::string host;
    } cases[] = {
        {"C:\\a\\b", root + "/C/a/b"},
        {"c:/a\\b/", root + "/C/a/b/"},
        {"C:\\", root + "/C"},
        {"C:\\x\\.\\..\\..\\..\\etc", root + "/C/etc"}, // never above the drive
        {"C:\\PROGRAM FILES\\read me.txt", root + "/C/Program Files/Read Me.TXT"},
        {"C:\\program files\\New.txt", root + "/C/Program Files/New.txt"},
        {"/tmp/plain\\name", "/tmp/plain/name"},
        {"relative\\NAME", "relative/NAME"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(host_path(c.windows), c.host) << c.windows;
}

TEST_F(HostFilesTest, CreateDirectoryErrors) {
    EXPECT_TRUE(CreateDirectoryA("C:\\New", nullptr));
    EXPECT_FALSE(CreateDirectoryA("C:\\New", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("C:\\Missing\\Sub", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(CreateDirectoryA("Q:\\Sub", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST_F(HostFilesTest, AttributesReadBack) {
    write_file(root + "/C/file.txt", "data");
    mkdir((root + "/C/dir").c_str(), 0777);
    EXPECT_EQ(GetFileAttributesA("C:\\file.txt"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA("C:\\dir"), DWORD(FILE_ATTRIBUTE_DIRECTORY));

    const struct {
        DWORD set;
        DWORD read;
    } cases[] = {
        {0x21, 0x21},
        {0x27, 0x27},
        {0x02, 0x02},
        {0x00, FILE_ATTRIBUTE_NORMAL},
        {0x80, FILE_ATTRIBUTE_NORMAL},
        {0x30, 0x20}, // the directory bit is not a file's
    };
    for (const auto &c : cases) {
        EXPECT_TRUE(SetFileAttributesA("C:\\FILE.TXT", c.set));
        EXPECT_EQ(GetFileAttributesA("C:\\file.txt"), c.read) << c.set;
        struct stat info;
        ASSERT_EQ(stat((root + "/C/file.txt").c_str(), &info), 0);
        EXPECT_EQ((info.st_mode & 0222) == 0, (c.set & FILE_ATTRIBUTE_READONLY) != 0) << c.set;
    }
    EXPECT_TRUE(SetFileAttributesA("C:\\dir", 0x03));
    EXPECT_EQ(GetFileAttributesA("C:\\dir"), DWORD(0x13));

    EXPECT_EQ(GetFileAttributesA("C:\\none.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA("C:\\none\\file.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(SetFileAttributesA("C:\\none.txt", 0x20));
}

TEST_F(HostFilesTest, ReadOnlyFileIsNotReplaced) {
    write_file(root + "/C/ro.txt", "keep");
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(DeleteFileA("C:\\ro.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(platform_open_stream("C:\\ro.txt", "w+b", 2), nullptr);
    EXPECT_EQ(CreateFileA("C:\\ro.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    FILE *in = platform_open_stream("C:\\ro.txt", "rb", 1);
    ASSERT_NE(in, nullptr);
    fclose(in);
    EXPECT_EQ(read_file(root + "/C/ro.txt"), "keep");

    ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(DeleteFileA("C:\\ro.txt"));
    EXPECT_EQ(GetFileAttributesA("C:\\ro.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(HostFilesTest, DeletedOrRecreatedFileForgetsItsAttributes) {
    write_file(root + "/C/a.txt", "1");
    ASSERT_TRUE(SetFileAttributesA("C:\\a.txt", 0x06));
    ASSERT_TRUE(DeleteFileA("C:\\a.txt"));
    write_file(root + "/C/a.txt", "2");
    EXPECT_EQ(GetFileAttributesA("C:\\a.txt"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesA("C:\\a.txt", 0x06));
    FILE *out = platform_open_stream("C:\\a.txt", "w+b", 2);
    ASSERT_NE(out, nullptr);
    fclose(out);
    EXPECT_EQ(GetFileAttributesA("C:\\a.txt"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(HostFilesTest, RemovalRules) {
    mkdir((root + "/C/full").c_str(), 0777);
    write_file(root + "/C/full/f", "x");
    EXPECT_FALSE(DeleteFileA("C:\\full"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(RemoveDirectoryA("C:\\full"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\full\\f"));
    EXPECT_FALSE(DeleteFileA("C:\\full\\missing"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(DeleteFileA("C:\\FULL\\F"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\Full"));
    EXPECT_EQ(GetFileAttributesA("C:\\full"), INVALID_FILE_ATTRIBUTES);
}

TEST(DosDateTime, Conversions) {
    const struct {
        WORD date, time;
        bool valid;
        uint64_t seconds_after_1980; // meaningful when valid
    } cases[] = {
        {0x0021, 0x0000, true, 0},                        // 1980-01-01 00:00:00
        {0x0021, 0xBF7D, true, 23 * 3600 + 59 * 60 + 58}, // 23:59:58
        {0x0041, 0x0000, true, 31 * 86400},               // 1980-02-01
        {(4 << 9) | (2 << 5) | 29, 0, true, (4 * 365 + 1 + 31 + 28) * 86400ULL}, // 1984-02-29
        {(1 << 9) | (2 << 5) | 29, 0, false, 0},                                 // 1981-02-29
        {(1 << 9) | (4 << 5) | 31, 0, false, 0},                                 // April 31
        {0x0001, 0x0000, false, 0},                                              // month 0
        {(13 << 5) | 1, 0x0000, false, 0},                                       // month 13
        {0x0020, 0x0000, false, 0},                                              // day 0
        {0x0021, 24 << 11, false, 0},                                            // hour 24
        {0x0021, 60 << 5, false, 0},                                             // minute 60
        {0x0021, 30, false, 0},                                                  // second 60
    };
    for (const auto &c : cases) {
        FILETIME time = {1, 2};
        BOOL ok = DosDateTimeToFileTime(c.date, c.time, &time);
        EXPECT_EQ(ok != FALSE, c.valid) << std::hex << c.date << " " << c.time;
        if (c.valid && ok) {
            EXPECT_EQ(ticks(time), dos_epoch_ticks + c.seconds_after_1980 * 10000000ULL)
                << std::hex << c.date << " " << c.time;
        }
    }
    FILETIME last = {};
    ASSERT_TRUE(DosDateTimeToFileTime(0xFF9F, 0xBF7D, &last)); // 2107-12-31 23:59:58
    FILETIME utc = {};
    ASSERT_TRUE(LocalFileTimeToFileTime(&last, &utc));
    EXPECT_EQ(ticks(utc), ticks(last));
}

TEST_F(HostFilesTest, FileTimesThroughHandles) {
    write_file(root + "/C/t.txt", "x");
    HANDLE file = CreateFileA("C:\\T.TXT", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME stamp;
    ASSERT_TRUE(DosDateTimeToFileTime((26 << 9) | (7 << 5) | 15, (22 << 11) | (0 << 5) | 11,
                                      &stamp)); // 2006-07-15 22:00:22
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &stamp));
    EXPECT_TRUE(CloseHandle(file));
    struct stat info;
    ASSERT_EQ(stat((root + "/C/t.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1153000822);
    EXPECT_EQ(info.st_mtim.tv_nsec, 0);

    HANDLE reader =
        CreateFileA("C:\\t.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION read_back;
    ASSERT_TRUE(GetFileInformationByHandle(reader, &read_back));
    EXPECT_EQ(ticks(read_back.ftLastWriteTime), ticks(stamp));
    EXPECT_FALSE(SetFileTime(reader, nullptr, nullptr, &stamp));
    CloseHandle(reader);

    EXPECT_EQ(CreateFileA("C:\\none.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CreateFileA("C:\\", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    HANDLE made = CreateFileA("C:\\made.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    EXPECT_EQ(CreateFileA("C:\\made.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST_F(HostFilesTest, FindFirstFile) {
    mkdir((root + "/C/Help").c_str(), 0777);
    write_file(root + "/C/Help/zqng_us.hlp", "us");
    write_file(root + "/C/Help/ZQNG_DE.HLP", "de!");
    write_file(root + "/C/Help/ZQNG_FRA.HLP", "fra");
    write_file(root + "/C/Help/README", "r");
    const struct {
        const char *pattern;
        const char *found; // nullptr: nothing
    } cases[] = {
        {"C:\\Help\\ZQNG_DE.HLP", "ZQNG_DE.HLP"},
        {"C:\\help\\ZQNG_US.HLP", "zqng_us.hlp"},
        {"C:\\Help\\ZQNG_??.HLP", "ZQNG_DE.HLP"}, // alphabetical, ignoring case
        {"C:\\Help\\ZQNG_FR.HLP", nullptr},
        {"C:\\Help\\ZQNG_???.HLP", "ZQNG_DE.HLP"},
        {"C:\\Help\\*.TXT", nullptr},
        {"C:\\Help\\READ*.*", "README"},
        {"C:\\Help\\*RA.hlp", "ZQNG_FRA.HLP"},
    };
    for (const auto &c : cases) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(c.pattern, &data);
        if (!c.found) {
            EXPECT_EQ(find, INVALID_HANDLE_VALUE) << c.pattern;
            EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
            continue;
        }
        ASSERT_NE(find, INVALID_HANDLE_VALUE) << c.pattern;
        EXPECT_STREQ(data.cFileName, c.found) << c.pattern;
        EXPECT_TRUE(FindClose(find));
    }
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\Help\\ZQNG_DE.HLP", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeLow, 3u);
    EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_ARCHIVE));
    FindClose(find);
    EXPECT_EQ(FindFirstFileA("C:\\Nowhere\\*.*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

} // namespace
