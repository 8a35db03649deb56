// The host model's rules that the setup's behaviour depends on: INI files
// as Windows reads and writes them, registry access rights, MulDiv rounding.
#include <string>

#include "tests/setup_fixture.h"

namespace {

class HostModelTest : public SetupHostTest {};

TEST_F(HostModelTest, PrivateProfileReadingRules) {
    make_file("D:\\A.INI", "[First]\r\nKey=first\r\n\r\n[ Second ]\r\n ; Key=comment\r\n"
                           "  KEY  =  spaced value  \r\nQuoted=\"in quotes\"\r\nEmpty=\r\n");
    const struct {
        const char *section, *key, *fallback;
        unsigned size;
        const char *expected;
        unsigned length;
    } cases[] = {
        {"second", "key", "", 64, "spaced value", 12},
        {"SECOND", "Quoted", "", 64, "in quotes", 9},
        {"Second", "Empty", "dflt", 64, "", 0},
        {"Second", "Missing", "dflt  ", 64, "dflt", 4}, // trailing blanks of the default go
        {"Third", "Key", "", 64, "", 0},
        {"First", "Key", "", 64, "first", 5},
        {"Second", "Key", "", 6, "space", 5}, // cut to the buffer, size - 1 characters
        {"Second", "Key", "", 1, "", 0},
    };
    for (const auto &c : cases) {
        char value[64];
        DWORD length =
            GetPrivateProfileStringA(c.section, c.key, c.fallback, value, c.size, "D:\\A.INI");
        EXPECT_STREQ(value, c.expected) << c.section << "/" << c.key;
        EXPECT_EQ(length, c.length) << c.section << "/" << c.key;
    }
    char value[16];
    EXPECT_EQ(GetPrivateProfileStringA("S", "K", "none", value, 16, "D:\\MISSING.INI"), 4u);
    EXPECT_STREQ(value, "none");
}

TEST_F(HostModelTest, PrivateProfileWritingRules) {
    const char ini[] = "D:\\B.INI";
    EXPECT_TRUE(WritePrivateProfileStringA("Sec", "Language", "US", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("sec", "LANGUAGE", "DE", ini)); // replaces
    EXPECT_TRUE(WritePrivateProfileStringA("SEC", "Other", "1", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("Next", "Key", "2", ini));
    EXPECT_EQ(read_file(host_path(ini)), "[Sec]\r\nLanguage=DE\r\nOther=1\r\n[Next]\r\nKey=2\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("Sec", "Other", nullptr, ini));
    EXPECT_EQ(read_file(host_path(ini)), "[Sec]\r\nLanguage=DE\r\n[Next]\r\nKey=2\r\n");
    EXPECT_FALSE(WritePrivateProfileStringA("Sec", "Key", "v", "Q:\\NOWHERE\\C.INI"));
}

TEST_F(HostModelTest, RegistryAccessRights) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const BYTE data[] = "value";
    EXPECT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, data, sizeof data), ERROR_SUCCESS);
    DWORD size = 64;
    char out[64];
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE *>(out), &size),
              ERROR_ACCESS_DENIED); // opened for writing only
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\x", 0, KEY_READ, &key), ERROR_SUCCESS);
    size = 3;
    EXPECT_EQ(RegQueryValueExA(key, "NAME", nullptr, nullptr, reinterpret_cast<BYTE *>(out), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegQueryValueExA(key, "NAME", nullptr, nullptr, reinterpret_cast<BYTE *>(out), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(out, "value");
    RegCloseKey(key);

    host_registry_deny_machine_writes(true);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Y", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(host_registry_key_exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Y"));
}

TEST_F(HostModelTest, MulDivRoundsHalfAwayFromZero) {
    EXPECT_EQ(MulDiv(-24, 96, 72), -32);
    EXPECT_EQ(MulDiv(-24, 100, 72), -33); // -33.33
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);      // -1.5
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

} // namespace
