// fault_shim.cpp -- the counting shim of the sweep build: every file operation of the updater is counted, and
// the one numbered OSTREVAN_SWEEP_AT fails with a realistic error (OSTREVAN_SWEEP_MODE=fail) or ends the
// process on the spot (crash); OSTREVAN_SWEEP_NO_LINKS=1 refuses hard links as FAT and exFAT do. The result
// dialog is answered Cancel at once, and what it showed goes to the report file OSTREVAN_SWEEP_REPORT with
// the list of operations.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "res/resource.h"
#include "tests/sweep_report.h"

namespace
{

enum Mode { MODE_COUNT, MODE_FAIL, MODE_CRASH };

bool loaded;
Mode mode = MODE_COUNT;
int fault_at;
bool no_links;
std::string report_path;

int operations;
std::string trace;    // one line per operation: number, name, path
std::string injected; // the operation that failed or ended the run, with its error
bool dialog_shown;
std::string dialog_message, dialog_details;

void write_report()
{
    std::string text = "operations " + std::to_string(operations) + "\n";
    text += injected.empty() ? "" : "injected " + injected + "\n";
    if (dialog_shown)
        text += "message\n" + dialog_message + "\n" REPORT_TEXT_END "\ndetails\n" + dialog_details +
                "\n" REPORT_TEXT_END "\n";
    text += trace;
    FILE *file = fopen(report_path.c_str(), "wb");
    if (file) {
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
}

void report_at_exit()
{
    if (!report_path.empty())
        write_report();
}

void load_settings()
{
    if (loaded)
        return;
    loaded = true;
    const char *value = getenv("OSTREVAN_SWEEP_MODE");
    if (value && strcmp(value, "fail") == 0)
        mode = MODE_FAIL;
    else if (value && strcmp(value, "crash") == 0)
        mode = MODE_CRASH;
    value = getenv("OSTREVAN_SWEEP_AT");
    fault_at = value ? atoi(value) : 0;
    value = getenv("OSTREVAN_SWEEP_NO_LINKS");
    no_links = value && strcmp(value, "1") == 0;
    value = getenv("OSTREVAN_SWEEP_REPORT");
    report_path = value ? value : "";
    atexit(report_at_exit);
}

// Counts one operation. True when it is the one to fail: the error is set then.
// When it is the one to crash at, the process ends here, before the operation.
bool fails(const char *name, const char *path, DWORD error)
{
    load_settings();
    ++operations;
    char line[600];
    snprintf(line, sizeof line, "op %d %s %s\n", operations, name, path ? path : "");
    trace += line;
    if (operations != fault_at || mode == MODE_COUNT)
        return false;
    char what[120];
    snprintf(what, sizeof what, "%d %s %lx", operations, name, static_cast<unsigned long>(error));
    injected = what;
    if (mode == MODE_CRASH) {
        write_report();
        TerminateProcess(GetCurrentProcess(), SWEEP_CRASH_EXIT_CODE);
    }
    SetLastError(error);
    return true;
}

DLGPROC product_procedure;

INT_PTR CALLBACK answering_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    INT_PTR result = product_procedure(dialog, message, wparam, lparam);
    if (message == WM_INITDIALOG) {
        char text[8192];
        GetDlgItemTextA(dialog, IDC_MESSAGE, text, sizeof text);
        dialog_message = text;
        GetDlgItemTextA(dialog, IDC_DETAILS_BOX, text, sizeof text);
        dialog_details = text;
        dialog_shown = true;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    return result;
}

} // namespace

HANDLE WINAPI shim_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE model)
{
    DWORD error = disposition == CREATE_ALWAYS ? ERROR_DISK_FULL : ERROR_SHARING_VIOLATION;
    if (fails("CreateFileA", path, error))
        return INVALID_HANDLE_VALUE;
    return CreateFileA(path, access, share, security, disposition, flags, model);
}

BOOL WINAPI shim_ReadFile(HANDLE file, LPVOID data, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    if (fails("ReadFile", NULL, ERROR_READ_FAULT))
        return FALSE;
    return ReadFile(file, data, length, done, overlapped);
}

BOOL WINAPI shim_WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    if (fails("WriteFile", NULL, ERROR_DISK_FULL))
        return FALSE;
    return WriteFile(file, data, length, done, overlapped);
}

BOOL WINAPI shim_FlushFileBuffers(HANDLE file)
{
    if (fails("FlushFileBuffers", NULL, ERROR_DISK_FULL))
        return FALSE;
    return FlushFileBuffers(file);
}

// A close that fails (a delayed write on a full disk) still releases the handle.
BOOL WINAPI shim_CloseHandle(HANDLE handle)
{
    bool failed = fails("CloseHandle", NULL, ERROR_DISK_FULL);
    BOOL closed = CloseHandle(handle);
    if (failed) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return closed;
}

BOOL WINAPI shim_MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    if (fails("MoveFileExA", to, ERROR_SHARING_VIOLATION))
        return FALSE;
    return MoveFileExA(from, to, flags);
}

BOOL WINAPI shim_CopyFileA(LPCSTR from, LPCSTR to, BOOL fail_if_exists)
{
    if (fails("CopyFileA", to, ERROR_DISK_FULL))
        return FALSE;
    return CopyFileA(from, to, fail_if_exists);
}

BOOL WINAPI shim_CreateHardLinkA(LPCSTR link, LPCSTR target, LPSECURITY_ATTRIBUTES security)
{
    if (fails("CreateHardLinkA", link, ERROR_ACCESS_DENIED))
        return FALSE;
    if (no_links) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    return CreateHardLinkA(link, target, security);
}

BOOL WINAPI shim_DeleteFileA(LPCSTR path)
{
    if (fails("DeleteFileA", path, ERROR_SHARING_VIOLATION))
        return FALSE;
    return DeleteFileA(path);
}

BOOL WINAPI shim_SetFileAttributesA(LPCSTR path, DWORD attributes)
{
    if (fails("SetFileAttributesA", path, ERROR_ACCESS_DENIED))
        return FALSE;
    return SetFileAttributesA(path, attributes);
}

DWORD WINAPI shim_GetFileAttributesA(LPCSTR path)
{
    if (fails("GetFileAttributesA", path, ERROR_ACCESS_DENIED))
        return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesA(path);
}

INT_PTR WINAPI shim_DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure, LPARAM param)
{
    load_settings();
    product_procedure = procedure;
    return DialogBoxParamA(instance, name, owner, answering_procedure, param);
}
