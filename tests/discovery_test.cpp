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
int system_language()
{
    const char *value = getenv("EXPECTED_SYSTEM_LANGUAGE");
    return value ? atoi(value) : 1;
}

// Stores "Path" exactly as given (strings in UTF-16), without the terminator that RegSetValueExA would add.
void set_raw_path(DWORD type, const std::wstring &data)
{
    typedef LONG(WINAPI * NtSetValueKeyFunction)(HANDLE, void *, ULONG, ULONG, const void *, ULONG);
    struct CountedUnicode {
        USHORT length, maximum;
        const wchar_t *buffer;
    } name = {8, 10, L"Path"};
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Ostrevan", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    NtSetValueKeyFunction set_value = reinterpret_cast<NtSetValueKeyFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
    EXPECT_EQ(set_value(key, &name, 0, type, data.data(), static_cast<ULONG>(data.size() * sizeof(wchar_t))), 0);
    RegCloseKey(key);
}

std::wstring wide(const std::string &ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

class Discovery : public ::testing::Test
{
  protected:
    std::string dir;

    void SetUp() override
    {
        dir = make_temp_dir("discovery");
        remove_game_key();
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
    // Discovery from scratch: leftovers of an earlier call must not decide anything.
    void discover()
    {
        strcpy(install_dir, "stale");
        strcpy(details_text, "stale");
        install_found = true;
        language = 9;
        discover_installation();
    }
};

TEST_F(Discovery, MarkerFilesChooseTheLanguageAndTheLastInTableOrderWins)
{
    struct Case {
        int markers; // bit i: MARKERS[i + 1]
        int language;
    } cases[] = {{1, 1}, {2, 2}, {4, 3}, {3, 2}, {5, 3}, {6, 3}, {7, 3}};
    set_game_path(dir);
    put("Ostrevan.exe");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.markers);
        for (int i = 0; i < 3; ++i) {
            DeleteFileA((dir + "\\" + MARKERS[i + 1]).c_str());
            if (c.markers & 1 << i)
                put(MARKERS[i + 1]);
        }
        discover();
        EXPECT_EQ(language, c.language);
        EXPECT_TRUE(install_found);
        EXPECT_STREQ(install_dir, dir.c_str());
        EXPECT_STREQ(details_text, "");
    }
    // Without a marker the installation is damaged, in the system's language.
    DeleteFileA((dir + "\\local_russian.bin").c_str());
    discover();
    EXPECT_TRUE(install_found);
    EXPECT_EQ(language, system_language());
    EXPECT_STREQ(details_text, catalogue_text(system_language(), Corrupt));
}

// Whatever "Path" holds, discovery ends with a verdict: not installed unless the value names a directory that
// holds the game, in which case a marker there still chooses the language.
TEST_F(Discovery, EveryKindOfPathValue)
{
    put("local_russian.bin");
    std::string expandable = dir.substr(0, dir.rfind('\\'));
    SetEnvironmentVariableA("OSTREVAN_GAMES", expandable.c_str());
    SetEnvironmentVariableA("OSTREVAN_LONG", std::string(260, 'l').c_str());
    DWORD number = 0x12345678;
    enum { NO_KEY = 0x100, NO_VALUE };
    struct Case {
        const char *what;
        DWORD type; // or NO_KEY, NO_VALUE
        std::wstring data;
        bool game;
        std::string install_dir;
        int language;
    } cases[] = {
        {"no key", NO_KEY, L"", true, "", 0},
        {"the key without a value", NO_VALUE, L"", true, "", 0},
        {"empty", REG_SZ, std::wstring(1, L'\0'), true, "", 0},
        {"the directory without the game", REG_SZ, wide(dir) + L'\0', false, dir, 3},
        {"the game", REG_SZ, wide(dir) + L'\0', true, dir, 3},
        {"with variables", REG_EXPAND_SZ, L"%OSTREVAN_GAMES%" + wide(dir.substr(expandable.size())) + L'\0', true, dir,
         3},
        {"300 bytes", REG_SZ, wide(dir + "\\" + std::string(300 - dir.size() - 1, 'p')) + L'\0', true, "", 0},
        {"256 bytes without terminator", REG_SZ, std::wstring(256, L'q'), true, "", 0},
        {"255 bytes without terminator", REG_SZ, std::wstring(255, L'r'), true, std::string(255, 'r'), 0},
        {"a number", REG_DWORD, std::wstring(reinterpret_cast<const wchar_t *>(&number), 2), true, "", 0},
        {"longer than 255 bytes once expanded", REG_EXPAND_SZ, L"%OSTREVAN_LONG%\\x" + std::wstring(1, L'\0'), true, "",
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA((dir + "\\Ostrevan.exe").c_str());
        if (c.game)
            put("Ostrevan.exe");
        remove_game_key();
        HKEY key;
        if (c.type == NO_VALUE && RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan", &key) == ERROR_SUCCESS)
            RegCloseKey(key);
        else if (c.type != NO_KEY)
            set_raw_path(c.type, c.data);
        memset(install_dir, 'z', sizeof install_dir);
        discover();
        EXPECT_EQ(install_found, c.game && c.install_dir == dir);
        EXPECT_EQ(std::string(install_dir), c.install_dir);
        EXPECT_EQ(language, c.language ? c.language : system_language());
        EXPECT_STREQ(details_text, "");
    }
}

} // namespace
