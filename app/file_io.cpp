// file_io.cpp -- the few file operations that the run composes, each returning the platform's error code
#include "app/file_io.h"

#include <stdio.h>
#include <string.h>

#include "app/busy_wait.h"
#include "app/game_paths.h"

// What a handle's file must be before the run changes it (see file_io.h).
enum { IN_FOLDER = 0, NOT_A_LINK = 1, ONE_NAME = 2 };
static const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
static const DWORD NO_FOLLOW = FILE_FLAG_OPEN_REPARSE_POINT;
// The attributes that a program may set; the system reports others (a
// reparse point's, a sparse or compressed file's) that it refuses to take.
static const DWORD SETTABLE_ATTRIBUTES =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
enum { FINAL_PATH_SIZE = GAME_PATH_SIZE + 64, COPY_CHUNK = 1024 * 1024 };

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

// The game folder, as the run names it and as it resolves, in the form that
// its volume names files (VOLUME_NAME_DOS or VOLUME_NAME_NT). It stays open
// for the run without sharing its deletion: it cannot be moved away, nor
// replaced by a link, while the run works in it.
static char folder[GAME_PATH_SIZE];
static char folder_final[FINAL_PATH_SIZE];
static DWORD final_form;
static HANDLE folder_handle = INVALID_HANDLE_VALUE;

// What the checks of a handle learnt of its file.
struct FileFacts {
    DWORD attributes; // as the system reports them
    DWORD links;      // its names; 0 where they were not counted
    LONGLONG size;    // in bytes, where the names were counted
};

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
    attributes &= SETTABLE_ATTRIBUTES;
    basic.attributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return set_information(file, BASIC_INFORMATION, &basic, sizeof basic);
}

static BOOL delete_on_close(HANDLE file)
{
    BOOLEAN disposition = TRUE;
    return set_information(file, DISPOSITION_INFORMATION, &disposition, sizeof disposition);
}

// The final path of the handle's file in the folder's form, in path of FINAL_PATH_SIZE bytes. Returns 0 or the error.
static DWORD final_path_of(HANDLE file, DWORD form, char *path)
{
    DWORD length = GetFinalPathNameByHandleA(file, path, FINAL_PATH_SIZE, form);
    if (length == 0)
        return last_error_or(ERROR_CANT_RESOLVE_FILENAME);
    return length < FINAL_PATH_SIZE ? 0 : ERROR_FILENAME_EXCED_RANGE;
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
    // A volume that the mount manager gives no drive letter names its files only in the system's own form.
    final_form = VOLUME_NAME_DOS;
    if (error == 0 && final_path_of(folder_handle, final_form, folder_final) != 0)
        error = final_path_of(folder_handle, final_form = VOLUME_NAME_NT, folder_final);
    if (error != 0) {
        if (folder_handle != INVALID_HANDLE_VALUE)
            CloseHandle(folder_handle);
        folder_handle = INVALID_HANDLE_VALUE;
        return error;
    }
    // A drive's root resolves with its backslash, which the name adds.
    size_t end = strlen(folder_final);
    if (end > 0 && folder_final[end - 1] == '\\')
        folder_final[end - 1] = '\0';
    return 0;
}

DWORD open_game_folder(const char *path)
{
    char inside[GAME_PATH_SIZE];
    int length = snprintf(inside, sizeof inside, "%s\\", path);
    return length > 0 && static_cast<size_t>(length) < sizeof inside ? open_folder(inside) : ERROR_FILENAME_EXCED_RANGE;
}

static DWORD check_handle(HANDLE file, const char *path, int checks, const char *pair, FileFacts *facts);

// The attributes of the handle's file, from the one class that every file system answers. Returns 0 or the error.
static DWORD file_attributes_of(HANDLE file, DWORD *attributes)
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return last_error_or(ERROR_CANT_RESOLVE_FILENAME);
    *attributes = basic.FileAttributes;
    return 0;
}

// 0 when pair is the other name of the handle's file, and lies in the folder
// too; ERROR_TOO_MANY_LINKS when it is not, or the error of looking at it.
static DWORD check_pair(HANDLE file, const char *pair)
{
    BY_HANDLE_FILE_INFORMATION mine, other;
    FileFacts facts;
    HANDLE paired = INVALID_HANDLE_VALUE;
    DWORD error = pair ? open_file(pair, FILE_READ_ATTRIBUTES, SHARE_ALL, OPEN_EXISTING, NO_FOLLOW, &paired)
                       : ERROR_FILE_NOT_FOUND;
    if (error == 0) {
        error = check_handle(paired, pair, NOT_A_LINK, NULL, &facts);
        // The one question that needs the file's identity, asked only of a file with two names.
        if (error == 0 && (!GetFileInformationByHandle(paired, &other) || !GetFileInformationByHandle(file, &mine)))
            error = last_error_or(ERROR_CANT_RESOLVE_FILENAME);
        CloseHandle(paired);
    }
    if (error == 0 && other.dwVolumeSerialNumber == mine.dwVolumeSerialNumber &&
        other.nFileIndexHigh == mine.nFileIndexHigh && other.nFileIndexLow == mine.nFileIndexLow)
        return 0;
    return error == 0 || is_absent(error) || error == ERROR_CANT_RESOLVE_FILENAME ? ERROR_TOO_MANY_LINKS : error;
}

