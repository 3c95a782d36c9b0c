// scanner.cpp FOLDER HOLD_MS LOG -- an on-access virus scanner beside the updater, until ended: each file of FOLDER
// that appears or changes is opened as soon as it can be, sharing reading only, held HOLD_MS and logged ("held NAME").
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Hold {
    char name[MAX_PATH];
    FILETIME written; // of the file as it was held: a change is held anew
    HANDLE file;
    DWORD since;
};
static Hold holds[256];

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    DWORD hold_ms = static_cast<DWORD>(atoi(argv[2]));
    char pattern[MAX_PATH], path[2 * MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s\\*", argv[1]);
    for (;; Sleep(1)) {
        for (Hold &hold : holds)
            if (hold.file && GetTickCount() - hold.since >= hold_ms)
                CloseHandle(hold.file), hold.file = NULL;
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern, &entry);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &entry)) {
            Hold *hold = holds;
            while (hold < holds + 255 && hold->name[0] && strcmp(hold->name, entry.cFileName) != 0)
                ++hold;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || hold->file ||
                (hold->name[0] && CompareFileTime(&hold->written, &entry.ftLastWriteTime) == 0))
                continue;
            snprintf(path, sizeof path, "%s\\%s", argv[1], entry.cFileName);
            HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            if (file == INVALID_HANDLE_VALUE)
                continue; // still being written: the next look tries again
            snprintf(hold->name, sizeof hold->name, "%s", entry.cFileName);
            hold->written = entry.ftLastWriteTime, hold->file = file, hold->since = GetTickCount();
            if (FILE *log = fopen(argv[3], "ab"))
                fprintf(log, "held %s\n", entry.cFileName), fclose(log);
        }
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }
}
