// scanner.cpp -- behaves like an on-access virus scanner beside the updater: each file of a folder that appears or
// changes is opened as soon as it can be, for reading, sharing reading only (no writing, no deletion), and held.
// scanner.exe FOLDER HOLD_MS LOG: every hold is logged ("held NAME") to LOG, outside the folder; it runs until ended.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { MAX_FILES = 256, MAX_HOLDS = 64 };

struct Seen {
    char name[MAX_PATH];
    FILETIME written;
    DWORD size;
};

struct Hold {
    HANDLE file;
    DWORD since;
};

static Seen seen[MAX_FILES];
static int seen_count;
static Hold holds[MAX_HOLDS];

// True when the entry is new or changed since it was last held.
static bool is_fresh(const WIN32_FIND_DATAA *entry)
{
    for (int i = 0; i < seen_count; ++i) {
        if (strcmp(seen[i].name, entry->cFileName) == 0)
            return CompareFileTime(&seen[i].written, &entry->ftLastWriteTime) != 0 ||
                   seen[i].size != entry->nFileSizeLow;
    }
    return true;
}

static void remember(const WIN32_FIND_DATAA *entry)
{
    int i = 0;
    while (i < seen_count && strcmp(seen[i].name, entry->cFileName) != 0)
        ++i;
    if (i == MAX_FILES)
        return;
    seen_count += i == seen_count;
    snprintf(seen[i].name, sizeof seen[i].name, "%s", entry->cFileName);
    seen[i].written = entry->ftLastWriteTime;
    seen[i].size = entry->nFileSizeLow;
}

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    DWORD hold_ms = static_cast<DWORD>(atoi(argv[2]));
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s\\*", argv[1]);
    for (;;) {
        for (Hold &hold : holds) {
            if (hold.file && GetTickCount() - hold.since >= hold_ms) {
                CloseHandle(hold.file);
                hold.file = NULL;
            }
        }
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern, &entry);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &entry)) {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !is_fresh(&entry))
                continue;
            Hold *free_hold = NULL;
            for (Hold &hold : holds)
                free_hold = free_hold || hold.file ? free_hold : &hold;
            char path[2 * MAX_PATH];
            snprintf(path, sizeof path, "%s\\%s", argv[1], entry.cFileName);
            HANDLE file = free_hold ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL)
                                    : INVALID_HANDLE_VALUE;
            if (file == INVALID_HANDLE_VALUE)
                continue; // still being written, or no hold free: the next look tries again
            *free_hold = {file, GetTickCount()};
            remember(&entry);
            if (FILE *log = fopen(argv[3], "ab")) {
                fprintf(log, "held %s\n", entry.cFileName);
                fclose(log);
            }
        }
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        Sleep(1);
    }
}
