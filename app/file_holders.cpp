// file_holders.cpp -- the programs that hold a file, as the system's Restart Manager names them
//
// A file that stays in use fails the run; the player can only close the
// program that holds it once they know which one it is. The Restart Manager
// tells: a session is started, the file registered, and the list of the
// processes that have it open read. The list may grow between the call that
// sizes it and the call that fills it, so the reading is tried again while it
// answers ERROR_MORE_DATA. A holder in another user's session (the game left
// running under fast user switching) is listed with its session, or only
// given away by the reasons that the list comes with. The session is always
// ended. The run asks once, when a wait for a file ends, never while it
// waits, and never closes a program itself. The DLL is loaded then, from the
// system directory by its full path, as every DLL of the run is.
#include "app/file_holders.h"

#include <windows.h>

#include <restartmanager.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/catalogue.h"
#include "app/game_paths.h"
#include "app/state.h"
#include "app/text_buffer.h"

typedef DWORD(WINAPI *StartSessionCall)(DWORD *, DWORD, WCHAR *);
typedef DWORD(WINAPI *RegisterCall)(DWORD, UINT, LPCWSTR *, UINT, RM_UNIQUE_PROCESS *, UINT, LPCWSTR *);
typedef DWORD(WINAPI *GetListCall)(DWORD, UINT *, UINT *, RM_PROCESS_INFO *, DWORD *);
typedef DWORD(WINAPI *EndSessionCall)(DWORD);

// A list that keeps growing is read this many times; its first holders this
// many are named, more than a failure line has room for.
static const int LIST_READINGS = 4;
static const UINT MOST_HOLDERS = 32;

// The Restart Manager's DLL, loaded from the system directory by its full path; null where this Windows lacks it.
static HMODULE restart_manager()
{
    char path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return NULL;
    snprintf(path + length, sizeof path - length, "\\rstrtmgr.dll");
    HMODULE module = GetModuleHandleA(path);
    return module ? module : LoadLibraryA(path);
}

// Appends each holder's name of list (count of them) to names; true when one
// was named. A holder whose session is not the run's is marked as another
// user's.
static bool append_holders(const RM_PROCESS_INFO *list, UINT count, char *names, size_t size)
{
    DWORD own_session = 0;
    bool session_known = ProcessIdToSessionId(GetCurrentProcessId(), &own_session) != 0;
    bool named = false;
    for (UINT i = 0; i < count; ++i) {
        char name[CCH_RM_MAX_APP_NAME * 2 + 1];
        int length = WideCharToMultiByte(catalogue_code_page(language), 0, list[i].strAppName,
                                         static_cast<int>(wcsnlen(list[i].strAppName, CCH_RM_MAX_APP_NAME)), name,
                                         sizeof name - 1, NULL, NULL);
        if (length <= 0)
            continue;
        name[length] = '\0';
        append_text(names, size, named ? ", " : "");
        append_text(names, size, name);
        if (session_known && list[i].TSSessionId != own_session) {
            append_text(names, size, " (");
            append_text(names, size, catalogue_text(language, OtherUser));
            append_text(names, size, ")");
        }
        named = true;
    }
    return named;
}

// Appends the holders of the session's list to names.
static void read_holders(DWORD session, GetListCall get_list, char *names, size_t size)
{
    RM_PROCESS_INFO *list = NULL;
    UINT capacity = 0, needed = 0, filled = 0;
    DWORD reasons = RmRebootReasonNone, error = ERROR_MORE_DATA;
    for (int reading = 0; reading < LIST_READINGS && error == ERROR_MORE_DATA; ++reading) {
        UINT wanted = needed < MOST_HOLDERS ? needed : MOST_HOLDERS;
        if (wanted > capacity) {
            RM_PROCESS_INFO *larger = static_cast<RM_PROCESS_INFO *>(calloc(wanted, sizeof *list));
            if (!larger)
                break;
            free(list);
            list = larger, capacity = wanted;
        }
        // What the call leaves unwritten reads as an empty list.
        needed = 0, filled = capacity, reasons = RmRebootReasonNone;
        error = get_list(session, &needed, &filled, list, &reasons);
    }
    // A list that stays longer than the run reads has its first holders named.
    bool read = error == ERROR_SUCCESS || (error == ERROR_MORE_DATA && capacity == MOST_HOLDERS);
    bool named = read && append_holders(list, filled < capacity ? filled : capacity, names, size);
    // Only the reasons tell of a holder in another session, or of another
    // user, that the run may not look into.
    if (read && !named && (reasons & (RmRebootReasonSessionMismatch | RmRebootReasonPermissionDenied)))
        append_text(names, size, catalogue_text(language, OtherUser));
    free(list);
}

void name_file_holders(const char *path, char *names, size_t size)
{
    copy_text(names, size, "");
    HMODULE module = restart_manager();
    if (!module)
        return;
    StartSessionCall start_session =
        reinterpret_cast<StartSessionCall>(reinterpret_cast<void *>(GetProcAddress(module, "RmStartSession")));
    RegisterCall register_resources =
        reinterpret_cast<RegisterCall>(reinterpret_cast<void *>(GetProcAddress(module, "RmRegisterResources")));
    GetListCall get_list = reinterpret_cast<GetListCall>(reinterpret_cast<void *>(GetProcAddress(module, "RmGetList")));
    EndSessionCall end_session =
        reinterpret_cast<EndSessionCall>(reinterpret_cast<void *>(GetProcAddress(module, "RmEndSession")));
    WCHAR wide_path[GAME_PATH_SIZE];
    if (!start_session || !register_resources || !get_list || !end_session ||
        MultiByteToWideChar(CP_ACP, 0, path, -1, wide_path, GAME_PATH_SIZE) == 0)
        return;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {0};
    if (start_session(&session, 0, key) != ERROR_SUCCESS)
        return;
    LPCWSTR files[1] = {wide_path};
    if (register_resources(session, 1, files, 0, NULL, 0, NULL) == ERROR_SUCCESS)
        read_holders(session, get_list, names, size);
    end_session(session);
}
