// fault_shim.h -- force-included into the sweep build of the updater (docs/reliability.md). Each file operation is
// counted, reported with its call, held to Windows' rules where Wine as root is lenient, and at operation
// OSTREVAN_SWEEP_AT failed (MODE=fail), ended on the spot (crash), cut off by a power cut (cut, power_cut.h) or its
// name held from then on (hold) for HOLD ms (0: the rest of the run; " delete": sharing its deletion). FS=ntfs,
// refs or fat: that file system (file_systems.h); VOLUME=nt: no drive letter; TAG=hex: the files marked with the
// system attribute are reparse points of that tag; WITHOUT=progress or dialog: that window fails; ANSWER=ok or not;
// SHELL_USER=SID: the desktop shell's user; HOLDERS=windows: the Restart Manager answers as Windows'. Sleep runs on
// the shim's clock. REPORT gets, in UTF-8, a line per operation, pause, row, launch and Restart Manager call, and
// the windows' texts.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <restartmanager.h>
#include <sddl.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <map>
#include <set>
#include <string>

#include "res/resource.h"
#include "tests/file_systems.h"
#include "tests/sweep_report.h"

namespace shim
{

inline bool no_links, hold_shares_delete;
inline int fault_at, operations, bar_position, cut_state;
inline DWORD hold_ms, tag;
inline std::string mode, without, answer, report, game, volume, shell_user, holders; // the settings
inline DLGPROC product_procedure;
inline const fs::FileSystem *file_system = &fs::FILE_SYSTEMS[0];

inline DWORD slept, held_until;                    // the milliseconds that Sleep added to the clock; the hold's end
inline std::string opened, hold_next;              // the file last opened; the name to hold from the next operation on
inline std::string held, denied;                   // the held name; a name whose deletion is denied to the run
inline std::map<HANDLE, std::string> names;        // of each open handle, the path it was opened by
inline std::map<HANDLE, DWORD> open_flags, shares; // and the flags and sharing it was opened with
inline std::set<HANDLE> created;                   // the open handles that created their file
inline std::set<HANDLE> shell_handles;             // the open handles of the shell's process and token
inline bool deletion_pending;                      // the held name's file was deleted while held
inline std::set<HANDLE> broken;                    // handles whose flush failed: they refuse every change after it

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
    shell_user = setting("SHELL_USER"), holders = setting("HOLDERS");
    fault_at = atoi(setting("AT").c_str()), cut_state = atoi(setting("CUT").c_str()), game = setting("GAME");
    for (const fs::FileSystem &system : fs::FILE_SYSTEMS)
        file_system = setting("FS") == system.name ? &system : file_system;
    no_links = !(file_system->sets & 1u << 11), volume = setting("VOLUME");
    tag = static_cast<DWORD>(strtoul(setting("TAG").c_str(), NULL, 16));
    std::string hold = setting("HOLD");
    hold_ms = static_cast<DWORD>(atoi(hold.c_str()));
    hold_shares_delete = hold.find(" delete") != std::string::npos;
}

} // namespace shim

#include "tests/power_cut.h"

