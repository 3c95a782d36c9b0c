// game_paths.cpp -- the paths that the run uses in the game directory, and whether they all fit
#include "app/game_paths.h"

#include <stdio.h>

#include "app/state.h"
#include "payload/manifest.h"

const char JOURNAL_NAME[] = "~Patch102.journal";

bool format_game_path(char *path, size_t size, const char *prefix, const char *name, const char *suffix)
{
    int length = snprintf(path, size, "%s\\%s%s%s", install_dir, prefix, name, suffix);
    return length > 0 && static_cast<size_t>(length) < size;
}

bool format_game_paths(GamePaths *paths, const char *name)
{
    return format_game_path(paths->temporary, sizeof paths->temporary, "~", name, "") &&
           format_game_path(paths->installed, sizeof paths->installed, "", name, "") &&
           format_game_path(paths->backup, sizeof paths->backup, "~", name, ".bak");
}

bool game_paths_fit()
{
    GamePaths paths;
    for (const PayloadEntry &row : payload_manifest) {
        if (!format_game_paths(&paths, row.install_name))
            return false;
    }
    return format_game_path(paths.installed, sizeof paths.installed, "", JOURNAL_NAME, "");
}
