// file_io.h -- the few file operations that the run composes, each returning the platform's error code
//
// Each one waits while another program's handle refuses it (busy_wait.h):
// an error it returns is one that no such wait cured.
//
// The run is elevated, and the game folder may be one that any program of the
// player's can write to and plant a link in, under a name the run is about to
// use. So every operation that creates, changes or removes a file acts on a
// handle opened without following a link, whose file has been checked to be
// the one of that very name in the game folder (as the folder resolves,
// itself perhaps reached through a link, in whatever form the volume names
// its files), to be no link (a reparse point that stands for another name:
// one that is not, a compressed, cloud or deduplicated file, is the file
// itself), and, where a change reaches the file's data or attributes, to have
// no other name than that one (or that and its pair, the backup of an
// installed file). A file that fails the check fails the operation with
// ERROR_CANT_RESOLVE_FILENAME, or ERROR_TOO_MANY_LINKS for one with other
// names; the run creates its files new, removing a name that stood in the way
// as a name, never what it points to. Reading follows names as ever.
#pragma once

#include <windows.h>

// Opens the game folder for the run and learns how its volume names files:
// with a drive letter where the mount manager gives one, else in the system's
// own form (RAM disks, disk images). Returns 0, or the error code when the
// folder cannot be opened or its volume names no file at all.
DWORD open_game_folder(const char *path);

// Creates path anew, writes length bytes and flushes them to the disk.
// Returns 0, or the error code of the failed step; a file that was not
// written whole is removed. With kept NULL the file is closed; otherwise it
// stays open in *kept, for no other program to open, its changes written
// through, until rename_kept_file or close_kept_file.
DWORD write_file_durably(const char *path, const void *data, DWORD length, HANDLE *kept);

// Renames the kept file to the name to in the same folder, as rename_file
// does, and closes it. Returns 0, or the error code with the file still open.
DWORD rename_kept_file(HANDLE *file, const char *to, DWORD flags);

// Closes a kept file (none when *file is NULL), removing it first when remove is true.
void close_kept_file(HANDLE *file, bool remove);

// Reads at most size - 1 bytes of path into buffer, terminated. Returns 0 or
// the error code (ERROR_FILE_NOT_FOUND when there is no such file).
DWORD read_small_file(const char *path, char *buffer, DWORD size);

// Removes the name path whatever its attributes, which another name of the
// same file keeps; a name that is not there is no error. Returns 0 or the
// error code.
DWORD remove_file(const char *path);

// The attributes of path in *attributes, as the system reports them. Returns
// 0, or the error code (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when
// there is no such file).
DWORD file_attributes(const char *path, DWORD *attributes);

// Keeps the content of path under the name backup, in the same folder,
// replacing whatever stood there: a second link to the file where the file
// system has links, else a copy flushed to the disk, of the data as every
// program reads it, with its last write time. path must be one that can be
// renamed over (no other program holds it without sharing its deletion) and
// pass the checks above. Its attributes that a program may set (read-only,
// hidden, system, archive) in *attributes. Returns 0, or the error code
// (ERROR_FILE_NOT_FOUND when there is no file at path); a copy that was not
// made whole is removed.
DWORD keep_file(const char *path, const char *backup, DWORD *attributes);

// Sets the attributes of path that a program may set, whose one other name
// may be pair (or NULL). Returns 0 or the error code.
DWORD set_file_attributes(const char *path, DWORD attributes, const char *pair);

// Renames from to the name to in the same folder, replacing a file there
// when flags hold MOVEFILE_REPLACE_EXISTING, on the disk before it returns
// when they hold MOVEFILE_WRITE_THROUGH. Returns 0 or the error code.
DWORD rename_file(const char *from, const char *to, DWORD flags);

// The calling thread's last error code, or fallback when the failed call recorded none.
DWORD last_error_or(DWORD fallback);

// True for the error codes that mean "no such file".
bool is_absent(DWORD error);
