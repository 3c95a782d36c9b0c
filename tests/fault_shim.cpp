// fault_shim.cpp -- the shim of the sweep build. Every file operation of the updater is counted and held to
// Windows' rules for read-only files, which Wine run as root bends (it opens one for writing). The operation
// numbered OSTREVAN_SWEEP_AT fails with a realistic error (OSTREVAN_SWEEP_MODE=fail) or ends the process there
// (crash), leaving a write or a copy half done. OSTREVAN_SWEEP_NO_LINKS=1 refuses hard links, as FAT and exFAT
// do, and a write that fails then reports success with a short count, as some file systems and redirectors do.
// OSTREVAN_SWEEP_WITHOUT=progress or dialog: that window cannot be created. The result dialog is answered
// OSTREVAN_SWEEP_ANSWER (ok, else Cancel); the game's start is recorded, never made. OSTREVAN_SWEEP_REPORT
// receives the operations, the rows of the progress window, what the dialog showed and the start of the game.
#include <windows.h>

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "res/resource.h"
#include "tests/sweep_report.h"

namespace
{

enum Mode { MODE_COUNT, MODE_FAIL, MODE_CRASH };
Mode mode = MODE_COUNT;
int fault_at, operations, bar_position;
bool loaded, no_links;
std::string without, answer, report_path;
std::string report; // the texts of the dialog, then in order "op K NAME PATH", "row POSITION LABEL", "dialog",
                    // "launch PATH"; the counts come first in the file

std::string setting(const char *name)
{
    const char *value = getenv(name);
    return value ? value : "";
}

void write_report()
{
    FILE *file = fopen(report_path.c_str(), "wb");
    if (file) {
        fprintf(file, "operations %d\n%s", operations, report.c_str());
        fclose(file);
    }
}

void load_settings()
{
    if (loaded)
        return;
    loaded = true;
    std::string value = setting("OSTREVAN_SWEEP_MODE");
    mode = value == "fail" ? MODE_FAIL : value == "crash" ? MODE_CRASH : MODE_COUNT;
    fault_at = atoi(setting("OSTREVAN_SWEEP_AT").c_str());
    no_links = setting("OSTREVAN_SWEEP_NO_LINKS") == "1";
    without = setting("OSTREVAN_SWEEP_WITHOUT");
    answer = setting("OSTREVAN_SWEEP_ANSWER");
    report_path = setting("OSTREVAN_SWEEP_REPORT");
    if (!report_path.empty())
        atexit(write_report);
}

// Counts one operation. True when it is the one to fail or to crash at: the error is set then.
bool faulty(const char *name, const char *path, DWORD error)
{
    load_settings();
    report += "op " + std::to_string(++operations) + " " + name + " " + (path ? path : "") + "\n";
    if (operations != fault_at || mode == MODE_COUNT)
        return false;
    char line[120];
    snprintf(line, sizeof line, "injected %d %s %lx\n", operations, name, static_cast<unsigned long>(error));
    report.insert(0, line);
    SetLastError(error);
    return true;
}

// Ends the process here when this operation is the one to crash at.
void crash_here()
{
    if (mode == MODE_CRASH && operations == fault_at) {
        write_report();
        TerminateProcess(GetCurrentProcess(), SWEEP_CRASH_EXIT_CODE);
    }
}

bool fails(const char *name, const char *path, DWORD error)
{
    bool hit = faulty(name, path, error);
    if (hit)
        crash_here();
    return hit;
}

// Windows' answer to writing, copying over, replacing or deleting a read-only file.
bool read_only(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != FILE_ATTRIBUTE_READONLY)
        return false;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

DLGPROC product_procedure;

INT_PTR CALLBACK answering_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    INT_PTR result = product_procedure(dialog, message, wparam, lparam);
    if (message == WM_INITDIALOG) {
        char text[8192];
        GetDlgItemTextA(dialog, IDC_MESSAGE, text, sizeof text);
        std::string texts = "message\n" + std::string(text) + "\n" REPORT_TEXT_END "\n";
        GetDlgItemTextA(dialog, IDC_DETAILS_BOX, text, sizeof text);
        report.insert(0, texts + "details\n" + text + "\n" REPORT_TEXT_END "\n");
        report += "dialog\n";
        PostMessageA(dialog, WM_COMMAND, answer == "ok" ? IDOK : IDCANCEL, 0);
    }
    return result;
}

} // namespace

HANDLE WINAPI shim_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE model)
{
    if (fails("CreateFileA", path, disposition == CREATE_ALWAYS ? ERROR_DISK_FULL : ERROR_SHARING_VIOLATION) ||
        ((access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA) || disposition == CREATE_ALWAYS) &&
         read_only(path)))
        return INVALID_HANDLE_VALUE;
    return CreateFileA(path, access, share, security, disposition, flags, model);
}