namespace shim
{

inline DWORD now()
{
    return GetTickCount() + slept;
}

// Sets the last error of a refused call as the system does, with the status behind it (or a pending deletion): true.
inline bool refuse(DWORD error, LONG status = 0)
{
    typedef ULONG(WINAPI * StatusToError)(LONG);
    static StatusToError to_error = reinterpret_cast<StatusToError>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlNtStatusToDosError")));
    if (to_error)
        to_error(status);
    SetLastError(error);
    return true;
}

// True while path is the held name.
inline bool holds(const char *path)
{
    if (!held.empty() && hold_ms != 0 && now() >= held_until)
        held.clear(), deletion_pending = false;
    return path && !held.empty() && _stricmp(path, held.c_str()) == 0;
}

// A name whose deletion is pending answers every operation with access denied, the status telling why.
inline bool pending(const char *path)
{
    return holds(path) && deletion_pending && refuse(ERROR_ACCESS_DENIED, static_cast<LONG>(0xC0000056));
}

// Ends the process here when this operation is the one to crash at.
inline void crash_here()
{
    if (mode == "crash" && operations == fault_at)
        TerminateProcess(GetCurrentProcess(), SWEEP_CRASH_EXIT_CODE);
}

// Where in the updater an operation is made: a hash of the return addresses of its calls within the program's own
// image (the sweep build keeps every frame), the same for every operation that the same calls make, whatever the file.
inline std::string call_site()
{
    void *frames[32];
    const char *image = reinterpret_cast<const char *>(GetModuleHandleA(NULL));
    DWORD size =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(image + reinterpret_cast<const IMAGE_DOS_HEADER *>(image)->e_lfanew)
            ->OptionalHeader.SizeOfImage;
    unsigned hash = 2166136261u;
    for (USHORT i = 0, count = CaptureStackBackTrace(0, 32, frames, NULL); i < count; ++i)
        if (size_t offset = static_cast<size_t>(static_cast<const char *>(frames[i]) - image); offset < size)
            hash = (hash ^ static_cast<unsigned>(offset)) * 16777619u;
    char text[16];
    snprintf(text, sizeof text, "@%08x", hash);
    return text;
}

// Counts an operation (one without a path: on the file last opened). True when it is the one to fail, the error set;
// the one to crash at ends the process here, or when not whole at the caller's crash_here, its part of the work done.
inline bool fails(const char *name, const char *path, DWORD error, bool whole = true)
{
    load();
    if (mode == "cut" && !cut::on)
        cut::begin(game);
    note("op " + std::string(name) + " " + (path ? path : "") + " " + call_site() + "\n");
    // A holder opens the name once no handle of the run keeps it to itself; a name that is gone is not held.
    bool kept = false, there = !hold_next.empty() && GetFileAttributesA(hold_next.c_str()) != INVALID_FILE_ATTRIBUTES;
    for (const auto &open : names)
        kept =
            kept || (_stricmp(open.second.c_str(), hold_next.c_str()) == 0 && !(shares[open.first] & FILE_SHARE_READ));
    if (there && !kept)
        held = hold_next, deletion_pending = false, held_until = now() + hold_ms,
        note("held " + held.substr(held.rfind('\\') + 1) + "\n");
    if (!there || !kept)
        hold_next.clear();
    if (++operations == fault_at && mode == "cut")
        cut::power_cut(cut_state);
    if (operations != fault_at || (mode != "fail" && mode != "crash" && mode != "hold"))
        return false;
    std::string file = path ? path : opened;
    if (mode == "hold")
        return hold_next = file, false;
    char line[120];
    snprintf(line, sizeof line, "injected %d %s %lx\n", operations, name, static_cast<unsigned long>(error));
    bool made = false; // the file is one that a handle of the run created
    for (HANDLE handle : created)
        made = made || _stricmp(names[handle].c_str(), file.c_str()) == 0;
    note(line + ("faulted " + file.substr(file.rfind('\\') + 1)) + (made ? " created" : "") + "\n");
    if (whole)
        crash_here();
    return refuse(error);
}

// Windows' answer to writing, copying over, replacing or deleting a read-only file.
inline bool read_only(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == FILE_ATTRIBUTE_READONLY &&
           refuse(ERROR_ACCESS_DENIED);
}

// True for a file that the test marked as a reparse point.
inline bool marked(HANDLE file)
{
    FILE_BASIC_INFO basic;
    return tag && GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
           (basic.FileAttributes & FILE_ATTRIBUTE_SYSTEM);
}

// The attributes as the system shows them: the test's mark is the reparse point.
inline DWORD shown(DWORD attributes)
{
    bool mark = tag && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_SYSTEM);
    return mark ? (attributes & ~FILE_ATTRIBUTE_SYSTEM) | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
}

inline INT_PTR CALLBACK answering_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG && mode == "cut" && fault_at == operations + 1)
        cut::power_cut(cut_state); // after the run's last operation
    INT_PTR result = product_procedure(dialog, message, wparam, lparam);
    if (message == WM_INITDIALOG) {
        wchar_t text[8192];
        for (int id : {IDC_MESSAGE, IDC_DETAILS_BOX}) {
            GetDlgItemTextW(dialog, id, text, sizeof text / sizeof *text);
            note(std::string(id == IDC_MESSAGE ? "message\n" : "details\n") + ::utf8(text) + "\n" REPORT_TEXT_END "\n");
        }
        note("dialog\n");
        PostMessageA(dialog, WM_COMMAND, answer == "ok" ? IDOK : IDCANCEL, 0);
    }
    return result;
}

