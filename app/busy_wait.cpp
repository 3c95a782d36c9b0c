// busy_wait.cpp -- every file operation of the run waits, within a bound, for another program that holds its file
//
// The updater is never alone with the game folder. On-access virus scanners
// open each file as soon as it has been written, closed or renamed and keep it
// open for tens of milliseconds to a few seconds; search indexers, backup and
// cloud-sync agents do the same, and the game itself may still be running.
// While such a handle does not share deletion, Windows refuses to rename the
// file, to rename over it, to delete it or to open it for writing (a sharing
// or lock violation); a file deleted while another handle is open stays
// "delete pending", and its name answers access denied until that handle
// closes. Failing at the first refusal would make the update fail on every
// machine with a scanner, so each operation is tried again while it is
// refused so, with growing pauses, within a bound that ends the wait for a
// file that stays in use (the game still running): then it fails as any
// other error does, all or nothing, with a line that tells the player what
// to do, naming the programs that hold the file where the system can tell.
// An operation that succeeds at once costs nothing more.
#include "app/busy_wait.h"

#include <stdio.h>
#include <string.h>

#include "app/catalogue.h"
#include "app/file_holders.h"
#include "app/game_paths.h"
#include "app/state.h"
#include "ui/progress_window.h"

// Holds of scanners and indexers end within a few seconds; ten covers those
// many times over, and a file that is really in use fails the run in about
// ten seconds. Pauses start short, since most holds end within tens of
// milliseconds, and double, so that a long hold costs few attempts, up to a
// quarter of a second, so that the run goes on soon after the file is free.
// The windows are serviced at least every 50 ms, and the progress window
// says which file the run waits for once the wait has lasted 250 ms.
static const DWORD BUSY_WAIT_MS = 10000, FIRST_PAUSE_MS = 10, LONGEST_PAUSE_MS = 250, MESSAGE_SLICE_MS = 50,
                   SHOW_AFTER_MS = 250;

// The programs that held the file of the last wait that was used up, for its failure line.
static char holders[512];

static const LONG STATUS_DELETE_PENDING_CODE = static_cast<LONG>(0xC0000056);

// The status of the thread's last failed system call: for a file whose
// deletion is pending, Windows reports a plain access denied, and only this
// status tells it apart from a file that may not be written at all.
static bool deletion_pending()
{
    typedef LONG(WINAPI * LastStatusCall)();
    LastStatusCall last_status = reinterpret_cast<LastStatusCall>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetLastNtStatus")));
    return last_status && last_status() == STATUS_DELETE_PENDING_CODE;
}

// Why an operation on path was refused with access denied, as a code that
// is_busy knows, or 0 for a refusal of another kind (a directory in the way,
// a file the run may not write). A file whose deletion is pending has its own
// code. Windows also refuses a rename over a file that another program has
// open at all (with its deletion shared, or a running program's image), not
// with a sharing violation: when the file can be opened for deletion and is
// neither read-only nor a directory, that hold is the cause.
static DWORD access_denied_cause(const char *path, bool replacing)
{
    if (deletion_pending())
        return ERROR_DELETE_PENDING;
    if (!replacing)
        return 0;
    HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED && deletion_pending())
            return ERROR_DELETE_PENDING;
        return is_busy(error) ? error : 0;
    }
    CloseHandle(file);
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return 0;
    return ERROR_SHARING_VIOLATION;
}

// The name the player knows for path: its last part without the run's "~" and ".bak".
static void file_name_of(const char *path, char *name, size_t size)
{
    const char *start = path;
    for (const char *at = path; *at != '\0'; ++at) {
        if (*at == '\\' || *at == '/')
            start = at + 1;
    }
    if (*start == '~')
        ++start;
    size_t length = strlen(start);
    if (length > 4 && strcmp(start + length - 4, ".bak") == 0)
        length -= 4;
    snprintf(name, size, "%.*s", static_cast<int>(length), start);
}

static void pause_serving_windows(DWORD milliseconds)
{
    for (DWORD slept = 0; slept < milliseconds; slept += MESSAGE_SLICE_MS) {
        pump_messages();
        Sleep(milliseconds - slept < MESSAGE_SLICE_MS ? milliseconds - slept : MESSAGE_SLICE_MS);
    }
    pump_messages();
}

bool is_busy(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_DELETE_PENDING;
}

// Ends a wait that the progress window showed: the label names the file again.
static void end_shown_wait(BusyWait *wait, const char *path)
{
    if (!wait->shown)
        return;
    char name[GAME_PATH_SIZE];
    file_name_of(path, name, sizeof name);
    show_progress_label(name);
    wait->shown = false;
}

bool try_again(BusyWait *wait, BOOL done, DWORD fallback, const char *path)
{
    if (done) {
        wait->error = 0;
        end_shown_wait(wait, path);
        return false;
    }
    wait->error = GetLastError();
    if (wait->error == 0)
        wait->error = fallback;
    if (wait->error == ERROR_ACCESS_DENIED) {
        DWORD cause = access_denied_cause(path, wait->replacing);
        wait->error = cause != 0 ? cause : wait->error;
    }
    if (!is_busy(wait->error)) {
        end_shown_wait(wait, path);
        return false;
    }
    DWORD now = GetTickCount();
    if (wait->pause == 0) {
        wait->started = now;
        wait->pause = FIRST_PAUSE_MS;
        holders[0] = '\0';
    }
    DWORD waited = now - wait->started;
    if (waited >= BUSY_WAIT_MS) {
        // Asked once, as the file fails the run: the answer may take a while.
        name_file_holders(path, holders, sizeof holders);
        end_shown_wait(wait, path);
        return false;
    }
    if (!wait->shown && waited >= SHOW_AFTER_MS) {
        char name[GAME_PATH_SIZE], label[GAME_PATH_SIZE + 64];
        file_name_of(path, name, sizeof name);
        snprintf(label, sizeof label, catalogue_text(language, WaitingFor), name);
        show_progress_label(label);
        wait->shown = true;
    }
    DWORD pause = wait->pause < BUSY_WAIT_MS - waited ? wait->pause : BUSY_WAIT_MS - waited;
    pause_serving_windows(pause);
    wait->pause = wait->pause * 2 < LONGEST_PAUSE_MS ? wait->pause * 2 : LONGEST_PAUSE_MS;
    return true;
}

void append_file_failure(const char *format, const char *name, DWORD error)
{
    bool held = is_busy(error);
    append_failure_line(held ? catalogue_text(language, FileInUse) : format, name, error);
    if (held && holders[0] != '\0') {
        snprintf(scratch_path, sizeof scratch_path, catalogue_text(language, HeldBy), holders);
        append_details(scratch_path);
    }
    holders[0] = '\0';
}
