// file_io.h -- the few file operations that the run composes, each returning the platform's error code
//
// Each one waits while another program's handle refuses it (busy_wait.h):
// an error it returns is one that no such wait cured.
#pragma once

#include <windows.h>

// Opens path (CreateFileA's access, sharing and disposition, normal
// attributes) into *file. Returns 0 or the error code.
DWORD open_file(const char *path, DWORD access, DWORD share, DWORD disposition, HANDLE *file);

// Creates or truncates path, writes length bytes, flushes them to the disk
// and closes it. Returns 0, or the error code of the failed step; a file that
// was not written whole is removed.
DWORD write_file_durably(const char *path, const void *data, DWORD length);

// Flushes an existing file's data to the disk. Returns 0 or the error code.
DWORD flush_file(const char *path);

// Reads at most size - 1 bytes of path into buffer, terminated. Returns 0 or
// the error code (ERROR_FILE_NOT_FOUND when there is no such file).
DWORD read_small_file(const char *path, char *buffer, DWORD size);

// Removes path whatever its attributes; a file that is not there is no error.
// Returns 0 or the error code.
DWORD remove_file(const char *path);

// The attributes of path in *attributes. Returns 0, or the error code
// (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when there is no such file).
DWORD file_attributes(const char *path, DWORD *attributes);

// SetFileAttributesA, MoveFileExA, CreateHardLinkA and CopyFileA (replacing
// an existing file). Each returns 0 or the error code.
DWORD set_file_attributes(const char *path, DWORD attributes);
DWORD rename_file(const char *from, const char *to, DWORD flags);
DWORD link_file(const char *link, const char *target);
DWORD copy_file(const char *from, const char *to);

// The calling thread's last error code, or fallback when the failed call recorded none.
DWORD last_error_or(DWORD fallback);

// True for the error codes that mean "no such file".
bool is_absent(DWORD error);
