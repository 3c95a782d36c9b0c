// planted_dll.cpp -- a DLL planted beside the updater under a system DLL's name: it records each process that loads it
// in "<its own path>.loaded", one program path a line. No runtime: it imports kernel32 alone.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char marker[MAX_PATH + 8], program[MAX_PATH + 2]; // each name is at most MAX_PATH - 1 characters
    DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
    DWORD program_length = GetModuleFileNameA(NULL, program, MAX_PATH);
    lstrcpyA(marker + length, ".loaded");
    lstrcpyA(program + program_length, "\n");
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, program, program_length + 1, &written, NULL);
        CloseHandle(file);
    }
    return TRUE;
}
