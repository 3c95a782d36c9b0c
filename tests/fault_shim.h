// fault_shim.h -- force-included into the sweep build of the updater: each file operation is counted, held to
// Windows' rules for read-only files (Wine as root opens one for writing), and failed (OSTREVAN_SWEEP_MODE=fail) or
// ended on the spot (crash), a write or a copy then half done, at operation OSTREVAN_SWEEP_AT. NO_LINKS=1: no hard
// links, as on FAT and exFAT, and a write that fails reports success with a short count, as some file systems do.
// WITHOUT=progress or dialog: that window cannot be created. The dialog is answered ANSWER (ok, else Cancel); the
// game's start is recorded, not made. REPORT gets a line per operation, row and start, and what the dialog showed.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "res/resource.h"
#include "tests/sweep_report.h"

namespace shim
{

inline bool no_links;
inline int fault_at, operations, bar_position;
inline std::string mode, without, answer, report; // the settings; report: its path
inline DLGPROC product_procedure;

// Appends to the report, which thus holds all that happened however the run ends.
inline void note(const std::string &text)
{
    if (FILE *file = report.empty() ? NULL : fopen(report.c_str(), "ab")) {
        fputs(text.c_str(), file);
        fclose(file);
    }
}

inline void load() // the settings, from the environment
{
    auto setting = [](const char *name) {
        const char *value = getenv((std::string("OSTREVAN_SWEEP_") + name).c_str());
        return std::string(value ? value : "");
    };
    mode = setting("MODE"), without = setting("WITHOUT"), answer = setting("ANSWER"), report = setting("REPORT");
    fault_at = atoi(setting("AT").c_str());
    no_links = setting("NO_LINKS") == "1";
}

// Ends the process here when this operation is the one to crash at.
inline void crash_here()
{
    if (mode == "crash" && operations == fault_at)
        TerminateProcess(GetCurrentProcess(), SWEEP_CRASH_EXIT_CODE);
}

// Counts one operation. True when it is the one to fail, with the error set; when it is the one to crash at, the
// process ends here, or at the caller's crash_here once it has done its part of the work (whole is false).
inline bool fails(const char *name, const char *path, DWORD error, bool whole = true)
{
    load();
    note("op " + std::string(name) + " " + (path ? path : "") + "\n");
    if (++operations != fault_at || (mode != "fail" && mode != "crash"))
        return false;
    char line[120];
    snprintf(line, sizeof line, "injected %d %s %lx\n", operations, name, static_cast<unsigned long>(error));
    note(line);
    if (whole)
        crash_here();
    SetLastError(error);
    return true;
}

// Windows' answer to writing, copying over, replacing or deleting a read-only file.
inline bool read_only(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    bool refused = attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == FILE_ATTRIBUTE_READONLY;
    if (refused)
        SetLastError(ERROR_ACCESS_DENIED);
    return refused;
}

inline INT_PTR CALLBACK answering_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    INT_PTR result = product_procedure(dialog, message, wparam, lparam);
    if (message == WM_INITDIALOG) {
        char text[8192];
        for (int id : {IDC_MESSAGE, IDC_DETAILS_BOX}) {
            GetDlgItemTextA(dialog, id, text, sizeof text);
            note(std::string(id == IDC_MESSAGE ? "message\n" : "details\n") + text + "\n" REPORT_TEXT_END "\n");
        }
        note("dialog\n");
        PostMessageA(dialog, WM_COMMAND, answer == "ok" ? IDOK : IDCANCEL, 0);
    }
    return result;
}

} // namespace shim

inline HANDLE WINAPI shim_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                      DWORD disposition, DWORD flags, HANDLE model)
{
    bool writes = (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) || disposition == CREATE_ALWAYS;
    if (shim::fails("CreateFileA", path, disposition == CREATE_ALWAYS ? ERROR_DISK_FULL : ERROR_SHARING_VIOLATION) ||
        (writes && shim::read_only(path)))
        return INVALID_HANDLE_VALUE;
    return CreateFileA(path, access, share, security, disposition, flags, model);
}

inline BOOL WINAPI shim_WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    if (!shim::fails("WriteFile", NULL, ERROR_DISK_FULL, false))
        return WriteFile(file, data, length, done, overlapped);
    // Half of it reaches the file: then the process ends, or the disk is full.
    BOOL written = WriteFile(file, data, length / 2, done, overlapped);
    shim::crash_here();
    SetLastError(ERROR_DISK_FULL);
    return written && shim::no_links;
}