// The Restart Manager as Windows answers it (Microsoft Learn: "RmGetList function", "RM_PROCESS_INFO structure"):
// the game holds the held name in the run's session and, from the second reading on (the list grows between sizing
// and filling), a backup agent in another user's (RmRebootReasonSessionMismatch); too small a list: ERROR_MORE_DATA.
inline std::string registered;
inline int list_readings;

inline DWORD WINAPI RmStartSession(DWORD *session, DWORD, WCHAR key[])
{
    note("rm start\n");
    wcscpy(key, L"0123456789abcdef0123456789abcdef"); // CCH_RM_SESSION_KEY characters
    return *session = 0x52, ERROR_SUCCESS;
}

inline DWORD WINAPI RmRegisterResources(DWORD, UINT files, LPCWSTR names[], UINT, RM_UNIQUE_PROCESS *, UINT, LPCWSTR *)
{
    registered = files == 1 ? ::utf8(names[0]) : "";
    return note("rm register " + registered + "\n"), ERROR_SUCCESS;
}

inline DWORD WINAPI RmGetList(DWORD, UINT *needed, UINT *count, RM_PROCESS_INFO list[], DWORD *reasons)
{
    DWORD own = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &own);
    UINT holding = !holds(registered.c_str()) ? 0 : ++list_readings > 1 ? 2 : 1;
    note("rm list " + std::to_string(*count) + "\n");
    *needed = holding, *reasons = holding > 1 ? RmRebootReasonSessionMismatch : RmRebootReasonNone;
    if (*count < holding)
        return *count = 0, ERROR_MORE_DATA;
    for (UINT i = 0; i < holding; ++i) {
        list[i] = RM_PROCESS_INFO{{0x4d0 + i, {}}, {}, {}, RmMainWindow, 0, own + i, TRUE};
        wcscpy(list[i].strAppName, i == 0 ? L"Ostrevan" : L"Backup Agent");
    }
    return *count = holding, ERROR_SUCCESS;
}

inline DWORD WINAPI RmEndSession(DWORD)
{
    return note("rm end\n"), ERROR_SUCCESS;
}

inline HWND const SHELL_WINDOW = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5EE90)); // the shell's (below)
const DWORD SHELL_PROCESS = 0x5EE8;

} // namespace shim

// A holder reads and shares reading (and deletion, when it does): an open that writes, truncates or excludes
// reading conflicts with it, and so does one for deletion unless it shares that.
inline HANDLE WINAPI shim_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                      DWORD disposition, DWORD flags, HANDLE model)
{
    bool creates = disposition == CREATE_ALWAYS || disposition == CREATE_NEW;
    bool writes = (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) || disposition == CREATE_ALWAYS;
    // A creation under a name that stands (and is not pending) fails on the name alone, as the system answers.
    bool collides = disposition == CREATE_NEW && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    if (shim::fails("CreateFileA", path, creates ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED) || shim::pending(path) ||
        (!collides && writes && shim::read_only(path)) ||
        ((access & DELETE) && shim::denied == path && shim::refuse(ERROR_ACCESS_DENIED)) ||
        (!collides && shim::holds(path) &&
         (writes || !(share & FILE_SHARE_READ) || ((access & DELETE) && !shim::hold_shares_delete)) &&
         shim::refuse(ERROR_SHARING_VIOLATION)))
        return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileA(path, access, share, security, disposition, flags, model);
    cut::opened(file, path, disposition, flags);
    shim::opened = path;
    if (file == INVALID_HANDLE_VALUE)
        return file;
    shim::names[file] = path, shim::open_flags[file] = flags, shim::shares[file] = share;
    if (disposition == CREATE_NEW)
        shim::created.insert(file);
    return file;
}

// Through a handle that bypasses a marked file's filter, its data reads as zeros.
inline BOOL WINAPI shim_ReadFile(HANDLE file, LPVOID data, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    if (shim::fails("ReadFile", NULL, ERROR_READ_FAULT) || !ReadFile(file, data, length, done, overlapped))
        return FALSE;
    if ((shim::open_flags[file] & FILE_FLAG_OPEN_REPARSE_POINT) && !(shim::tag & 0x20000000) && shim::marked(file))
        memset(data, 0, *done);
    return TRUE;
}

