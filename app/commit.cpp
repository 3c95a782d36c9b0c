// commit.cpp -- all-or-nothing replacement of the installed files, with a journal for interrupted runs
#include "app/commit.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "app/state.h"
#include "app/text_buffer.h"
#include "payload/manifest.h"

// While it exists, a commit is under way: its backups are the installation
// to go back to, and it lists the files that did not exist before.
static const char JOURNAL_NAME[] = "~Patch102.journal";
static const char CANT_REPLACE_LINE[] = "Can't Replace File: %s [%x]\n";
static const char CANT_RESTORE_LINE[] = "Can't Restore File: %s [%x]\n";
static const DWORD REPLACE_FLAGS = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

struct GamePaths {
    char temporary[SCRATCH_PATH_SIZE]; // "~name", the unpacked payload
    char installed[SCRATCH_PATH_SIZE]; // "name"
    char backup[SCRATCH_PATH_SIZE];    // "~name.bak", the old content during the commit
};

// Formats "%s\<prefix><name><suffix>" from install_dir; false when it does not fit.
static bool format_game_path(char *path, size_t size, const char *prefix, const char *name, const char *suffix)
{
    int length = snprintf(path, size, "%s\\%s%s%s", install_dir, prefix, name, suffix);
    return length > 0 && static_cast<size_t>(length) < size;
}

static bool format_paths(GamePaths *paths, const char *name)
{
    return format_game_path(paths->temporary, sizeof paths->temporary, "~", name, "") &&
           format_game_path(paths->installed, sizeof paths->installed, "", name, "") &&
           format_game_path(paths->backup, sizeof paths->backup, "~", name, ".bak");
}

static bool exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Writes text to path and flushes it to the disk. Returns 0 or the error code.
static DWORD write_durably(const char *path, const char *text)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD length = static_cast<DWORD>(strlen(text));
    DWORD written = 0;
    DWORD error = 0;
    if (!WriteFile(file, text, length, &written, NULL) || written != length || !FlushFileBuffers(file))
        error = GetLastError();
    CloseHandle(file);
    if (error != 0)
        DeleteFileA(path);
    return error;
}

// A file that another program holds open without sharing its deletion
// cannot be renamed over; the same holds for a link made to it, which then
// could not be removed either. Finds that out before any backup is made.
static DWORD check_replaceable(const char *path)
{
    HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(file);
    return 0;
}

// Flushes the unpacked file's data to the disk, so that after a power cut
// the renamed file does not stand there with its data lost.
static DWORD flush_to_disk(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD error = FlushFileBuffers(file) ? 0 : GetLastError();
    CloseHandle(file);
    return error;
}

// Keeps the installed file's content under the backup name: a second link
// to the same data where the file system has links, a copy elsewhere.
static DWORD keep_backup(const GamePaths *paths)
{
    DWORD error = check_replaceable(paths->installed);
    if (error != 0)
        return error;
    DeleteFileA(paths->backup);
    if (CreateHardLinkA(paths->backup, paths->installed, NULL) || CopyFileA(paths->installed, paths->backup, FALSE))
        return 0;
    return GetLastError();
}

// Puts back what name was before the commit: the backup, or no file at all.
static DWORD restore_file(const GamePaths *paths, bool was_new)
{
    if (was_new) {
        if (DeleteFileA(paths->installed) || GetLastError() == ERROR_FILE_NOT_FOUND)
            return 0;
        return GetLastError();
    }
    if (!exists(paths->backup) || MoveFileExA(paths->backup, paths->installed, REPLACE_FLAGS))
        return 0;
    return GetLastError();
}

// Replaces the applying files in manifest order. Returns the row that
// failed, with its line appended, or -1 when all were replaced.
static int replace_files(const bool *applies, const bool *is_new)
{
    GamePaths paths;
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (!applies[i])
            continue;
        DWORD error = 0;
        if (!format_paths(&paths, payload_manifest[i].install_name))
            error = ERROR_FILENAME_EXCED_RANGE;
        else
            error = flush_to_disk(paths.temporary);
        if (error == 0 && !is_new[i])
            error = keep_backup(&paths);
        if (error == 0 && !MoveFileExA(paths.temporary, paths.installed, REPLACE_FLAGS))
            error = GetLastError();
        if (error != 0) {
            append_failure_line(CANT_REPLACE_LINE, payload_manifest[i].install_name, error);
            return i;
        }
    }
    return -1;
}

