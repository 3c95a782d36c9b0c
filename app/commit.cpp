// commit.cpp -- all-or-nothing replacement of the installed files, with a journal for interrupted runs
#include "app/commit.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "app/busy_wait.h"
#include "app/file_io.h"
#include "app/game_paths.h"
#include "app/state.h"
#include "app/text_buffer.h"
#include "payload/manifest.h"

static const char CANT_REPLACE_LINE[] = "Can't Replace File: %s [%x]\n";
static const char CANT_RESTORE_LINE[] = "Can't Restore File: %s [%x]\n";
static const DWORD REPLACE_FLAGS = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// What the commit does to one installed file. The journal holds a line per
// file, "old <attributes in hex> <name>" for a file kept under its backup
// name or "new <name>" for one that did not exist, and a last line "end":
// a journal without it was cut short, before any file was replaced.
enum FileState { FILE_UNTOUCHED = 0, FILE_OLD, FILE_NEW };

static const char JOURNAL_END[] = "end";
enum { JOURNAL_SIZE = 512, JOURNAL_LINE_SIZE = 96 };

HANDLE unpacked_files[PAYLOAD_ROWS];

// Indexed by the first manifest row of each installed name: the rows of the
// language-specific group share one file.
struct CommitPlan {
    int state[PAYLOAD_ROWS];
    DWORD attributes[PAYLOAD_ROWS]; // of an old file, before the commit
};

// This run found or wrote a commit's journal that is still in the game
// folder, or cannot tell that it is not: a commit is then under way or not
// yet undone, and the unpacked files tell the next run which installed files
// it never replaced.
static bool journal_written;

// This run read the folder's journal (or learnt that there is none).
static bool journal_read;

// The journal's path, GAME_PATH_SIZE bytes; false when it does not fit.
static bool format_journal_path(char *path)
{
    return format_game_path(path, GAME_PATH_SIZE, "", JOURNAL_NAME, "");
}

// After a failed write or removal of the journal: true unless it is gone for
// certain. A name whose deletion is pending is gone once its holder lets go.
static bool journal_remains(const char *journal_path)
{
    DWORD attributes = 0;
    DWORD error = file_attributes(journal_path, &attributes);
    return !is_absent(error) && error != ERROR_DELETE_PENDING;
}

// The file's name, with false when its paths do not fit; the run checks
// them all before it writes anything.
static bool row_paths(int row, GamePaths *paths)
{
    return format_game_paths(paths, payload_manifest[row].install_name);
}

static void format_journal(const CommitPlan *plan, char *journal, size_t size)
{
    char line[JOURNAL_LINE_SIZE];
    journal[0] = '\0';
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        const char *name = payload_manifest[i].install_name;
        if (plan->state[i] == FILE_OLD)
            snprintf(line, sizeof line, "old %lx %s\n", static_cast<unsigned long>(plan->attributes[i]), name);
        else if (plan->state[i] == FILE_NEW)
            snprintf(line, sizeof line, "new %s\n", name);
        else
            continue;
        append_text(journal, size, line);
    }
    append_text(journal, size, JOURNAL_END);
    append_text(journal, size, "\n");
}

// Reads a journal into plan. Returns true when it was written whole.
static bool parse_journal(const char *journal, CommitPlan *plan)
{
    for (const char *line = journal; *line != '\0';) {
        const char *end = strchr(line, '\n');
        if (!end)
            return false;
        char entry[JOURNAL_LINE_SIZE] = "";
        char name[JOURNAL_LINE_SIZE] = "";
        unsigned long attributes = 0;
        size_t length = static_cast<size_t>(end - line);
        if (length < sizeof entry)
            memcpy(entry, line, length);
        line = end + 1;
        if (strcmp(entry, JOURNAL_END) == 0)
            return true;
        int state = FILE_UNTOUCHED;
        if (sscanf(entry, "old %lx %95s", &attributes, name) == 2)
            state = FILE_OLD;
        else if (sscanf(entry, "new %95s", name) == 1)
            state = FILE_NEW;
        int row = payload_file_row(name);
        if (state != FILE_UNTOUCHED && row >= 0) {
            plan->state[row] = state;
            plan->attributes[row] = static_cast<DWORD>(attributes);
        }
    }
    return false;
}

