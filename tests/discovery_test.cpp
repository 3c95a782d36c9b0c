// discovery_test.cpp -- the registry value, the game executable and the language markers, on the real registry,
// under the system language EXPECTED_SYSTEM_LANGUAGE that the run's locale gives
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

enum { NO_KEY = 0x100, NO_VALUE };

// Stores "Path" exactly as given (strings in UTF-16), without the terminator that RegSetValueEx would add.
void set_raw_path(DWORD type, const std::wstring &data)
{
    typedef LONG(WINAPI * SetValueCall)(HKEY, void *, ULONG, ULONG, const void *, ULONG);
    struct {
        USHORT length, maximum;
        const wchar_t *buffer;
    } name = {8, 10, L"Path"};
    HKEY key;
    RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan", &key);
    if (type != NO_VALUE)
        reinterpret_cast<SetValueCall>(reinterpret_cast<void *>(GetProcAddress(
            GetModuleHandleA("ntdll.dll"), "NtSetValueKey")))(key, &name, 0, type, data.data(), data.size() * 2);
    RegCloseKey(key);
}

class Discovery : public ::testing::Test
{
  protected:
    std::string dir = make_temp_dir("discovery");
    int system_language = atoi(getenv("EXPECTED_SYSTEM_LANGUAGE") ? getenv("EXPECTED_SYSTEM_LANGUAGE") : "1");

    void TearDown() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan");
        remove_tree(dir);
    }
    // Discovery from scratch: leftovers of an earlier call must not decide anything.
    void discover()
    {
        memset(install_dir, 'z', sizeof install_dir);
        strcpy(details_text, "stale");
        install_found = true;
        language = 9;
        discover_installation();
    }
};

TEST_F(Discovery, MarkerFilesChooseTheLanguageAndTheLastInTableOrderWins)
{
    int markers_to_language[] = {0, 1, 2, 2, 3, 3, 3, 3}; // bit i: MARKERS[i + 1] is there
    set_game_path(dir);
    write_file(dir + "\\Ostrevan.exe", "x");
    for (int markers = 7; markers >= 0; --markers) {
        for (int i = 0; i < 3; ++i) {
            DeleteFileA((dir + "\\" + MARKERS[i + 1]).c_str());
            if (markers & 1 << i)
                write_file(dir + "\\" + MARKERS[i + 1], "");
        }
        discover();
        EXPECT_TRUE(install_found && std::string(install_dir) == dir) << markers;
        // Without a marker the installation is damaged, in the system's language.
        EXPECT_EQ(language, markers ? markers_to_language[markers] : system_language) << markers;
        EXPECT_STREQ(details_text, markers ? "" : catalogue_text(system_language, Corrupt)) << markers;
    }
}

// Whatever "Path" holds, discovery ends with a verdict: not installed unless the value names a directory that
// holds the game, in which case a marker there still chooses the language.
TEST_F(Discovery, EveryKindOfPathValue)
{
    write_file(dir + "\\local_russian.bin", "");
    std::string parent = dir.substr(0, dir.rfind('\\'));
    SetEnvironmentVariableA("OSTREVAN_GAMES", parent.c_str());
    SetEnvironmentVariableA("OSTREVAN_LONG", std::string(260, 'l').c_str());
    DWORD number = 0x12345678;
    auto terminated = [](const std::string &text) { return wide(text + '\0', CP_ACP); };
    struct Case {
        const char *what;
        DWORD type;
        std::wstring data;
        bool game;
        std::string install_dir;
    } cases[] = {
        {"no key", NO_KEY, L"", true, ""},
        {"the key without a value", NO_VALUE, L"", true, ""},
        {"empty", REG_SZ, terminated(""), true, ""},
        {"the directory without the game", REG_SZ, terminated(dir), false, dir},
        {"the game", REG_SZ, terminated(dir), true, dir},
        {"with variables", REG_EXPAND_SZ, L"%OSTREVAN_GAMES%" + terminated(dir.substr(parent.size())), true, dir},
        {"300 bytes", REG_SZ, terminated(dir + "\\" + std::string(300 - dir.size() - 1, 'p')), true, ""},
        {"256 bytes without terminator", REG_SZ, std::wstring(256, L'q'), true, ""},
        {"255 bytes without terminator", REG_SZ, std::wstring(255, L'r'), true, std::string(255, 'r')},
        {"a number", REG_DWORD, std::wstring(reinterpret_cast<const wchar_t *>(&number), 2), true, ""},
        {"longer than 255 bytes once expanded", REG_EXPAND_SZ, terminated("%OSTREVAN_LONG%\\x"), true, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA((dir + "\\Ostrevan.exe").c_str());
        if (c.game)
            write_file(dir + "\\Ostrevan.exe", "x");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan");
        if (c.type != NO_KEY)
            set_raw_path(c.type, c.data);
        discover();
        EXPECT_EQ(install_found, c.game && c.install_dir == dir);
        EXPECT_EQ(std::string(install_dir), c.install_dir);
        EXPECT_EQ(language, c.install_dir == dir ? 3 : system_language);
        EXPECT_STREQ(details_text, "");
    }
}

} // namespace
