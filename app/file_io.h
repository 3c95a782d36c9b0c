// file_io.h -- the few file operations that the run composes, each returning the platform's error code
//
// Each one waits while another program's handle refuses it (busy_wait.h):
// an error it returns is one that no such wait cured.
//
// The run is elevated, and the game folder may be one that any program of the
// player's can write to and plant a link in, under a name the run is about to
// use. So every operation that creates, changes or removes a file acts on a
// handle opened without following a link where the system allows it, whose
// file has been checked to be the one of that very name in the game folder
// (as the folder resolves, itself perhaps reached through a link), to be no
// link, and, where a change reaches the file's data or attributes, to have
// no other name than that one (or that and its pair, the backup of an
// installed file). A file that fails the check fails the operation with
// ERROR_CANT_RESOLVE_FILENAME, or ERROR_TOO_MANY_LINKS for one with other
// names; the run creates its files new, after removing whatever name stood
// there as a name, never what it points to. Reading follows names as ever.
#pragma once

#include <windows.h>

// Creates path anew, writes length bytes, flushes them to the disk and closes
// it. Returns 0, or the error code of the failed step; a file that was not
// written whole is removed.
DWORD write_file_durably(const char *path, const void *data, DWORD length);

// Reads at most size - 1 bytes of path into buffer, terminated. Returns 0 or
// the error code (ERROR_FILE_NOT_FOUND when there is no such file).
DWORD read_small_file(const char *path, char *buffer, DWORD size);

// Removes the name path whatever its attributes, which another name of the
// same file keeps; a name that is not there is no error. Returns 0 or the
// error code.
DWORD remove_file(const char *path);

// The attributes of path in *attributes. Returns 0, or the error code
// (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when there is no such file).
DWORD file_attributes(const char *path, DWORD *attributes);

// Checks that path can be renamed over, or removed: no other program holds
// it without sharing its deletion, and it passes the checks above, pair
// being the one other name it may have. Returns 0 or the error code.
DWORD check_file(const char *path, const char *pair);

// Sets the attributes of path, whose one other name may be pair (or NULL).
// Returns 0 or the error code.
DWORD set_file_attributes(const char *path, DWORD attributes, const char *pair);

// Renames from to the name to in the same folder, replacing a file there
// when flags hold MOVEFILE_REPLACE_EXISTING, on the disk before it returns
// when they hold MOVEFILE_WRITE_THROUGH. Returns 0 or the error code.
DWORD rename_file(const char *from, const char *to, DWORD flags);

// Gives target a second name, link, in the same folder. Returns 0 or the
// error code (that of a file system without links among them).
DWORD link_file(const char *link, const char *target);

// Copies from's content and last write time to the new, writable file to,
// flushed to the disk. Returns 0 or the error code; a copy that was not
// made whole is removed.
DWORD copy_file(const char *from, const char *to);

// The calling thread's last error code, or fallback when the failed call recorded none.
DWORD last_error_or(DWORD fallback);

// True for the error codes that mean "no such file".
bool is_absent(DWORD error);
