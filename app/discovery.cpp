// discovery.cpp -- the registry value "Path", the game executable and the language marker files
#include "app/discovery.h"

#include <windows.h>

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
    RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &software);
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
