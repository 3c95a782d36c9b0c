// discovery.cpp -- the registry value "Path", the game executable and the language marker files
#include "app/discovery.h"

#include <windows.h>

#include <sddl.h>
#include <stdio.h>
#include <string.h>

#include "app/catalogue.h"
#include "app/state.h"
#include "app/text_buffer.h"

struct LanguageMarker {
    int language;
    const char *file_name;
};

// Probed in this order; a later hit overrides an earlier one.
static const LanguageMarker language_markers[] = {
    {LANGUAGE_ENGLISH, "local.bin"},
    {LANGUAGE_GERMAN, "local_german.bin"},
    {LANGUAGE_RUSSIAN, "local_russian.bin"},
};

static const char GAME_EXECUTABLE[] = "Ostrevan.exe";

// A SID's string: "S-1-", an authority and at most 15 subauthorities of 10 digits each.
enum { SID_TEXT_SIZE = 192 };

static bool file_opens(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return false;
    fclose(file);
    return true;
}

// Formats "%s\%s" from install_dir and name into scratch_path and tests that it opens.
static bool game_file_opens(const char *name)
{
    int length = snprintf(scratch_path, sizeof scratch_path, "%s\\%s", install_dir, name);
    return length > 0 && static_cast<size_t>(length) < sizeof scratch_path && file_opens(scratch_path);
}

// Reads "Path" into install_dir. The value counts only when the query
// succeeds, it is a REG_SZ or a REG_EXPAND_SZ (expanded), and it fits
// install_dir with its terminator; otherwise install_dir stays empty.
static void read_install_path(HKEY key)
{
    char value[INSTALL_DIR_SIZE];
    char expanded[4 * INSTALL_DIR_SIZE];
    DWORD type = REG_SZ;
    DWORD size = sizeof value;
    install_dir[0] = '\0';
    LONG status = RegQueryValueExA(key, "Path", NULL, &type, reinterpret_cast<BYTE *>(value), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size > sizeof value)
        return;
    // A value stored without its terminator fits only when there is room for one.
    if (memchr(value, '\0', size) == NULL) {
        if (size == sizeof value)
            return;
        value[size] = '\0';
    }
    if (type == REG_SZ) {
        copy_text(install_dir, sizeof install_dir, value);
        return;
    }
    DWORD length = ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
    if (length != 0 && length <= sizeof expanded && strlen(expanded) < sizeof install_dir)
        copy_text(install_dir, sizeof install_dir, expanded);
}

// Writes the string SID of the user that process runs as into sid
// (SID_TEXT_SIZE bytes). Returns true, or false when a call fails.
static bool process_user(HANDLE process, char *sid)
{
    bool found = false;
    HANDLE token = NULL;
    char *text = NULL;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } owner;
    DWORD length = 0;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return false;
    if (!GetTokenInformation(token, TokenUser, &owner, sizeof owner, &length) ||
        !ConvertSidToStringSidA(owner.user.User.Sid, &text))
        goto out;
    found = strlen(text) < SID_TEXT_SIZE;
    if (found)
        copy_text(sid, SID_TEXT_SIZE, text);
out:
    LocalFree(text);
    CloseHandle(token);
    return found;
}

// The key under which the player's "Software" lies, with its path in path
// (path_size bytes): the hive of the user that the desktop shell runs as.
// Elevated with another account's name and password ("over the shoulder"),
// the run is that administrator, and HKEY_CURRENT_USER is the
// administrator's hive; the shell still runs as the signed-in player.
// Returns HKEY_USERS with "<SID>\Software", or HKEY_CURRENT_USER with
// "Software" where the shell runs as this process's own user or cannot be
// reached (no shell window, a call fails).
static HKEY player_software_key(char *path, size_t path_size)
{
    char shell_user[SID_TEXT_SIZE];
    char own_user[SID_TEXT_SIZE];
    DWORD shell_process = 0;
    HANDLE process = NULL;
    HWND shell = GetShellWindow();
    bool other = false;
    snprintf(path, path_size, "Software");
    if (!shell || !GetWindowThreadProcessId(shell, &shell_process) || shell_process == 0)
        return HKEY_CURRENT_USER;
    process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_process);
    if (!process)
        return HKEY_CURRENT_USER;
    other = process_user(process, shell_user) && process_user(GetCurrentProcess(), own_user) &&
            _stricmp(shell_user, own_user) != 0;
    CloseHandle(process);
    if (!other)
        return HKEY_CURRENT_USER;
    int length = snprintf(path, path_size, "%s\\Software", shell_user);
    if (length > 0 && static_cast<size_t>(length) < path_size)
        return HKEY_USERS;
    snprintf(path, path_size, "Software");
    return HKEY_CURRENT_USER;
}

static int system_language()
{
    switch (GetSystemDefaultLangID() & 0x3FF) {
    case 0x07:
        return LANGUAGE_GERMAN;
    case 0x19:
        return LANGUAGE_RUSSIAN;
    default:
        return LANGUAGE_ENGLISH;
    }
}

void discover_installation()
{
    HKEY software = NULL;
    HKEY game = NULL;
    char software_path[SID_TEXT_SIZE + 16];
    HKEY hive = player_software_key(software_path, sizeof software_path);
    RegOpenKeyExA(hive, software_path, 0, KEY_READ, &software);
    RegOpenKeyExA(software, "Ostrevan", 0, KEY_READ, &game);

    install_dir[0] = '\0';
    install_found = false;
    if (game) {
        read_install_path(game);
        install_found = install_dir[0] != '\0' && game_file_opens(GAME_EXECUTABLE);
    }
    RegCloseKey(software);
    RegCloseKey(game);

    language = LANGUAGE_UNDECIDED;
    for (const LanguageMarker &marker : language_markers) {
        if (game_file_opens(marker.file_name))
            language = marker.language;
    }

    details_text[0] = '\0';
    if (language != LANGUAGE_UNDECIDED)
        return;
    language = system_language();
    if (install_found)
        copy_text(details_text, sizeof details_text, catalogue_text(language, Corrupt));
}
