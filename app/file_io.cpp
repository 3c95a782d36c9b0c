// file_io.cpp -- the few file operations that the run composes, each returning the platform's error code
#include "app/file_io.h"

DWORD last_error_or(DWORD fallback)
{
    DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

DWORD write_file_durably(const char *path, const void *data, DWORD length)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return last_error_or(ERROR_CANNOT_MAKE);
    DWORD error = 0;
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
        DeleteFileA(path);
    return error;
}

DWORD flush_file(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return last_error_or(ERROR_OPEN_FAILED);
    DWORD error = FlushFileBuffers(file) ? 0 : last_error_or(ERROR_WRITE_FAULT);
    CloseHandle(file);
    return error;
}

DWORD read_small_file(const char *path, char *buffer, DWORD size)
{
    buffer[0] = '\0';
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return last_error_or(ERROR_OPEN_FAILED);
    DWORD length = 0;
    DWORD error = ReadFile(file, buffer, size - 1, &length, NULL) ? 0 : last_error_or(ERROR_READ_FAULT);
    CloseHandle(file);
    buffer[error == 0 ? length : 0] = '\0';
    return error;
}

DWORD remove_file(const char *path)
{
    if (DeleteFileA(path))
        return 0;
    DWORD error = last_error_or(ERROR_ACCESS_DENIED);
    if (is_absent(error))
        return 0;
    // A read-only file is removed once its attribute is cleared.
    if (!SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL))
        return error;
    return DeleteFileA(path) ? 0 : last_error_or(ERROR_ACCESS_DENIED);
}

DWORD file_attributes(const char *path, DWORD *attributes)
{
    *attributes = GetFileAttributesA(path);
    return *attributes == INVALID_FILE_ATTRIBUTES ? last_error_or(ERROR_ACCESS_DENIED) : 0;
}

bool is_absent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