// Undoes rows before failed and drops the backup of failed itself. Returns
// false, with a line appended per file, when something could not be put back.
static bool restore_files(const bool *applies, const bool *is_new, int failed)
{
    GamePaths paths;
    bool restored = true;
    for (int i = failed; i >= 0; --i) {
        if (!applies[i] || !format_paths(&paths, payload_manifest[i].install_name))
            continue;
        if (i == failed) {
            DeleteFileA(paths.backup);
            continue;
        }
        DWORD error = restore_file(&paths, is_new[i]);
        if (error != 0) {
            append_failure_line(CANT_RESTORE_LINE, payload_manifest[i].install_name, error);
            restored = false;
        }
    }
    return restored;
}

int commit_payloads()
{
    char journal_path[SCRATCH_PATH_SIZE];
    char journal[PAYLOAD_ROWS * 64] = "";
    bool applies[PAYLOAD_ROWS] = {};
    bool is_new[PAYLOAD_ROWS] = {};
    GamePaths paths;
    DWORD error = ERROR_FILENAME_EXCED_RANGE;
    if (format_game_path(journal_path, sizeof journal_path, "", JOURNAL_NAME, "")) {
        for (int i = 0; i < PAYLOAD_ROWS; ++i) {
            applies[i] = payload_row_applies(&payload_manifest[i], language);
            if (applies[i] && format_paths(&paths, payload_manifest[i].install_name) && !exists(paths.installed)) {
                is_new[i] = true;
                append_text(journal, sizeof journal, payload_manifest[i].install_name);
                append_text(journal, sizeof journal, "\n");
            }
        }
        error = write_durably(journal_path, journal);
    }
    if (error != 0) {
        append_failure_line(CANT_REPLACE_LINE, JOURNAL_NAME, error);
        return -1;
    }

    int failed = replace_files(applies, is_new);
    if (failed >= 0) {
        // A journal stays only when something could not be put back: the next run finishes the job.
        if (restore_files(applies, is_new, failed))
            DeleteFileA(journal_path);
        return -1;
    }
    // The commit point: from here on the new installation stands.
    DeleteFileA(journal_path);
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (applies[i] && format_paths(&paths, payload_manifest[i].install_name))
            DeleteFileA(paths.backup);
    }
    return 0;
}

// True when name is one line of the journal text.
static bool journal_lists(const char *journal, const char *name)
{
    size_t length = strlen(name);
    for (const char *line = journal; *line != '\0';) {
        const char *end = strchr(line, '\n');
        size_t line_length = end ? static_cast<size_t>(end - line) : strlen(line);
        if (line_length == length && strncmp(line, name, length) == 0)
            return true;
        line += line_length + (end ? 1 : 0);
    }
    return false;
}

int recover_interrupted_commit()
{
    char journal_path[SCRATCH_PATH_SIZE];
    if (install_dir[0] == '\0' || !format_game_path(journal_path, sizeof journal_path, "", JOURNAL_NAME, ""))
        return 0;
    char journal[PAYLOAD_ROWS * 64] = "";
    bool interrupted = false;
    FILE *file = fopen(journal_path, "rb");
    if (file) {
        interrupted = true;
        size_t length = fread(journal, 1, sizeof journal - 1, file);
        journal[length] = '\0';
        fclose(file);
    }
    bool restored = true;
    GamePaths paths;
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (!format_paths(&paths, payload_manifest[i].install_name))
            continue;
        bool has_backup = exists(paths.backup);
        if (!interrupted) {
            if (has_backup)
                DeleteFileA(paths.backup);
            continue;
        }
        if (!has_backup && !journal_lists(journal, payload_manifest[i].install_name))
            continue; // not replaced yet, or put back already
        DWORD error = restore_file(&paths, !has_backup);
        if (error != 0) {
            append_failure_line(CANT_RESTORE_LINE, payload_manifest[i].install_name, error);
            restored = false;
        }
    }
    if (!restored)
        return -1;
    if (interrupted)
        DeleteFileA(journal_path);
    return 0;
}