// Checks the handle's file as checks ask (see file_io.h), asking the system
// only what they need; what it learnt in *facts.
static DWORD check_handle(HANDLE file, const char *path, int checks, const char *pair, FileFacts *facts)
{
    DWORD error = open_folder(path);
    char final_path[FINAL_PATH_SIZE], expected[FINAL_PATH_SIZE];
    if (error == 0)
        error = final_path_of(file, final_form, final_path);
    if (error != 0)
        return error;
    snprintf(expected, sizeof expected, "%s%s", folder_final, strrchr(path, '\\'));
    if (_stricmp(final_path, expected) != 0)
        return ERROR_CANT_RESOLVE_FILENAME;
    facts->attributes = 0, facts->links = 0, facts->size = 0;
    if (checks == IN_FOLDER)
        return 0;
    // Every file system answers the attributes; only those with reparse points answer their tag (FAT refuses it).
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if ((error = file_attributes_of(file, &facts->attributes)) != 0)
        return error;
    if ((facts->attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag))
        return last_error_or(ERROR_CANT_RESOLVE_FILENAME);
    // Only a reparse point that stands for another name is a link: symbolic links, junctions, mount points.
    bool link = (facts->attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag.ReparseTag);
    if ((checks & NOT_A_LINK) && (link || (facts->attributes & FILE_ATTRIBUTE_DIRECTORY)))
        return ERROR_CANT_RESOLVE_FILENAME;
    if (!(checks & ONE_NAME))
        return 0;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return last_error_or(ERROR_CANT_RESOLVE_FILENAME);
    facts->links = standard.NumberOfLinks, facts->size = standard.EndOfFile.QuadPart;
    if (facts->links > 1)
        return facts->links == 2 ? check_pair(file, pair) : ERROR_TOO_MANY_LINKS;
    return 0;
}

