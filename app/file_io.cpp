// file_io.cpp -- the few file operations that the run composes, each returning the platform's error code
#include "app/file_io.h"

#include "app/busy_wait.h"

DWORD last_error_or(DWORD fallback)
{
    DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

DWORD open_file(const char *path, DWORD access, DWORD share, DWORD disposition, HANDLE *file)
{
    BusyWait wait = {};
    do
        *file = CreateFileA(path, access, share, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    while (try_again(&wait, *file != INVALID_HANDLE_VALUE, ERROR_OPEN_FAILED, path));
    return wait.error;
}

DWORD write_file_durably(const char *path, const void *data, DWORD length)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = open_file(path, GENERIC_WRITE, 0, CREATE_ALWAYS, &file);
    if (error != 0)
        return error;
    DWORD written = 0;
    if (!WriteFile(file, data, length, &written, NULL))
        error = last_error_or(ERROR_WRITE_FAULT);
    else if (written != length)
        error = ERROR_DISK_FULL; // a short write that reports success: the volume is full
    else if (!FlushFileBuffers(file))
        error = last_error_or(ERROR_WRITE_FAULT);
    if (!CloseHandle(file) && error == 0)
        error = last_error_or(ERROR_WRITE_FAULT);
    if (error != 0)
        remove_file(path);
    return error;
}

DWORD flush_file(const char *path)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = open_file(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, &file);
    if (error != 0)
        return error;
    error = FlushFileBuffers(file) ? 0 : last_error_or(ERROR_WRITE_FAULT);
    CloseHandle(file);
    return error;
}

DWORD read_small_file(const char *path, char *buffer, DWORD size)
{
    buffer[0] = '\0';
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = open_file(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, &file);
    if (error != 0)
        return error;
    DWORD length = 0;
    error = ReadFile(file, buffer, size - 1, &length, NULL) ? 0 : last_error_or(ERROR_READ_FAULT);
    CloseHandle(file);
    buffer[error == 0 ? length : 0] = '\0';
    return error;
}

static DWORD delete_file(const char *path)
{
    BusyWait wait = {};
    while (try_again(&wait, DeleteFileA(path), ERROR_ACCESS_DENIED, path))
        ;
    return wait.error;
}

DWORD remove_file(const char *path)
{
    DWORD error = delete_file(path);
    if (error == 0 || is_absent(error))
        return 0;
    // A read-only file is removed once its attribute is cleared; a file still held is not.
    if (is_busy(error) || set_file_attributes(path, FILE_ATTRIBUTE_NORMAL) != 0)
        return error;
    return delete_file(path);
}

DWORD file_attributes(const char *path, DWORD *attributes)
{
    BusyWait wait = {};
    do
        *attributes = GetFileAttributesA(path);
    while (try_again(&wait, *attributes != INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED, path));
    return wait.error;
}

DWORD set_file_attributes(const char *path, DWORD attributes)
{
    BusyWait wait = {};
    while (try_again(&wait, SetFileAttributesA(path, attributes), ERROR_ACCESS_DENIED, path))
        ;
    return wait.error;
}

DWORD rename_file(const char *from, const char *to, DWORD flags)
{
    BusyWait wait = {};
    wait.replacing = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    while (try_again(&wait, MoveFileExA(from, to, flags), ERROR_ACCESS_DENIED, to))
        ;
    return wait.error;
}

DWORD link_file(const char *link, const char *target)
{
    BusyWait wait = {};
    while (try_again(&wait, CreateHardLinkA(link, target, NULL), ERROR_ACCESS_DENIED, link))
        ;
    return wait.error;
}

DWORD copy_file(const char *from, const char *to)
{
    BusyWait wait = {};
    while (try_again(&wait, CopyFileA(from, to, FALSE), ERROR_WRITE_FAULT, to))
        ;
    return wait.error;
}

bool is_absent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