// A volume without a drive letter names no handle's file in DOS form (ERROR_INVALID_FUNCTION).
inline DWORD WINAPI shim_GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags)
{
    if (shim::fails("GetFinalPathNameByHandleA", shim::names[file].c_str(), ERROR_ACCESS_DENIED) ||
        (shim::volume == "nt" && (flags & 7) == VOLUME_NAME_DOS && shim::refuse(ERROR_INVALID_FUNCTION)))
        return 0;
    return GetFinalPathNameByHandleA(file, path, size, flags);
}

// A marked file's attributes and tag are a reparse point's; a class the file system does not answer is refused.
inline BOOL WINAPI shim_GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                                                     DWORD size)
{
    bool answered = kind < 32 && (shim::file_system->queries & 1u << kind);
    if (shim::fails("GetFileInformationByHandleEx", shim::names[file].c_str(), ERROR_ACCESS_DENIED) ||
        (!answered && shim::refuse(ERROR_INVALID_PARAMETER, fs::INVALID_PARAMETER)) ||
        !GetFileInformationByHandleEx(file, kind, information, size))
        return FALSE;
    DWORD *attributes = static_cast<DWORD *>(information) + (kind == FileBasicInfo ? 8 : 0);
    if (kind == FileAttributeTagInfo && shim::marked(file))
        static_cast<FILE_ATTRIBUTE_TAG_INFO *>(information)->ReparseTag = shim::tag;
    if (kind == FileAttributeTagInfo || kind == FileBasicInfo)
        *attributes = shim::shown(*attributes);
    return TRUE;
}

inline BOOL WINAPI shim_WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    if (!shim::fails("WriteFile", NULL, ERROR_DISK_FULL, false)) {
        BOOL written = WriteFile(file, data, length, done, overlapped);
        if (written)
            cut::written(file, data, *done);
        return written;
    }
    // Half of it reaches the file: then the process ends, or the disk is full (without links: a short count).
    BOOL written = WriteFile(file, data, length / 2, done, overlapped);
    shim::crash_here();
    SetLastError(ERROR_DISK_FULL);
    return written && shim::no_links;
}

// A close that fails (a delayed write on a full disk) still releases the handle.
inline BOOL WINAPI shim_CloseHandle(HANDLE handle)
{
    bool failed = shim::fails("CloseHandle", NULL, ERROR_DISK_FULL);
    shim::names.erase(handle), shim::open_flags.erase(handle), shim::shares.erase(handle), shim::created.erase(handle);
    shim::broken.erase(handle), shim::shell_handles.erase(handle), cut::handles.erase(handle);
    BOOL closed = CloseHandle(handle);
    if (failed)
        SetLastError(ERROR_DISK_FULL);
    return closed && !failed;
}

