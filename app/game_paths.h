// game_paths.h -- the paths that the run uses in the game directory, and whether they all fit
#pragma once

#include <stddef.h>

// The longest path the platform's ANSI file calls take, with its terminator.
enum { GAME_PATH_SIZE = 260 };

// While it exists, a commit is under way (see commit.h).
extern const char JOURNAL_NAME[];

struct GamePaths {
    char temporary[GAME_PATH_SIZE]; // "~name": the unpacked payload
    char installed[GAME_PATH_SIZE]; // "name"
    char backup[GAME_PATH_SIZE];    // "~name.bak": the old content while a commit is under way
};

// Formats "<install_dir>\<prefix><name><suffix>" into path; false when it does
// not fit size bytes (path then holds a cut, terminated text).
bool format_game_path(char *path, size_t size, const char *prefix, const char *name, const char *suffix);

// The three paths of the installed file name; false when one does not fit.
bool format_game_paths(GamePaths *paths, const char *name);

// True when every path that the run may use in install_dir (temporary,
// installed and backup file of every manifest row, and the journal) fits
// GAME_PATH_SIZE.
bool game_paths_fit();