// A close that fails (a delayed write on a full disk) still releases the handle.
inline BOOL WINAPI shim_CloseHandle(HANDLE handle)
{
    bool failed = shim::fails("CloseHandle", NULL, ERROR_DISK_FULL);
    BOOL closed = CloseHandle(handle);
    if (failed)
        SetLastError(ERROR_DISK_FULL);
    return closed && !failed;
}

inline BOOL WINAPI shim_CopyFileA(LPCSTR from, LPCSTR to, BOOL fail_if_exists)
{
    if (!shim::fails("CopyFileA", to, ERROR_DISK_FULL, false))
        return !shim::read_only(to) && CopyFileA(from, to, fail_if_exists);
    // A crash cuts the copy at half its length.
    if (shim::mode == "crash" && CopyFileA(from, to, fail_if_exists)) {
        HANDLE file = CreateFileA(to, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        SetFilePointer(file, static_cast<LONG>(GetFileSize(file, NULL) / 2), NULL, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
    }
    shim::crash_here();
    return FALSE;
}

inline BOOL WINAPI shim_CreateHardLinkA(LPCSTR link, LPCSTR target, LPSECURITY_ATTRIBUTES security)
{
    if (shim::fails("CreateHardLinkA", link, ERROR_ACCESS_DENIED))
        return FALSE;
    if (shim::no_links)
        SetLastError(ERROR_INVALID_FUNCTION);
    return !shim::no_links && CreateHardLinkA(link, target, security);
}

inline HWND WINAPI shim_CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure, LPARAM param)
{
    shim::load();
    return shim::without == "progress" ? NULL : CreateDialogParamA(instance, name, owner, procedure, param);
}

inline INT_PTR WINAPI shim_DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure, LPARAM param)
{
    shim::load();
    shim::product_procedure = procedure;
    return shim::without == "dialog" ? -1 : DialogBoxParamA(instance, name, owner, shim::answering_procedure, param);
}

inline LRESULT WINAPI shim_SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == PBM_SETPOS)
        shim::bar_position = static_cast<int>(wparam);
    return SendMessageA(window, message, wparam, lparam);
}

inline BOOL WINAPI shim_SetWindowTextA(HWND window, LPCSTR text)
{
    if (GetDlgCtrlID(window) == IDC_FILE_LABEL)
        shim::note("row " + std::to_string(shim::bar_position) + " " + text + "\n");
    return SetWindowTextA(window, text);
}

// The desktop shell is out of reach: the updater's own start of the game is the one recorded.
inline HRESULT WINAPI shim_CoCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *object)
{
    *object = NULL;
    return REGDB_E_CLASSNOTREG;
}

inline HINSTANCE WINAPI shim_ShellExecuteA(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR directory, INT)
{
    shim::note(std::string("launch ") + directory + "\\" + file + "\n");
    return reinterpret_cast<HINSTANCE>(42);
}

#define CreateFileA shim_CreateFileA
#define WriteFile shim_WriteFile
#define CloseHandle shim_CloseHandle
#define CopyFileA shim_CopyFileA
#define CreateHardLinkA shim_CreateHardLinkA
#define CreateDialogParamA shim_CreateDialogParamA
#define DialogBoxParamA shim_DialogBoxParamA
#define SendMessageA shim_SendMessageA
#define SetWindowTextA shim_SetWindowTextA
#define CoCreateInstance shim_CoCreateInstance
#define ShellExecuteA shim_ShellExecuteA

// The calls that only fail at their turn, or hold to Windows' rules for read-only files.
#define ReadFile(file, ...) (!shim::fails("ReadFile", NULL, ERROR_READ_FAULT) && ReadFile(file, __VA_ARGS__))
#define FlushFileBuffers(file) (!shim::fails("FlushFileBuffers", NULL, ERROR_DISK_FULL) && FlushFileBuffers(file))
#define SetFileAttributesA(path, attributes)                                                                           \
    (!shim::fails("SetFileAttributesA", path, ERROR_ACCESS_DENIED) && SetFileAttributesA(path, attributes))
#define GetFileAttributesA(path)                                                                                       \
    (shim::fails("GetFileAttributesA", path, ERROR_ACCESS_DENIED) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path))
#define DeleteFileA(path)                                                                                              \
    (!shim::fails("DeleteFileA", path, ERROR_SHARING_VIOLATION) && !shim::read_only(path) && DeleteFileA(path))
#define MoveFileExA(from, to, flags)                                                                                   \
    (!shim::fails("MoveFileExA", to, ERROR_SHARING_VIOLATION) &&                                                       \
     !(((flags)&MOVEFILE_REPLACE_EXISTING) && shim::read_only(to)) && MoveFileExA(from, to, flags))