// The native rename, link, deletion and attributes of a handle's file. A rename over the held file (as over any
// open file) is denied, and the hold follows a held file renamed; a failed rename leaves its target undeletable to
// the run; a held file deleted is pending until its holder lets go; a class the file system lacks, as it refuses it.
inline LONG WINAPI shim_NtSetInformationFile(HANDLE file, void *io, void *information, ULONG size, ULONG kind)
{
    typedef LONG(WINAPI * Call)(HANDLE, void *, void *, ULONG, ULONG);
    static Call call = reinterpret_cast<Call>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile")));
    const LONG DENIED = static_cast<LONG>(0xC0000022);
    bool answered = kind < 32 && (shim::file_system->sets & 1u << kind);
    std::string path = shim::names[file], to = path;
    if (kind == 10 || kind == 11) { // a rename or a link: the new name, in the folder of the root handle
        struct Name {
            BOOLEAN replace;
            HANDLE root;
            ULONG length;
            WCHAR name[1];
        } *named = static_cast<Name *>(information);
        char name[MAX_PATH] = "";
        WideCharToMultiByte(CP_ACP, 0, named->name, named->length / 2, name, sizeof name - 1, NULL, NULL);
        to = shim::names[named->root] + "\\" + name;
        if (shim::fails(kind == 10 ? "Rename" : "Link", to.c_str(), ERROR_ACCESS_DENIED)) {
            shim::denied = kind == 10 ? to : shim::denied;
            return DENIED;
        }
        if (shim::pending(to.c_str()))
            return static_cast<LONG>(0xC0000056);
        if (kind == 10 && named->replace && shim::read_only(to.c_str()))
            return shim::file_system->over_read_only;
        if (kind == 10 && shim::holds(to.c_str()))
            return DENIED;
        if (!answered)
            return kind == 11 ? shim::file_system->link : fs::INVALID_PARAMETER;
        // The cloud files filter refuses a link to a placeholder unless the sync provider allows them.
        if (kind == 11 && (shim::tag & 0xFFFF0000) == 0x90000000 && shim::marked(file))
            return DENIED;
    } else if (shim::fails(kind == 13 ? "Delete" : "SetAttributes", path.c_str(), ERROR_ACCESS_DENIED)) {
        return DENIED;
    } else if (!answered) {
        return fs::INVALID_PARAMETER;
    }
    unsigned char basic[40];
    if (kind == 4 && size >= sizeof basic) { // attributes after four times; a marked file keeps its mark
        memcpy(basic, information, sizeof basic);
        DWORD *attributes = reinterpret_cast<DWORD *>(basic + 32);
        const DWORD SETTABLE = 0x31a7;
        if (*attributes & ~SETTABLE)
            return static_cast<LONG>(0xC000000D); // invalid parameter
        if (*attributes != 0 && shim::marked(file))
            *attributes = (*attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_SYSTEM;
        information = basic;
    }
    if (shim::broken.count(file))
        return static_cast<LONG>(0xC0000185); // an I/O device error
    bool follows = kind == 10 && shim::holds(path.c_str());
    LONG status = call(file, io, information, size, kind);
    if (status >= 0)
        cut::changed(file, kind, to, information);
    if (status >= 0 && kind == 10)
        shim::names[file] = to, shim::held = follows ? to : shim::held;
    shim::deletion_pending = shim::deletion_pending || (status >= 0 && kind == 13 && shim::holds(path.c_str()));
    return status;
}

inline FARPROC WINAPI shim_GetProcAddress(HMODULE module, LPCSTR name)
{
    static const std::map<std::string, void *> ANSWERED = {
        {"NtSetInformationFile", reinterpret_cast<void *>(shim_NtSetInformationFile)},
        {"RmStartSession", reinterpret_cast<void *>(shim::RmStartSession)},
        {"RmRegisterResources", reinterpret_cast<void *>(shim::RmRegisterResources)},
        {"RmGetList", reinterpret_cast<void *>(shim::RmGetList)},
        {"RmEndSession", reinterpret_cast<void *>(shim::RmEndSession)}};
    bool answered = ANSWERED.count(name) && (name[0] == 'N' || (shim::load(), shim::holders == "windows"));
    return answered ? reinterpret_cast<FARPROC>(ANSWERED.at(name)) : GetProcAddress(module, name);
}

inline HWND WINAPI shim_CreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC procedure,
                                           LPARAM param)
{
    shim::load();
    return shim::without == "progress" ? NULL : CreateDialogParamW(instance, name, owner, procedure, param);
}

inline INT_PTR WINAPI shim_DialogBoxParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC procedure,
                                           LPARAM param)
{
    shim::load();
    shim::product_procedure = procedure;
    return shim::without == "dialog" ? -1 : DialogBoxParamW(instance, name, owner, shim::answering_procedure, param);
}

inline LRESULT WINAPI shim_SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == PBM_SETPOS)
        shim::bar_position = static_cast<int>(wparam);
    return SendMessageA(window, message, wparam, lparam);
}

inline BOOL WINAPI shim_SetWindowTextW(HWND window, LPCWSTR text)
{
    if (GetDlgCtrlID(window) == IDC_FILE_LABEL)
        shim::note("row " + std::to_string(shim::bar_position) + " " + ::utf8(text) + "\n");
    return SetWindowTextW(window, text);
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

// Over-the-shoulder elevation (Microsoft Learn: "How User Account Control works", "GetShellWindow function"): the
// run runs as the administrator who elevated it, with that hive; the shell, as the signed-in user. Wine has one user
// and no shell window: with SHELL_USER, the shell's window, process (ours, opened again) and token are that user's.
inline HWND WINAPI shim_GetShellWindow()
{
    shim::load();
    return shim::shell_user.empty() ? GetShellWindow() : shim::SHELL_WINDOW;
}

inline DWORD WINAPI shim_GetWindowThreadProcessId(HWND window, LPDWORD process)
{
    if (window != shim::SHELL_WINDOW)
        return GetWindowThreadProcessId(window, process);
    if (process)
        *process = shim::SHELL_PROCESS;
    return GetCurrentThreadId();
}

inline HANDLE WINAPI shim_OpenProcess(DWORD access, BOOL inherit, DWORD process)
{
    HANDLE opened = OpenProcess(access, inherit, process == shim::SHELL_PROCESS ? GetCurrentProcessId() : process);
    if (opened && process == shim::SHELL_PROCESS)
        shim::shell_handles.insert(opened);
    return opened;
}

inline BOOL WINAPI shim_OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    BOOL opened = OpenProcessToken(process, access, token);
    if (opened && shim::shell_handles.count(process))
        shim::shell_handles.insert(*token);
    return opened;
}

