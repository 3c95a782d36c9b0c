// row_probe.cpp -- a hook DLL that the update-run tests load into the packed updater: each time the progress
// window's file label is set, it appends "position label" to the file that OSTREVAN_ROW_LOG names.
#include <windows.h>

#include <commctrl.h>
#include <stdio.h>

#include "res/resource.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK row_probe(int code, WPARAM wparam, LPARAM lparam)
{
    const CWPRETSTRUCT *call = reinterpret_cast<const CWPRETSTRUCT *>(lparam);
    HWND bar = GetDlgItem(GetParent(call->hwnd), IDC_PROGRESS_BAR);
    if (code == HC_ACTION && call->message == WM_SETTEXT && bar && GetDlgCtrlID(call->hwnd) == IDC_FILE_LABEL) {
        char label[MAX_PATH] = "", path[MAX_PATH];
        GetWindowTextA(call->hwnd, label, sizeof label);
        DWORD length = GetEnvironmentVariableA("OSTREVAN_ROW_LOG", path, sizeof path);
        FILE *log = length && length < sizeof path ? fopen(path, "ab") : NULL;
        if (log) {
            fprintf(log, "%d %s\n", static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)), label);
            fclose(log);
        }
    }
    return CallNextHookEx(NULL, code, wparam, lparam);
}
