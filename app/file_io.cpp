// file_io.cpp -- the few file operations that the run composes, each returning the platform's error code
#include "app/file_io.h"

#include <stdio.h>
#include <string.h>

#include "app/busy_wait.h"
#include "app/game_paths.h"

// What a handle's file must be before the run changes it (see file_io.h).
enum { IN_FOLDER = 0, NOT_A_LINK = 1, ONE_NAME = 2 };
static const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
enum { FINAL_PATH_SIZE = GAME_PATH_SIZE + 16, COPY_CHUNK = 1024 * 1024 };

// The native call behind the Win32 file calls: the only one that renames,
// links, deletes and sets attributes by handle on every system this runs on.
enum { BASIC_INFORMATION = 4, RENAME_INFORMATION = 10, LINK_INFORMATION = 11, DISPOSITION_INFORMATION = 13 };
struct IoStatus {
    ULONG_PTR status;
    ULONG_PTR information;
};
struct NameInformation { // the new name, relative to the game folder
    BOOLEAN replace;
    HANDLE root;
    ULONG length; // in bytes
    WCHAR name[GAME_PATH_SIZE];
};
struct BasicInformation {
    LARGE_INTEGER times[4]; // 0: unchanged
    DWORD attributes;
};
typedef LONG(WINAPI *SetInformationCall)(HANDLE, IoStatus *, void *, ULONG, ULONG);
typedef ULONG(WINAPI *StatusToErrorCall)(LONG);
static SetInformationCall set_information_call;
static StatusToErrorCall status_to_error;

// The game folder, as the run names it and as it resolves. It stays open
// for the run without sharing its deletion: it cannot be moved away, nor
// replaced by a link, while the run works in it.
static char folder[GAME_PATH_SIZE];
static char folder_final[FINAL_PATH_SIZE];
static HANDLE folder_handle = INVALID_HANDLE_VALUE;

static unsigned char copy_buffer[COPY_CHUNK];

