// discovery_test.cpp -- the registry value, the game executable and the language markers, on the real registry
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>

#include "app/catalogue.h"
#include "app/discovery.h"
#include "app/state.h"
#include "tests/win_test_support.h"

namespace
{

// The language that the system setting must give in this process (set per run from LC_ALL).
int expected_system_language()
{
    const char *value = getenv("EXPECTED_SYSTEM_LANGUAGE");
    return value ? atoi(value) : 1;
}

class Discovery : public ::testing::Test
{
  protected:
    std::string dir;

    void SetUp() override
    {
        dir = make_temp_dir("discovery");
        remove_game_key();
        // Leftovers of an earlier call must not decide anything.
        strcpy(install_dir, "stale");
        strcpy(details_text, "stale");
        install_found = true;
        language = 9;
    }
    void TearDown() override
    {
        remove_game_key();
        remove_tree(dir);
    }
    void put(const char *name)
    {
        ASSERT_TRUE(write_file(dir + "\\" + name, "x"));
    }
};

TEST_F(Discovery, MarkerFilesChooseTheLanguageAndTheLastInTableOrderWins)
{
    struct Case {
        const char *markers[3];
        int language;
    } cases[] = {
        {{"local.bin"}, 1},
        {{"local_german.bin"}, 2},
        {{"local_russian.bin"}, 3},
        {{"local.bin", "local_german.bin"}, 2},
        {{"local.bin", "local_russian.bin"}, 3},
        {{"local_german.bin", "local_russian.bin"}, 3},
        {{"local.bin", "local_german.bin", "local_russian.bin"}, 3},
    };
    set_game_path(dir);
    put("Ostrevan.exe");
    for (const Case &c : cases) {
        for (const char *marker : {"local.bin", "local_german.bin", "local_russian.bin"})
            DeleteFileA((dir + "\\" + marker).c_str());
        std::string names;
        for (const char *marker : c.markers) {
            if (marker) {
                put(marker);
                names += std::string(marker) + " ";
            }
        }
        discover_installation();
        EXPECT_EQ(language, c.language) << names;
        EXPECT_TRUE(install_found) << names;
        EXPECT_STREQ(install_dir, dir.c_str());
        EXPECT_STREQ(details_text, "") << names;
    }
}

TEST_F(Discovery, GameWithoutMarkerIsDamagedInTheSystemLanguage)
{
    set_game_path(dir);
    put("Ostrevan.exe");
    discover_installation();
    EXPECT_TRUE(install_found);
    EXPECT_EQ(language, expected_system_language());
    EXPECT_STREQ(details_text, catalogue_text(expected_system_language(), Corrupt));
}

TEST_F(Discovery, MissingKeyOrValueMeansNotInstalled)
{
    put("Ostrevan.exe");
    put("local_german.bin");
    discover_installation();
    EXPECT_FALSE(install_found);
    EXPECT_STREQ(install_dir, "");
    EXPECT_STREQ(details_text, "");
    EXPECT_EQ(language, expected_system_language());

    // The key without a "Path" value.
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Ostrevan", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
    discover_installation();
    EXPECT_FALSE(install_found);
    EXPECT_STREQ(install_dir, "");
    EXPECT_STREQ(details_text, "");
}

TEST_F(Discovery, EmptyPathIsNotInstalledButTheLanguageIsStillChosen)
{
    set_game_path("");
    discover_installation();
    EXPECT_FALSE(install_found);
    EXPECT_STREQ(install_dir, "");
    EXPECT_STREQ(details_text, "");
    EXPECT_EQ(language, expected_system_language());
}

TEST_F(Discovery, PathWithoutGameExecutableIsNotInstalledAndNotDamaged)
{
    set_game_path(dir);
    discover_installation();
    EXPECT_FALSE(install_found);
    EXPECT_STREQ(install_dir, dir.c_str());
    EXPECT_STREQ(details_text, "");
    EXPECT_EQ(language, expected_system_language());

    // Its markers still choose the language.
    put("local_russian.bin");
    discover_installation();
    EXPECT_FALSE(install_found);
    EXPECT_EQ(language, 3);
}

std::wstring wide(const std::string &ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// Stores "Path" exactly as given, without the terminator that RegSetValueExA would add.
typedef LONG(WINAPI *NtSetValueKeyFunction)(HANDLE, void *, ULONG, ULONG, const void *, ULONG);
struct CountedUnicode {
    USHORT length, maximum;
    const wchar_t *buffer;
};

void set_raw_path(DWORD type, const void *data, ULONG size)
{
    SCOPED_TRACE("storing Path");
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Ostrevan", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    NtSetValueKeyFunction set_value = reinterpret_cast<NtSetValueKeyFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
    ASSERT_TRUE(set_value != NULL);
    CountedUnicode name = {8, 10, L"Path"};
    EXPECT_EQ(set_value(key, &name, 0, type, data, size), 0);
    RegCloseKey(key);
}

TEST_F(Discovery, BadPathValuesCountAsAbsent)
{
    put("Ostrevan.exe");
    put("local.bin");
    std::string long_path = dir + "\\" + std::string(300 - dir.size() - 1, 'p');
    DWORD number = 0x12345678;
    struct Case {
        const char *what;
        DWORD type;
        std::wstring data; // as stored: strings in UTF-16
    } cases[] = {
        {"300 bytes", REG_SZ, wide(long_path) + L'\0'},
        {"256 bytes without terminator", REG_SZ, std::wstring(256, L'q')},
        {"a number", REG_DWORD, std::wstring(reinterpret_cast<const wchar_t *>(&number), 2)},
        {"REG_EXPAND_SZ longer than 255 bytes once expanded", REG_EXPAND_SZ,
         std::wstring(L"%OSTREVAN_LONG%\\x") + L'\0'},
    };
    SetEnvironmentVariableA("OSTREVAN_LONG", std::string(260, 'l').c_str());
    for (const Case &c : cases) {
        set_raw_path(c.type, c.data.data(), static_cast<ULONG>(c.data.size() * sizeof(wchar_t)));
        discover_installation();
        EXPECT_FALSE(install_found) << c.what;
        EXPECT_STREQ(install_dir, "") << c.what;
        EXPECT_STREQ(details_text, "") << c.what;
    }
}

// Installers write the path with variables in it.
TEST_F(Discovery, ExpandableStringPathIsExpanded)
{
    put("Ostrevan.exe");
    put("local_russian.bin");
    size_t cut = dir.rfind('\\');
    SetEnvironmentVariableA("OSTREVAN_GAMES", dir.substr(0, cut).c_str());
    std::wstring stored = L"%OSTREVAN_GAMES%" + wide(dir.substr(cut)) + L'\0';
    set_raw_path(REG_EXPAND_SZ, stored.data(), static_cast<ULONG>(stored.size() * sizeof(wchar_t)));
    discover_installation();
    EXPECT_STREQ(install_dir, dir.c_str());
    EXPECT_TRUE(install_found);
    EXPECT_EQ(language, 3);
    EXPECT_STREQ(details_text, "");
}

TEST_F(Discovery, PathOfExactlyTheBufferWithoutTerminatorIsTerminated)
{
    std::string value(255, 'r');
    std::wstring stored = wide(value);
    set_raw_path(REG_SZ, stored.data(), static_cast<ULONG>(stored.size() * sizeof(wchar_t)));
    memset(install_dir, 'z', sizeof install_dir);
    discover_installation();
    EXPECT_EQ(std::string(install_dir), value);
    EXPECT_FALSE(install_found);

    // The same directory name, terminated, is a real installation.
    set_game_path(dir);
    put("Ostrevan.exe");
    put("local_german.bin");
    discover_installation();
    EXPECT_TRUE(install_found);
    EXPECT_EQ(language, 2);
}

} // namespace