// The shell's token names SHELL_USER as its user, as a TOKEN_USER whose SID follows it in the buffer.
inline BOOL WINAPI shim_GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD size,
                                            PDWORD needed)
{
    PSID sid = NULL;
    if (!shim::shell_handles.count(token) || kind != TokenUser ||
        !ConvertStringSidToSidA(shim::shell_user.c_str(), &sid))
        return GetTokenInformation(token, kind, information, size, needed);
    DWORD length = sizeof(TOKEN_USER) + GetLengthSid(sid);
    *needed = length;
    BOOL fits = size >= length && information;
    if (fits) {
        TOKEN_USER *user = static_cast<TOKEN_USER *>(information);
        user->User.Sid = user + 1, user->User.Attributes = 0;
        CopySid(GetLengthSid(sid), user->User.Sid, sid);
    }
    LocalFree(sid);
    SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return fits;
}

#define GetShellWindow shim_GetShellWindow
#define GetWindowThreadProcessId shim_GetWindowThreadProcessId
#define OpenProcess shim_OpenProcess
#define OpenProcessToken shim_OpenProcessToken
#define GetTokenInformation shim_GetTokenInformation
#define CreateFileA shim_CreateFileA
#define ReadFile shim_ReadFile
#define WriteFile shim_WriteFile
#define GetFinalPathNameByHandleA shim_GetFinalPathNameByHandleA
#define GetFileInformationByHandleEx shim_GetFileInformationByHandleEx
#define CloseHandle shim_CloseHandle
#define GetProcAddress shim_GetProcAddress
#define CreateDialogParamW shim_CreateDialogParamW
#define DialogBoxParamW shim_DialogBoxParamW
#define SendMessageA shim_SendMessageA
#define SetWindowTextW shim_SetWindowTextW
#define CoCreateInstance shim_CoCreateInstance
#define ShellExecuteA shim_ShellExecuteA

// A pause moves the shim's clock on and takes no time.
inline void WINAPI shim_Sleep(DWORD milliseconds)
{
    shim::slept += milliseconds;
    shim::note("sleep " + std::to_string(milliseconds) + "\n");
}

#define Sleep shim_Sleep
#define GetTickCount shim::now

// The calls that only fail at their turn, or hold to Windows' rules for read-only files and held names. A failed
// flush reports a delayed write's error late: the data is written, and the handle refuses every later change.
inline BOOL WINAPI shim_FlushFileBuffers(HANDLE file)
{
    bool failed = shim::fails("FlushFileBuffers", NULL, ERROR_DISK_FULL);
    BOOL flushed = cut::flushed(file, FlushFileBuffers(file));
    if (failed)
        shim::broken.insert(file), SetLastError(ERROR_DISK_FULL);
    return flushed && !failed;
}
#define FlushFileBuffers shim_FlushFileBuffers
#define SetFileTime(file, ...) (!shim::fails("SetFileTime", NULL, ERROR_DISK_FULL) && SetFileTime(file, __VA_ARGS__))
#define GetFileInformationByHandle(file, information)                                                                  \
    (!shim::fails("GetFileInformationByHandle", shim::names[file].c_str(), ERROR_ACCESS_DENIED) &&                     \
     GetFileInformationByHandle(file, information))
#define GetFileAttributesA(path)                                                                                       \
    (shim::fails("GetFileAttributesA", path, ERROR_ACCESS_DENIED) || shim::pending(path)                               \
         ? INVALID_FILE_ATTRIBUTES                                                                                     \
         : shim::shown(GetFileAttributesA(path)))
