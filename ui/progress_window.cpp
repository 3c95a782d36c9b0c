// progress_window.cpp -- progress bar and file label during the unpack phase
#include "ui/progress_window.h"

#include <commctrl.h>

#include "app/catalogue.h"
#include "app/state.h"
#include "res/resource.h"
#include "ui/window_text.h"

// The window on the screen, or null.
static HWND open_window;

HWND open_progress_window(HINSTANCE instance)
{
    // The progress bar's window class must be registered before the template is created.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    if (!open_window)
        open_window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), NULL, NULL, 0);
    if (!open_window)
        return NULL;
    set_progress_position(open_window, 0);
    ShowWindow(open_window, SW_SHOW);
    return open_window;
}

void set_progress_position(HWND window, int position)
{
    if (window)
        SendMessageA(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void set_progress_label(HWND window, const char *text)
{
    if (window)
        set_window_text(GetDlgItem(window, IDC_FILE_LABEL), text, -1, catalogue_code_page(language));
}

void show_progress_label(const char *text)
{
    if (!open_window)
        open_progress_window(GetModuleHandleA(NULL));
    set_progress_label(open_window, text);
    pump_messages();
}

int pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            return 0;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 1;
}

void close_progress_window(HWND window)
{
    if (window)
        EndDialog(window, 0);
    if (window == open_window)
        open_window = NULL;
}