// Records what the file is now and keeps an existing one's content under
// its backup name: a second link to the same data where the file system has
// links, else a copy flushed to the disk. Returns 0 or the error code.
static DWORD keep_old_file(const GamePaths *paths, CommitPlan *plan, int row)
{
    DWORD attributes = 0;
    DWORD error = keep_file(paths->installed, paths->backup, &attributes);
    if (is_absent(error)) {
        plan->state[row] = FILE_NEW;
        return 0;
    }
    if (error != 0)
        return error;
    plan->state[row] = FILE_OLD;
    plan->attributes[row] = attributes;
    return 0;
}

// Replaces the installed file by the unpacked one in one rename, made on the
// handle kept since its unpacking (by name where there is none). A read-only
// file loses its attribute first; a file that did not exist before is not
// written over should one have appeared since.
static DWORD replace_file(const GamePaths *paths, int state, DWORD attributes, HANDLE *unpacked)
{
    DWORD error = 0;
    if (state == FILE_OLD && (attributes & FILE_ATTRIBUTE_READONLY))
        error = set_file_attributes(paths->installed, attributes & ~FILE_ATTRIBUTE_READONLY, paths->backup);
    DWORD flags = state == FILE_NEW ? MOVEFILE_WRITE_THROUGH : REPLACE_FLAGS;
    if (error != 0)
        return error;
    return *unpacked ? rename_kept_file(unpacked, paths->installed, flags)
                     : rename_file(paths->temporary, paths->installed, flags);
}

// Puts one file back as it was before the commit. When may_be_replaced is
// false, or its temporary file is still there, it was never replaced: only
// its backup goes. Returns 0 or the error code.
static DWORD undo_file(const GamePaths *paths, int state, DWORD attributes, bool may_be_replaced)
{
    bool replaced = false;
    DWORD found = 0;
    if (may_be_replaced) {
        DWORD error = file_attributes(paths->temporary, &found);
        if (error != 0 && !is_absent(error))
            return error;
        replaced = error != 0;
    }
    if (state == FILE_NEW)
        return replaced ? remove_file(paths->installed) : 0;

    DWORD error = 0;
    if (!replaced) {
        error = remove_file(paths->backup);
        // A link shares its attributes with the backup: removing that, or failing to, may have cleared them.
        DWORD restored =
            attributes & FILE_ATTRIBUTE_READONLY ? set_file_attributes(paths->installed, attributes, paths->backup) : 0;
        return error != 0 ? error : restored;
    }
    error = file_attributes(paths->backup, &found);
    if (error == 0)
        error = rename_file(paths->backup, paths->installed, REPLACE_FLAGS);
    else if (is_absent(error))
        error = 0; // put back by an earlier attempt, which may have ended before the attributes
    if (error == 0)
        error = set_file_attributes(paths->installed, attributes, paths->backup);
    // A file that is gone has no attributes to get back; the update puts it in place again.
    return is_absent(error) ? 0 : error;
}

// Undoes every file of plan, last first. Returns false, with a line appended
// per file, when one could not be put back.
static bool undo_commit(const CommitPlan *plan, bool may_be_replaced)
{
    bool undone = true;
    GamePaths paths;
    for (int i = PAYLOAD_ROWS - 1; i >= 0; --i) {
        if (plan->state[i] == FILE_UNTOUCHED || !row_paths(i, &paths))
            continue;
        DWORD error = undo_file(&paths, plan->state[i], plan->attributes[i], may_be_replaced);
        if (error != 0) {
            append_file_failure(CANT_RESTORE_LINE, payload_manifest[i].install_name, error);
            undone = false;
        }
    }
    return undone;
}

// Removes the backups of the files that plan does not name: leftovers of a
// finished commit or of one that never got to its journal. A backup that
// cannot be removed now is no harm: no journal will ever name it. One that
// is still a link to the installed file shares its attributes: clearing a
// read-only one to remove the backup must not leave the installed file
// without it.
static void remove_stale_backups(const CommitPlan *plan)
{
    GamePaths paths;
    DWORD found = 0;
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (plan->state[i] != FILE_UNTOUCHED || payload_file_row(payload_manifest[i].install_name) != i ||
            !row_paths(i, &paths) || file_attributes(paths.backup, &found) != 0)
            continue;
        DWORD before = 0;
        DWORD after = 0;
        bool installed = file_attributes(paths.installed, &before) == 0;
        remove_file(paths.backup);
        if (installed && file_attributes(paths.installed, &after) == 0 && after != before)
            set_file_attributes(paths.installed, before, paths.backup);
    }
}

