// busy_wait.h -- every file operation of the run waits, within a bound, for another program that holds its file
#pragma once

#include <windows.h>

// The wait of one file operation; zero before its first attempt.
struct BusyWait {
    DWORD error;    // after the last attempt: 0, or the code the operation fails with
    DWORD started;  // when the first refusal came (GetTickCount)
    DWORD pause;    // the next pause in milliseconds; 0 before the first refusal
    bool shown;     // the progress window has been asked to say that the run waits for the file
    bool replacing; // set by the caller: the operation renames a file over path
};

// try_again -- after one attempt at an operation on path (for a rename or a
// copy, its target), done telling whether it succeeded. True when it was
// refused by another program's handle (a sharing or lock violation, access
// denied to a file whose deletion is pending, or to a rename over a file that
// another program has open) and the wait is not used up: it has paused, keeping the
// windows alive and saying in the progress window which file it waits for
// once the wait is long enough to be seen, and the caller tries again. A wait
// that is used up asks which programs hold the file. Otherwise false, with
// wait->error 0 or the code to fail with: the call's own, fallback when it
// left none, and for access denied by such a hold the hold's own code
// (ERROR_DELETE_PENDING, ERROR_SHARING_VIOLATION).
bool try_again(BusyWait *wait, BOOL done, DWORD fallback, const char *path);

// True for the codes with which another program's hold on a file fails an operation.
bool is_busy(DWORD error);

// Appends the failure line of a file operation on name that failed with
// error: format (one %s, one %x), or, for a file that stayed in use, the
// catalogue's line that tells the player to close the program holding it,
// followed by the names of the programs that held it, where the system told.
void append_file_failure(const char *format, const char *name, DWORD error);