DWORD last_error_or(DWORD fallback)
{
    DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

static DWORD open_file(const char *path, DWORD access, DWORD share, DWORD disposition, DWORD flags, HANDLE *file)
{
    BusyWait wait = {};
    do
        *file = CreateFileA(path, access, share, NULL, disposition, FILE_ATTRIBUTE_NORMAL | flags, NULL);
    while (try_again(&wait, *file != INVALID_HANDLE_VALUE, ERROR_OPEN_FAILED, path));
    return wait.error;
}

// Sets one class of information of the handle's file; false with the
// thread's last error (and status) set as a Win32 call sets them.
static BOOL set_information(HANDLE file, ULONG information_class, void *information, ULONG size)
{
    if (!set_information_call) {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        set_information_call = reinterpret_cast<SetInformationCall>(
            reinterpret_cast<void *>(GetProcAddress(ntdll, "NtSetInformationFile")));
        status_to_error = reinterpret_cast<StatusToErrorCall>(
            reinterpret_cast<void *>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    }
    IoStatus io = {};
    LONG status = set_information_call && status_to_error
                      ? set_information_call(file, &io, information, size, information_class)
                      : static_cast<LONG>(0xC0000002); // not implemented
    if (status >= 0)
        return TRUE;
    SetLastError(status_to_error ? status_to_error(status) : ERROR_INVALID_FUNCTION);
    return FALSE;
}

static BOOL set_attributes(HANDLE file, DWORD attributes)
{
    BasicInformation basic = {};
    basic.attributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return set_information(file, BASIC_INFORMATION, &basic, sizeof basic);
}

static BOOL delete_on_close(HANDLE file)
{
    BOOLEAN disposition = TRUE;
    return set_information(file, DISPOSITION_INFORMATION, &disposition, sizeof disposition);
}

// Opens and resolves the folder of path, once for the run. Returns 0 or the error code.
static DWORD open_folder(const char *path)
{
    const char *name = strrchr(path, '\\');
    size_t length = name ? static_cast<size_t>(name - path) : 0;
    if (length == 0 || length >= sizeof folder)
        return ERROR_CANT_RESOLVE_FILENAME;
    if (folder_handle != INVALID_HANDLE_VALUE && strncmp(folder, path, length) == 0 && folder[length] == '\0')
        return 0;
    if (folder_handle != INVALID_HANDLE_VALUE)
        CloseHandle(folder_handle);
    snprintf(folder, sizeof folder, "%.*s", static_cast<int>(length), path);
    DWORD error =
        open_file(folder, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, &folder_handle);
    DWORD resolved = error == 0 ? GetFinalPathNameByHandleA(folder_handle, folder_final, sizeof folder_final, 0) : 0;
    if (error == 0 && (resolved == 0 || resolved >= sizeof folder_final))
        error = last_error_or(ERROR_CANT_RESOLVE_FILENAME);
    if (error != 0) {
        if (folder_handle != INVALID_HANDLE_VALUE)
            CloseHandle(folder_handle);
        folder_handle = INVALID_HANDLE_VALUE;
        return error;
    }
    // A drive's root resolves with its backslash, which the name adds.
    if (folder_final[resolved - 1] == '\\')
        folder_final[resolved - 1] = '\0';
    return 0;
}

static DWORD check_handle(HANDLE file, const char *path, int checks, const char *pair,
                          BY_HANDLE_FILE_INFORMATION *info);

// 0 when pair is the other name of the file of info, and lies in the folder
// too; ERROR_TOO_MANY_LINKS when it is not, or the error of looking at it.
static DWORD check_pair(const char *pair, const BY_HANDLE_FILE_INFORMATION *info)
{
    BY_HANDLE_FILE_INFORMATION other;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error =
        pair ? open_file(pair, FILE_READ_ATTRIBUTES, SHARE_ALL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, &file)
             : ERROR_FILE_NOT_FOUND;
    if (error == 0) {
        error = check_handle(file, pair, NOT_A_LINK, NULL, &other);
        CloseHandle(file);
    }
    if (error == 0 && other.dwVolumeSerialNumber == info->dwVolumeSerialNumber &&
        other.nFileIndexHigh == info->nFileIndexHigh && other.nFileIndexLow == info->nFileIndexLow)
        return 0;
    return error == 0 || is_absent(error) || error == ERROR_CANT_RESOLVE_FILENAME ? ERROR_TOO_MANY_LINKS : error;
}

// Checks the handle's file as checks ask (see file_io.h); its information in *info.
static DWORD check_handle(HANDLE file, const char *path, int checks, const char *pair, BY_HANDLE_FILE_INFORMATION *info)
{
    DWORD error = open_folder(path);
    if (error != 0)
        return error;
    char final_path[FINAL_PATH_SIZE], expected[FINAL_PATH_SIZE];
    DWORD length = GetFinalPathNameByHandleA(file, final_path, sizeof final_path, 0);
    if (length == 0)
        return last_error_or(ERROR_CANT_RESOLVE_FILENAME);
    snprintf(expected, sizeof expected, "%s%s", folder_final, strrchr(path, '\\'));
    if (length >= sizeof final_path || _stricmp(final_path, expected) != 0)
        return ERROR_CANT_RESOLVE_FILENAME;
    if (!GetFileInformationByHandle(file, info))
        return last_error_or(ERROR_CANT_RESOLVE_FILENAME);
    if ((checks & NOT_A_LINK) && (info->dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return ERROR_CANT_RESOLVE_FILENAME;
    if ((checks & ONE_NAME) && info->nNumberOfLinks > 1)
        return info->nNumberOfLinks == 2 ? check_pair(pair, info) : ERROR_TOO_MANY_LINKS;
    return 0;
}

// Opens path without following a link and checks its file. Returns 0 or the error code.
static DWORD open_checked(const char *path, DWORD access, DWORD share, DWORD disposition, DWORD flags, int checks,
                          const char *pair, HANDLE *file, BY_HANDLE_FILE_INFORMATION *info)
{
    DWORD error =
        open_file(path, access | FILE_READ_ATTRIBUTES, share, disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT, file);
    if (error == 0 && (error = check_handle(*file, path, checks, pair, info)) != 0) {
        // A file that this open created is the run's own, wherever it lies, and goes again.
        if (disposition == CREATE_NEW)
            delete_on_close(*file);
        CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
    }
    return error;
}

// The new name of a rename or a link: the last part of path, in the game folder.
static void name_information(const char *path, bool replace, NameInformation *information)
{
    int length = MultiByteToWideChar(CP_ACP, 0, strrchr(path, '\\') + 1, -1, information->name, GAME_PATH_SIZE);
    information->replace = replace;
    information->root = folder_handle;
    information->length = length > 0 ? static_cast<ULONG>(length - 1) * sizeof(WCHAR) : 0;
}

// Writes length bytes; a short write that reports success means the volume is full.
static DWORD write_all(HANDLE file, const void *data, DWORD length)
{
    DWORD written = 0;
    if (!WriteFile(file, data, length, &written, NULL))
        return last_error_or(ERROR_WRITE_FAULT);
    return written == length ? 0 : ERROR_DISK_FULL;
}

// Creates path new for writing, after removing whatever name stood there.
static DWORD create_file(const char *path, HANDLE *file)
{
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = remove_file(path);
    return error != 0
               ? error
               : open_checked(path, GENERIC_WRITE | DELETE, 0, CREATE_NEW, 0, NOT_A_LINK | ONE_NAME, NULL, file, &info);
}

// Flushes and closes a file written by the run: its content is on the disk,
// or it is removed and the error code returned.
static DWORD finish_file(HANDLE file, const char *path, DWORD error)
{
    if (error == 0 && !FlushFileBuffers(file))
        error = last_error_or(ERROR_WRITE_FAULT);
    if (!CloseHandle(file) && error == 0)
        error = last_error_or(ERROR_WRITE_FAULT);
    if (error != 0)
        remove_file(path);
    return error;
}

DWORD write_file_durably(const char *path, const void *data, DWORD length)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = create_file(path, &file);
    return error != 0 ? error : finish_file(file, path, write_all(file, data, length));
}

DWORD read_small_file(const char *path, char *buffer, DWORD size)
{
    buffer[0] = '\0';
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = open_file(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, &file);
    if (error != 0)
        return error;
    DWORD length = 0;
    error = ReadFile(file, buffer, size - 1, &length, NULL) ? 0 : last_error_or(ERROR_READ_FAULT);
    CloseHandle(file);
    buffer[error == 0 ? length : 0] = '\0';
    return error;
}

DWORD remove_file(const char *path)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error =
        open_checked(path, DELETE | FILE_WRITE_ATTRIBUTES, SHARE_ALL, OPEN_EXISTING, 0, IN_FOLDER, NULL, &file, &info);
    if (error != 0)
        return is_absent(error) ? 0 : error;
    // Only a writable file can be deleted; another name of it keeps its attributes.
    DWORD attributes = info.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !set_attributes(file, attributes & ~FILE_ATTRIBUTE_READONLY))
        error = last_error_or(ERROR_ACCESS_DENIED);
    else if (!delete_on_close(file))
        error = last_error_or(ERROR_ACCESS_DENIED);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        set_attributes(file, attributes);
    CloseHandle(file);
    return error;
}

DWORD file_attributes(const char *path, DWORD *attributes)
{
    BusyWait wait = {};
    do
        *attributes = GetFileAttributesA(path);
    while (try_again(&wait, *attributes != INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED, path));
    return wait.error;
}

DWORD check_file(const char *path, const char *pair)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = open_checked(path, DELETE, SHARE_ALL, OPEN_EXISTING, 0, NOT_A_LINK | ONE_NAME, pair, &file, &info);
    if (error == 0)
        CloseHandle(file);
    return error;
}

