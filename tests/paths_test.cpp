// Path helpers and the folder creation of the setup, on the host model of
// Windows drives in a temporary root.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/host/host_files.h"
#include "platform/win32_api.h"
#include "setup/paths.h"
#include "tests/support/test_paths.h"

namespace {

struct PathsTest : testing::Test {
    std::string root;
    void SetUp() override {
        root = make_temp_dir("paths");
        ASSERT_FALSE(root.empty());
        host_set_root(root.c_str());
        mkdir((root + "/D").c_str(), 0777);
    }
    void TearDown() override { remove_tree(root); }
    bool is_folder(const std::string &relative) {
        struct stat info;
        return stat((root + "/" + relative).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
};

TEST(AppendBackslash, Cases) {
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"", ""},
        {"D:\\Tools", "D:\\Tools\\"},
        {"D:\\Tools\\", "D:\\Tools\\"},
        {"D:/Tools/", "D:/Tools/\\"}, // only '\' counts as the end
        {"X:", "X:\\"},
    };
    for (const auto &c : cases) {
        char path[MAX_PATH] = {};
        strcpy(path, c.in);
        append_backslash(path);
        EXPECT_STREQ(path, c.out) << c.in;
    }
}

TEST(AppendBackslash, FullBufferIsLeftAlone) {
    // 259 characters fill the 260-character buffer; a 258-character path
    // still takes its backslash.
    char path[MAX_PATH + 1];
    memset(path, 'a', sizeof path);
    path[259] = '\0';
    path[260] = '#';
    append_backslash(path);
    EXPECT_EQ(strlen(path), 259u);
    EXPECT_EQ(path[260], '#');
    path[258] = '\0';
    append_backslash(path);
    EXPECT_EQ(strlen(path), 259u);
    EXPECT_EQ(path[258], '\\');
}

TEST(StripLastComponent, Cases) {
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"X:\\WINDOWS", "X:\\"},
        {"D:\\Apps\\Tools", "D:\\Apps"},
        {"D:\\Apps\\Tools\\", "D:\\Apps\\Tools"},
        {"Tools", ""},
        {"\\Tools", ""},
        {"D:/Apps/Tools", ""},
        {"D:\\Apps/Tools", "D:\\"},
        {"", ""},
    };
    for (const auto &c : cases) {
        char path[MAX_PATH] = {};
        strcpy(path, c.in);
        strip_last_component(path);
        EXPECT_STREQ(path, c.out) << c.in;
    }
}

TEST_F(PathsTest, PathMissing) {
    mkdir((root + "/D/Folder").c_str(), 0777);
    write_file(root + "/D/Folder/File.txt", "x");
    EXPECT_EQ(path_missing("D:\\Folder"), 0);
    EXPECT_EQ(path_missing("D:\\Folder\\File.txt"), 0);
    EXPECT_EQ(path_missing("D:\\folder\\FILE.TXT"), 0);
    EXPECT_EQ(path_missing("D:\\Folder\\Other.txt"), 2);
    EXPECT_EQ(path_missing("Q:\\"), 2);
}

TEST_F(PathsTest, CreatesMissingParentsOutsideIn) {
    EXPECT_EQ(create_directory_path("D:\\Apps\\Tools\\Viewer"), 0);
    EXPECT_TRUE(is_folder("D/Apps"));
    EXPECT_TRUE(is_folder("D/Apps/Tools"));
    EXPECT_TRUE(is_folder("D/Apps/Tools/Viewer"));
}

TEST_F(PathsTest, FailureResults) {
    write_file(root + "/D/Plain", "x");
    const struct {
        const char *path;
        int32_t result;
    } cases[] = {
        {"Q:\\Apps\\Tools", 2}, // the drive does not exist: parents reach Q:\ .
        {"D:\\", 2},            // exists
        {"D:\\Plain", 2},       // a file stands there
        {"D:\\Plain\\Sub", 2},  // its parent is a file
    };
    for (const auto &c : cases)
        EXPECT_EQ(create_directory_path(c.path), c.result) << c.path;
    EXPECT_FALSE(is_folder("Q"));
    EXPECT_EQ(create_directory_path("D:\\Apps"), 0);
    EXPECT_EQ(create_directory_path("D:\\Apps"), 2);
}

TEST_F(PathsTest, OverlongPathIsRefusedWithoutOverflow) {
    std::string path = "D:\\New";
    for (int i = 0; i < 6; ++i)
        path += "\\" + std::string(50, 'a');
    EXPECT_EQ(create_directory_path(path.c_str()), 2);
    EXPECT_FALSE(is_folder("D/New"));
}

} // namespace
