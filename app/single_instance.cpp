// single_instance.cpp -- one updater at a time; a second one brings the first one's window forward
#include "app/single_instance.h"

#include <windows.h>

#include <string.h>

#include "res/resource.h"

// In the global namespace: two updaters in two sessions would update the same game directory.
static const char MUTEX_NAME[] = "Global\\Ostrevan_Patch102";

// The progress window or the result dialog of another process.
static BOOL CALLBACK find_updater_window(HWND window, LPARAM found)
{
    char class_name[16] = "";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window) ||
        !GetClassNameA(window, class_name, sizeof class_name) || strcmp(class_name, "#32770") != 0)
        return TRUE;
    bool progress = GetDlgItem(window, IDC_PROGRESS_BAR) != NULL;
    bool result = GetDlgItem(window, IDC_DETAILS_BOX) != NULL && GetDlgItem(window, IDC_DETAILS_BUTTON) != NULL;
    if (!progress && !result)
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

// Never closed: the system releases it when the process ends, however it ends.
static HANDLE claim;

bool claim_single_instance()
{
    if (claim)
        return true;
    HANDLE mutex = CreateMutexA(NULL, FALSE, MUTEX_NAME);
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && !(mutex == NULL && error == ERROR_ACCESS_DENIED)) {
        claim = mutex;
        return true;
    }
    if (mutex)
        CloseHandle(mutex);
    HWND window = NULL;
    EnumWindows(find_updater_window, reinterpret_cast<LPARAM>(&window));
    if (window) {
        if (IsIconic(window))
            ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
    }
    return false;
}
