// demo_driver.cpp -- runs the packed updater for scripts/demo.sh, holds each window still for a screenshot, answers OK
// Usage: demo_driver UPDATER. For each window it prints "NAME left top width height" (NAME: progress, collapsed,
// expanded) and waits for a line on stdin, the picture taken. Exits with the updater's code, or 1 without a dialog.
// A hang is ended from outside (scripts/demo.sh runs it under a time limit).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "res/resource.h"

enum { POLL_MS = 2, SEND_TIMEOUT_MS = 5000, SETTLE_MS = 400, PAINT_TRIES = 50 };

static PROCESS_INFORMATION updater;

static LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &answer);
    return static_cast<LRESULT>(answer);
}

// The updater's visible top-level window that holds control_id. A window destroyed during the walk ends it early:
// the next poll looks again.
static HWND find_window(int control_id)
{
    for (HWND window = GetTopWindow(NULL); window; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == updater.dwProcessId && IsWindowVisible(window) && GetDlgItem(window, control_id))
            return window;
    }
    return NULL;
}

// The window with control_id once it shows; NULL when the end of the updater, or the result dialog, comes first.
static HWND wait_for_window(int control_id)
{
    for (;;) {
        HWND result = find_window(IDC_MESSAGE);
        HWND window = control_id == IDC_MESSAGE ? result : find_window(control_id);
        if (window || result || WaitForSingleObject(updater.hProcess, 0) == WAIT_OBJECT_0)
            return window;
        Sleep(POLL_MS);
    }
}

// Without a window manager nothing activates a window: have it draw its caption as the active one.
static void draw_active_caption(HWND window)
{
    send(window, WM_NCACTIVATE, TRUE, 0);
}

static void report_window(const char *name, HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    printf("%s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    fflush(stdout);
    char line[16];
    if (!fgets(line, sizeof line, stdin))
        fputs("demo_driver: no answer on stdin, going on\n", stderr);
}

static bool has_pending_drawing(HWND window)
{
    HWND parts[] = {window, GetDlgItem(window, IDC_PROGRESS_BAR), GetDlgItem(window, IDC_FILE_LABEL)};
    for (HWND part : parts) {
        if (part && GetUpdateRect(part, NULL, FALSE))
            return true;
    }
    return false;
}

// Catches the progress window while the main data file is unpacked (the longest step, with nothing drawn in
// between) and holds the updater's thread still for the picture. A run that fails before unpacking shows none.
static void hold_progress_window()
{
    HWND window = wait_for_window(IDC_PROGRESS_BAR);
    if (!window)
        return;
    draw_active_caption(window);
    // The label is answered from the updater's message pump, after the label of the row is set: once it names the
    // main data file (or the one after it), the pump that draws it is running and the unpacking follows.
    char label[MAX_PATH] = "";
    while (IsWindowVisible(window) && strcmp(label, "main.bin") != 0 && strcmp(label, "patch1.bin") != 0) {
        if (send(GetDlgItem(window, IDC_FILE_LABEL), WM_GETTEXT, sizeof label, reinterpret_cast<LPARAM>(label)) <= 0)
            label[0] = '\0';
        Sleep(POLL_MS);
    }
    SuspendThread(updater.hThread);
    // A window with something left to draw gets a little more time, a few milliseconds at a time.
    for (int tries = 0; tries < PAINT_TRIES && has_pending_drawing(window); ++tries) {
        ResumeThread(updater.hThread);
        Sleep(1);
        SuspendThread(updater.hThread);
    }
    if (IsWindowVisible(window))
        report_window("progress", window);
    else
        fputs("demo_driver: the progress window closed before it could be held for its picture\n", stderr);
    ResumeThread(updater.hThread);
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs("usage: demo_driver UPDATER\n", stderr);
        return 2;
    }
    char command[MAX_PATH + 8];
    snprintf(command, sizeof command, "\"%s\"", argv[1]);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &updater)) {
        fprintf(stderr, "demo_driver: cannot start %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    hold_progress_window();

    HWND dialog = wait_for_window(IDC_MESSAGE);
    if (!dialog) {
        fputs("demo_driver: the updater showed no result dialog\n", stderr);
        return 1;
    }
    draw_active_caption(dialog);
    Sleep(SETTLE_MS);
    report_window("collapsed", dialog);
    // As a press of the button: the focus moves to it, as a click would move it, then the command.
    HWND button = GetDlgItem(dialog, IDC_DETAILS_BUTTON);
    send(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
    send(dialog, WM_COMMAND, MAKEWPARAM(IDC_DETAILS_BUTTON, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    draw_active_caption(dialog);
    Sleep(SETTLE_MS);
    report_window("expanded", dialog);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);

    DWORD code = 1;
    WaitForSingleObject(updater.hProcess, INFINITE);
    GetExitCodeProcess(updater.hProcess, &code);
    return static_cast<int>(code);
}