// Opens path and checks its file. Returns 0 or the error code.
static DWORD open_checked(const char *path, DWORD access, DWORD share, DWORD disposition, DWORD flags, int checks,
                          const char *pair, HANDLE *file, FileFacts *facts)
{
    DWORD error = open_file(path, access | FILE_READ_ATTRIBUTES, share, disposition, flags, file);
    if (error == 0 && (error = check_handle(*file, path, checks, pair, facts)) != 0) {
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

static bool names_a_file(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Creates path new for writing, with flags, for no other program to open.
// Nothing is removed unless a name stands there: then it goes as a name.
static DWORD create_file(const char *path, DWORD flags, HANDLE *file)
{
    FileFacts facts;
    DWORD access = GENERIC_WRITE | DELETE | SYNCHRONIZE;
    DWORD error = open_checked(path, access, 0, CREATE_NEW, flags | NO_FOLLOW, IN_FOLDER, NULL, file, &facts);
    if (names_a_file(error) && (error = remove_file(path)) == 0)
        error = open_checked(path, access, 0, CREATE_NEW, flags | NO_FOLLOW, IN_FOLDER, NULL, file, &facts);
    return error;
}

// Flushes a file written by the run: its content is on the disk, and it
// stays open in *kept (when kept is not NULL) or is closed; otherwise it is
// removed and the error code returned.
static DWORD finish_file(HANDLE file, const char *path, DWORD error, HANDLE *kept)
{
    if (error == 0 && !FlushFileBuffers(file))
        error = last_error_or(ERROR_WRITE_FAULT);
    if (error == 0 && kept) {
        *kept = file;
        return 0;
    }
    // A disk that reports a write's error late may refuse the deletion on the handle too: the name goes then.
    bool removed = error != 0 && delete_on_close(file);
    if (!CloseHandle(file) && error == 0)
        error = last_error_or(ERROR_WRITE_FAULT);
    if (error != 0 && !removed)
        remove_file(path);
    return error;
}

DWORD write_file_durably(const char *path, const void *data, DWORD length, HANDLE *kept)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    // A kept file is renamed on its handle: written through, the rename is on the disk when it returns.
    DWORD error = create_file(path, kept ? FILE_FLAG_WRITE_THROUGH : 0, &file);
    return error != 0 ? error : finish_file(file, path, write_all(file, data, length), kept);
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
    FileFacts facts;
    DWORD error = open_checked(path, DELETE | FILE_WRITE_ATTRIBUTES, SHARE_ALL, OPEN_EXISTING, NO_FOLLOW, IN_FOLDER,
                               NULL, &file, &facts);
    if (error != 0)
        return is_absent(error) ? 0 : error;
    if (!delete_on_close(file)) {
        // Only a writable file can be deleted; another name of it keeps its attributes.
        DWORD attributes = 0;
        error = last_error_or(ERROR_ACCESS_DENIED);
        if (error == ERROR_ACCESS_DENIED && file_attributes_of(file, &attributes) == 0 &&
            (attributes & FILE_ATTRIBUTE_READONLY)) {
            if (!set_attributes(file, attributes & ~FILE_ATTRIBUTE_READONLY) || !delete_on_close(file))
                error = last_error_or(ERROR_ACCESS_DENIED);
            else
                error = 0;
            set_attributes(file, attributes);
        }
    }
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

DWORD set_file_attributes(const char *path, DWORD attributes, const char *pair)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    FileFacts facts;
    DWORD error = open_checked(path, FILE_WRITE_ATTRIBUTES, SHARE_ALL, OPEN_EXISTING, NO_FOLLOW, NOT_A_LINK | ONE_NAME,
                               pair, &file, &facts);
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
    FileFacts facts;
    // A handle opened for writing through makes the rename made with it reach the disk before it returns.
    DWORD through = flags & MOVEFILE_WRITE_THROUGH ? FILE_FLAG_WRITE_THROUGH : 0;
    DWORD error = open_checked(from, DELETE | SYNCHRONIZE, SHARE_ALL, OPEN_EXISTING, through | NO_FOLLOW, NOT_A_LINK,
                               NULL, &file, &facts);
    if (error != 0)
        return error;
    error = name_file(file, RENAME_INFORMATION, to, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
    CloseHandle(file);
    return error;
}

DWORD rename_kept_file(HANDLE *file, const char *to, DWORD flags)
{
    DWORD error = name_file(*file, RENAME_INFORMATION, to, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
    if (error == 0)
        close_kept_file(file, false);
    return error;
}

void close_kept_file(HANDLE *file, bool remove)
{
    if (!*file)
        return;
    if (remove)
        delete_on_close(*file);
    CloseHandle(*file);
    *file = NULL;
}

// Copies the data of the file open as source (path), as every program reads
// it, and its last write time to the new file backup, flushed. Returns 0 or
// the error code; a copy that was not made whole is removed.
static DWORD copy_file(HANDLE source, const char *path, const FileFacts *facts, const char *backup)
{
    HANDLE reader = source, copy = INVALID_HANDLE_VALUE;
    FileFacts again;
    FILE_BASIC_INFO basic = {};
    DWORD error = 0;
    // Opened without following a link, a reparse point bypasses its filter:
    // a compressed or cloud file's data may read as zeros. It is read as
    // every program reads it, after the same checks.
    if (facts->attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        error = open_checked(path, GENERIC_READ, SHARE_ALL, OPEN_EXISTING, 0, NOT_A_LINK, NULL, &reader, &again);
    if (error == 0 && !GetFileInformationByHandleEx(reader, FileBasicInfo, &basic, sizeof basic))
        error = last_error_or(ERROR_READ_FAULT);
    if (error == 0)
        error = create_file(backup, 0, &copy);
    LONGLONG copied = 0;
    for (DWORD length = COPY_CHUNK; error == 0 && length == COPY_CHUNK; copied += length) {
        if (!ReadFile(reader, copy_buffer, COPY_CHUNK, &length, NULL))
            error = last_error_or(ERROR_READ_FAULT);
        else
            error = write_all(copy, copy_buffer, length);
    }
    // A read that came short before the end is no backup: the copy holds every byte the file had when checked.
    if (error == 0 && copied != facts->size)
        error = ERROR_READ_FAULT;
    FILETIME written = {basic.LastWriteTime.LowPart, static_cast<DWORD>(basic.LastWriteTime.HighPart)};
    if (error == 0 && !SetFileTime(copy, NULL, NULL, &written))
        error = last_error_or(ERROR_WRITE_FAULT);
    if (reader != source && reader != INVALID_HANDLE_VALUE)
        CloseHandle(reader);
    return copy == INVALID_HANDLE_VALUE ? error : finish_file(copy, backup, error, NULL);
}

DWORD keep_file(const char *path, const char *backup, DWORD *attributes)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    FileFacts facts;
    // Opened for deletion, the one access that another program's hold refuses
    // when the file could not be renamed over either.
    DWORD error = open_checked(path, DELETE | FILE_READ_DATA | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, SHARE_ALL,
                               OPEN_EXISTING, NO_FOLLOW, NOT_A_LINK | ONE_NAME, backup, &file, &facts);
    if (error != 0)
        return error;
    *attributes = facts.attributes & SETTABLE_ATTRIBUTES;
    // A backup that an earlier run left as a second link to this very file already keeps its content.
    if (facts.links == 2) {
        CloseHandle(file);
        return 0;
    }
    error = name_file(file, LINK_INFORMATION, backup, false);
    // A backup left by an earlier run is never taken for this one's.
    bool stale = names_a_file(error);
    if (stale && (error = remove_file(backup)) == 0)
        error = name_file(file, LINK_INFORMATION, backup, false), stale = false;
    // A file system without links gets a copy; a backup that stays in the way, or a busy name, fails the keeping.
    if (error != 0 && !stale && !is_busy(error) && !names_a_file(error))
        error = copy_file(file, path, &facts, backup);
    CloseHandle(file);
    return error;
}

bool is_absent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