int commit_payloads()
{
    CommitPlan plan = {};
    GamePaths paths;
    char journal_path[GAME_PATH_SIZE];
    char journal[JOURNAL_SIZE];
    if (!format_journal_path(journal_path)) {
        append_failure_line(CANT_REPLACE_LINE, JOURNAL_NAME, ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }

    // Every backup is complete and on the disk before the journal names it.
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (!payload_row_applies(&payload_manifest[i], language))
            continue;
        int row = payload_file_row(payload_manifest[i].install_name);
        DWORD error = row_paths(row, &paths) ? keep_old_file(&paths, &plan, row) : ERROR_FILENAME_EXCED_RANGE;
        if (error != 0) {
            append_file_failure(CANT_REPLACE_LINE, payload_manifest[i].install_name, error);
            undo_commit(&plan, false);
            return -1;
        }
    }
    format_journal(&plan, journal, sizeof journal);
    DWORD error = write_file_durably(journal_path, journal, static_cast<DWORD>(strlen(journal)), NULL);
    journal_written = error == 0 || journal_remains(journal_path);
    if (error != 0) {
        append_file_failure(CANT_REPLACE_LINE, JOURNAL_NAME, error);
        undo_commit(&plan, false);
        return -1;
    }

    for (int i = 0; i < PAYLOAD_ROWS && error == 0; ++i) {
        if (plan.state[i] == FILE_UNTOUCHED)
            continue;
        error = row_paths(i, &paths) ? replace_file(&paths, plan.state[i], plan.attributes[i], &unpacked_files[i])
                                     : ERROR_FILENAME_EXCED_RANGE;
        if (error != 0)
            append_file_failure(CANT_REPLACE_LINE, payload_manifest[i].install_name, error);
    }
    // The commit point: once the journal is gone, the new installation stands.
    if (error == 0) {
        error = remove_file(journal_path);
        if (error != 0)
            append_file_failure(CANT_REPLACE_LINE, JOURNAL_NAME, error);
        journal_written = error != 0;
    }
    if (error != 0) {
        // The journal stays only while something could not be put back: the next run finishes the job.
        if (undo_commit(&plan, true))
            journal_written = remove_file(journal_path) != 0 && journal_remains(journal_path);
        return -1;
    }
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (plan.state[i] == FILE_OLD && row_paths(i, &paths))
            remove_file(paths.backup);
    }
    return 0;
}

int recover_interrupted_commit()
{
    char journal_path[GAME_PATH_SIZE];
    char journal[JOURNAL_SIZE];
    CommitPlan plan = {};
    if (install_dir[0] == '\0' || !format_journal_path(journal_path))
        return 0;
    DWORD error = read_small_file(journal_path, journal, sizeof journal);
    journal_written = !is_absent(error);
    journal_read = error == 0 || is_absent(error);
    if (error != 0 && !is_absent(error)) {
        append_file_failure(CANT_RESTORE_LINE, JOURNAL_NAME, error);
        return -1;
    }
    bool interrupted = error == 0;
    if (interrupted) {
        // A journal cut short was being written: no file had been replaced yet.
        bool whole = parse_journal(journal, &plan);
        if (!undo_commit(&plan, whole))
            return -1;
    }
    remove_stale_backups(&plan);
    if (interrupted) {
        error = remove_file(journal_path);
        if (error != 0) {
            append_file_failure(CANT_RESTORE_LINE, JOURNAL_NAME, error);
            return -1;
        }
        journal_written = false;
    }
    return 0;
}

bool discard_unpacked_files()
{
    // A run that stopped before it read the journal (its discovery failed) looks for it now: the unpacked files
    // that an interrupted commit left tell the next run which installed files it never replaced.
    char journal_path[GAME_PATH_SIZE];
    bool stands = journal_written || (!journal_read && install_dir[0] != '\0' && format_journal_path(journal_path) &&
                                      journal_remains(journal_path));
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        // Once per file: a file still held is waited for once.
        const char *name = payload_manifest[i].install_name;
        if (unpacked_files[i])
            close_kept_file(&unpacked_files[i], !stands);
        else if (!stands && install_dir[0] != '\0' && payload_file_row(name) == i &&
                 format_game_path(scratch_path, GAME_PATH_SIZE, "~", name, ""))
            remove_file(scratch_path);
    }
    return stands;
}