DWORD set_file_attributes(const char *path, DWORD attributes, const char *pair)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = open_checked(path, FILE_WRITE_ATTRIBUTES, SHARE_ALL, OPEN_EXISTING, 0, NOT_A_LINK | ONE_NAME, pair,
                               &file, &info);
    if (error == 0) {
        error = set_attributes(file, attributes) ? 0 : last_error_or(ERROR_ACCESS_DENIED);
        CloseHandle(file);
    }
    return error;
}

// Gives the handle's file the name of path: renamed, or linked as well. Waits
// while another program's hold on a file of that name refuses it.
static DWORD name_file(HANDLE file, ULONG information_class, const char *path, bool replace)
{
    NameInformation information;
    name_information(path, replace, &information);
    BusyWait wait = {};
    wait.replacing = replace;
    while (try_again(&wait, set_information(file, information_class, &information, sizeof information),
                     ERROR_ACCESS_DENIED, path))
        ;
    return wait.error;
}

DWORD rename_file(const char *from, const char *to, DWORD flags)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    // A handle opened for writing through makes the rename made with it reach the disk before it returns.
    DWORD through = flags & MOVEFILE_WRITE_THROUGH ? FILE_FLAG_WRITE_THROUGH : 0;
    DWORD error =
        open_checked(from, DELETE | SYNCHRONIZE, SHARE_ALL, OPEN_EXISTING, through, NOT_A_LINK, NULL, &file, &info);
    if (error != 0)
        return error;
    error = name_file(file, RENAME_INFORMATION, to, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
    CloseHandle(file);
    return error;
}

DWORD link_file(const char *link, const char *target)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = open_checked(target, FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, SHARE_ALL, OPEN_EXISTING, 0,
                               NOT_A_LINK | ONE_NAME, NULL, &file, &info);
    if (error != 0)
        return error;
    error = name_file(file, LINK_INFORMATION, link, false);
    CloseHandle(file);
    return error;
}

DWORD copy_file(const char *from, const char *to)
{
    HANDLE source = INVALID_HANDLE_VALUE, copy = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = open_checked(from, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, NOT_A_LINK | ONE_NAME, NULL,
                               &source, &info);
    if (error != 0)
        return error;
    error = create_file(to, &copy);
    for (DWORD length = COPY_CHUNK; error == 0 && length == COPY_CHUNK;) {
        if (!ReadFile(source, copy_buffer, COPY_CHUNK, &length, NULL))
            error = last_error_or(ERROR_READ_FAULT);
        else
            error = write_all(copy, copy_buffer, length);
    }
    if (error == 0 && !SetFileTime(copy, NULL, NULL, &info.ftLastWriteTime))
        error = last_error_or(ERROR_WRITE_FAULT);
    CloseHandle(source);
    return copy == INVALID_HANDLE_VALUE ? error : finish_file(copy, to, error);
}

bool is_absent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
