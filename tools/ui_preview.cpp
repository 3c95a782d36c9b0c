// ui_preview.cpp -- opens one of the updater's windows in a chosen language and state and tells where it is on screen
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/catalogue.h"
#include "app/state.h"
#include "payload/extract.h"
#include "payload/manifest.h"
#include "res/resource.h"
#include "ui/progress_window.h"
#include "ui/result_dialog.h"

static const char USAGE[] =
    "usage: ui_preview progress [ROW]\n"
    "       ui_preview result english|german|russian success|failure collapsed|expanded\n"
    "Opens the window; once it is drawn, prints its rectangle (left top width height) on stdout\n"
    "and stays until it is killed or a minute has passed.\n";

enum {
    TICK_MS = 50,
    SETTLE_TICKS = 6,                   // ticks between the last drawing and the rectangle line
    TIMEOUT_TICKS = 60 * 1000 / TICK_MS // the process ends by itself after a minute
};

static HHOOK creation_hook;
static HWND preview_window; // the first dialog window the thread creates
static bool expand_details; // press the details button before the picture
static int settled_ticks = -1;
static int ticks;

// Catches the dialog as it is created: the result dialog runs modally inside
// the product's code, which does not hand out its handle.
static LRESULT CALLBACK catch_dialog(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HCBT_CREATEWND && !preview_window) {
        HWND window = reinterpret_cast<HWND>(wparam);
        char name[16];
        if (GetClassNameA(window, name, sizeof name) > 0 && strcmp(name, "#32770") == 0)
            preview_window = window;
    }
    return CallNextHookEx(creation_hook, code, wparam, lparam);
}

// Runs from the message loop that drives the window, the dialog's own modal loop included.
static void CALLBACK step(HWND, UINT, UINT_PTR, DWORD)
{
    if (++ticks > TIMEOUT_TICKS)
        ExitProcess(2);
    if (!preview_window || !IsWindowVisible(preview_window))
        return;
    if (settled_ticks < 0) {
        if (expand_details) {
            // As a press of the button: the focus moves to it, as a click would move it, then the command.
            HWND button = GetDlgItem(preview_window, IDC_DETAILS_BUTTON);
            SendMessageA(preview_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
            SendMessageA(preview_window, WM_COMMAND, MAKEWPARAM(IDC_DETAILS_BUTTON, BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
        }
        RedrawWindow(preview_window, NULL, NULL,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        // Without a window manager nothing activates the window: draw its caption as the active one.
        SendMessageA(preview_window, WM_NCACTIVATE, TRUE, 0);
        settled_ticks = 0;
        return;
    }
    if (++settled_ticks == SETTLE_TICKS) {
        RECT rect;
        GetWindowRect(preview_window, &rect);
        printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        fflush(stdout);
    }
}

// The progress window as the update run shows it while it unpacks manifest row row.
static int preview_progress(HINSTANCE instance, int row)
{
    HWND window = open_progress_window(instance);
    if (!window)
        return 1;
    set_progress_position(window, static_cast<int>(100u * static_cast<unsigned>(row) / PAYLOAD_ROWS));
    set_progress_label(window, payload_manifest[row].install_name);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// The result dialog; the failure view carries the verdict of a missing game
// and the line that extraction appends for a missing payload resource.
static int preview_result(HINSTANCE instance, bool failure)
{
    if (failure) {
        append_details(catalogue_text(language, NotInstalled));
        unsigned char *data = NULL;
        int length = 0;
        // This program has no resource 1104 (main.bin): extraction reports it as the run would.
        if (extract_payload(1104, "main.bin", &data, &length) == EXTRACT_OK)
            free(data);
    }
    return show_result_dialog(instance) < 0 ? 1 : 0;
}

static int language_code(const char *name)
{
    static const char *const names[] = {"english", "german", "russian"};
    for (int i = 0; i < 3; ++i) {
        if (strcmp(name, names[i]) == 0)
            return i + 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    bool progress = (argc == 2 || argc == 3) && strcmp(argv[1], "progress") == 0;
    char *row_end = NULL;
    long row = argc == 3 ? strtol(argv[2], &row_end, 10) : 3;
    if (row_end && (row_end == argv[2] || *row_end != '\0'))
        row = -1;
    bool result = argc == 5 && strcmp(argv[1], "result") == 0;
    if (result) {
        language = language_code(argv[2]);
        expand_details = strcmp(argv[4], "expanded") == 0;
    }
    bool failure = result && strcmp(argv[3], "failure") == 0;
    if (!(progress && row >= 0 && row < PAYLOAD_ROWS) &&
        !(result && language != 0 && (failure || strcmp(argv[3], "success") == 0) &&
          (expand_details || strcmp(argv[4], "collapsed") == 0))) {
        fputs(USAGE, stderr);
        return 2;
    }

    creation_hook = SetWindowsHookExA(WH_CBT, catch_dialog, NULL, GetCurrentThreadId());
    SetTimer(NULL, 0, TICK_MS, step);
    return progress ? preview_progress(instance, static_cast<int>(row)) : preview_result(instance, failure);
}