BOOL WINAPI shim_ReadFile(HANDLE file, LPVOID data, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    return !fails("ReadFile", NULL, ERROR_READ_FAULT) && ReadFile(file, data, length, done, overlapped);
}

BOOL WINAPI shim_WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    if (!faulty("WriteFile", NULL, ERROR_DISK_FULL))
        return WriteFile(file, data, length, done, overlapped);
    // Half of it reaches the file: then the process ends, or the disk is full.
    BOOL written = WriteFile(file, data, length / 2, done, overlapped);
    crash_here();
    SetLastError(ERROR_DISK_FULL);
    return written && no_links;
}

BOOL WINAPI shim_FlushFileBuffers(HANDLE file)
{
    return !fails("FlushFileBuffers", NULL, ERROR_DISK_FULL) && FlushFileBuffers(file);
}

// A close that fails (a delayed write on a full disk) still releases the handle.
BOOL WINAPI shim_CloseHandle(HANDLE handle)
{
    bool failed = fails("CloseHandle", NULL, ERROR_DISK_FULL);
    BOOL closed = CloseHandle(handle);
    if (failed)
        SetLastError(ERROR_DISK_FULL);
    return closed && !failed;
}

BOOL WINAPI shim_MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    return !fails("MoveFileExA", to, ERROR_SHARING_VIOLATION) &&
           !((flags & MOVEFILE_REPLACE_EXISTING) && read_only(to)) && MoveFileExA(from, to, flags);
}

BOOL WINAPI shim_CopyFileA(LPCSTR from, LPCSTR to, BOOL fail_if_exists)
{
    if (!faulty("CopyFileA", to, ERROR_DISK_FULL))
        return !read_only(to) && CopyFileA(from, to, fail_if_exists);
    // A crash cuts the copy at half its length.
    if (mode == MODE_CRASH && CopyFileA(from, to, fail_if_exists)) {
        HANDLE file = CreateFileA(to, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        SetFilePointer(file, static_cast<LONG>(GetFileSize(file, NULL) / 2), NULL, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
    }
    crash_here();
    return FALSE;
}

BOOL WINAPI shim_CreateHardLinkA(LPCSTR link, LPCSTR target, LPSECURITY_ATTRIBUTES security)
{
    if (fails("CreateHardLinkA", link, ERROR_ACCESS_DENIED))
        return FALSE;
    if (no_links)
        SetLastError(ERROR_INVALID_FUNCTION);
    return !no_links && CreateHardLinkA(link, target, security);
}

BOOL WINAPI shim_DeleteFileA(LPCSTR path)
{
    return !fails("DeleteFileA", path, ERROR_SHARING_VIOLATION) && !read_only(path) && DeleteFileA(path);
}

BOOL WINAPI shim_SetFileAttributesA(LPCSTR path, DWORD attributes)
{
    return !fails("SetFileAttributesA", path, ERROR_ACCESS_DENIED) && SetFileAttributesA(path, attributes);
}

DWORD WINAPI shim_GetFileAttributesA(LPCSTR path)
{
    return fails("GetFileAttributesA", path, ERROR_ACCESS_DENIED) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path);
}

HWND WINAPI shim_CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure, LPARAM param)
{
    load_settings();
    if (without == "progress")
        return NULL;
    return CreateDialogParamA(instance, name, owner, procedure, param);
}

INT_PTR WINAPI shim_DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure, LPARAM param)
{
    load_settings();
    if (without == "dialog")
        return -1;
    product_procedure = procedure;
    return DialogBoxParamA(instance, name, owner, answering_procedure, param);
}

LRESULT WINAPI shim_SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == PBM_SETPOS)
        bar_position = static_cast<int>(wparam);
    return SendMessageA(window, message, wparam, lparam);
}

BOOL WINAPI shim_SetWindowTextA(HWND window, LPCSTR text)
{
    if (GetDlgCtrlID(window) == IDC_FILE_LABEL)
        report += "row " + std::to_string(bar_position) + " " + text + "\n";
    return SetWindowTextA(window, text);
}

// The desktop shell is out of reach: the updater's own start of the game is the one recorded.
HRESULT WINAPI shim_CoCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *object)
{
    *object = NULL;
    return REGDB_E_CLASSNOTREG;
}

HINSTANCE WINAPI shim_ShellExecuteA(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR directory, INT)
{
    report += std::string("launch ") + directory + "\\" + file + "\n";
    return reinterpret_cast<HINSTANCE>(42);
}
