// demo_driver.cpp -- runs the packed updater for scripts/demo.sh, holds each window still for a screenshot, answers OK
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "res/resource.h"

static const char USAGE[] =
    "usage: demo_driver UPDATER\n"
    "Starts UPDATER and, for each of its windows, prints a line \"NAME left top width height\"\n"
    "(NAME: progress, result, expanded) and waits for a line on stdin before it goes on.\n"
    "The progress window is held still while it waits; the result dialog is then expanded and\n"
    "answered with OK. Ends with \"updater exited CODE\" and \"game started VERSION\" or\n"
    "\"game not started\", after looking for the file the demo game writes into its directory.\n";

static const char STARTED_FILE[] = "ostrevan_started.txt";
static const char MAIN_DATA_LABEL[] = "main.bin";
static const char LAST_DATA_LABEL[] = "patch1.bin";

enum {
    POLL_MS = 2,
    WINDOW_TIMEOUT_MS = 60000,
    SEND_TIMEOUT_MS = 5000,
    SETTLE_MS = 400,  // the result dialog's drawing, before its rectangle is printed
    PAINT_TRIES = 50, // resumptions that let a suspended window finish its drawing
    EXIT_TIMEOUT_MS = 30000,
    GAME_TIMEOUT_MS = 10000
};

struct WindowSearch {
    DWORD pid;
    int control_id;
    HWND found;
};

// A visible top-level window of search->pid with a child control_id.
static BOOL CALLBACK match_window(HWND window, LPARAM param)
{
    WindowSearch *search = reinterpret_cast<WindowSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window) || !GetDlgItem(window, search->control_id))
        return TRUE;
    search->found = window;
    return FALSE;
}

static HWND find_window(DWORD pid, int control_id)
{
    WindowSearch search = {pid, control_id, NULL};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits for a visible window of the process with control_id; NULL when the
// process ends first, when stop_id (if non-zero) shows up first, or on timeout.
static HWND wait_for_window(HANDLE process, DWORD pid, int control_id, int stop_id)
{
    for (int waited = 0; waited < WINDOW_TIMEOUT_MS; waited += POLL_MS) {
        HWND window = find_window(pid, control_id);
        if (window)
            return window;
        if (stop_id && find_window(pid, stop_id)) {
            fprintf(stderr, "demo_driver: control %d came first, after %d ms\n", stop_id, waited);
            return NULL;
        }
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
            fprintf(stderr, "demo_driver: the updater ended after %d ms\n", waited);
            return NULL;
        }
        Sleep(POLL_MS);
    }
    return NULL;
}

// A control's text through WM_GETTEXT, which the other process's thread answers; "" when it does not.
static void control_text(HWND dialog, int control_id, char *text, size_t size)
{
    DWORD_PTR length = 0;
    text[0] = '\0';
    if (!SendMessageTimeoutA(GetDlgItem(dialog, control_id), WM_GETTEXT, size, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &length) ||
        length >= size)
        text[0] = '\0';
}

// Without a window manager nothing activates the window: have it draw its caption as the active one.
static void draw_active_caption(HWND window)
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, WM_NCACTIVATE, TRUE, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &answer);
}

static bool has_pending_drawing(HWND window)
{
    HWND children[] = {window, GetDlgItem(window, IDC_PROGRESS_BAR), GetDlgItem(window, IDC_FILE_LABEL)};
    for (HWND child : children) {
        if (child && GetUpdateRect(child, NULL, FALSE))
            return true;
    }
    return false;
}

// Prints "name left top width height" and waits for the answer line.
static void report_window(const char *name, HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    printf("%s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    fflush(stdout);
    char line[64];
    if (!fgets(line, sizeof line, stdin))
        fputs("demo_driver: no answer on stdin, going on\n", stderr);
}

// Catches the progress window while the main data file is being unpacked
// (the longest step, with nothing drawn in between), holds the updater's
// thread still for the picture, and lets it go on.
static void hold_progress_window(const PROCESS_INFORMATION *process)
{
    HWND window = wait_for_window(process->hProcess, process->dwProcessId, IDC_PROGRESS_BAR, IDC_MESSAGE);
    if (!window) {
        printf("progress missed\n");
        fflush(stdout);
        return;
    }
    draw_active_caption(window);
    // The label is answered from the updater's message pump, after the label of the row is set: once it
    // names the main data file, the pump that draws it is running and the unpacking follows.
    char label[MAX_PATH];
    for (int waited = 0; waited < WINDOW_TIMEOUT_MS; waited += POLL_MS) {
        control_text(window, IDC_FILE_LABEL, label, sizeof label);
        if (strcmp(label, MAIN_DATA_LABEL) == 0 || strcmp(label, LAST_DATA_LABEL) == 0 || !IsWindowVisible(window))
            break;
        Sleep(POLL_MS);
    }
    Sleep(POLL_MS);
    if (SuspendThread(process->hThread) == static_cast<DWORD>(-1)) {
        fprintf(stderr, "demo_driver: cannot suspend the updater (error %lu)\n", GetLastError());
        return;
    }
    // A window with something left to draw gets a little more time, a few milliseconds at a time.
    for (int tries = 0; tries < PAINT_TRIES && has_pending_drawing(window); ++tries) {
        ResumeThread(process->hThread);
        Sleep(1);
        SuspendThread(process->hThread);
    }
    if (IsWindowVisible(window)) {
        fprintf(stderr, "demo_driver: progress window held at \"%s\"\n", label);
        report_window("progress", window);
    } else {
        printf("progress missed\n");
        fflush(stdout);
    }
    ResumeThread(process->hThread);
}

// Shows the result dialog collapsed and expanded, then presses OK. Returns false without a dialog.
static bool answer_result_dialog(const PROCESS_INFORMATION *process)
{
    HWND dialog = wait_for_window(process->hProcess, process->dwProcessId, IDC_MESSAGE, 0);
    if (!dialog)
        return false;
    draw_active_caption(dialog);
    Sleep(SETTLE_MS);
    report_window("result", dialog);

    // As a press of the button: the focus moves to it, as a click would move it, then the command.
    HWND button = GetDlgItem(dialog, IDC_DETAILS_BUTTON);
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE, SMTO_ABORTIFHUNG,
                        SEND_TIMEOUT_MS, &answer);
    SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DETAILS_BUTTON, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button), SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &answer);
    draw_active_caption(dialog);
    Sleep(SETTLE_MS);
    report_window("expanded", dialog);

    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    return true;
}

// The game directory as the updater finds it: HKCU\Software\Ostrevan "Path".
static bool game_directory(char *path, DWORD size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Ostrevan", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD length = size - 1;
    LONG status = RegQueryValueExA(key, "Path", NULL, &type, reinterpret_cast<BYTE *>(path), &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return false;
    path[length] = '\0';
    return true;
}

// Waits for the file the demo game writes when it starts; copies its version into version.
static bool wait_for_game(char *version, size_t size)
{
    char directory[MAX_PATH];
    char path[MAX_PATH + 32];
    if (!game_directory(directory, sizeof directory))
        return false;
    snprintf(path, sizeof path, "%s\\%s", directory, STARTED_FILE);
    for (int waited = 0; waited <= GAME_TIMEOUT_MS; waited += 50) {
        FILE *file = fopen(path, "rb");
        if (file) {
            char text[1024];
            size_t length = fread(text, 1, sizeof text - 1, file);
            fclose(file);
            text[length] = '\0';
            // The game writes its version, directory and command line; the last line completes the record.
            if (strstr(text, "\r\ncommand line") && sscanf(text, "version %15s", version) == 1) {
                version[size - 1] = '\0';
                return true;
            }
        }
        Sleep(50);
    }
    return false;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs(USAGE, stderr);
        return 2;
    }
    char command[MAX_PATH + 8];
    snprintf(command, sizeof command, "\"%s\"", argv[1]);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "demo_driver: cannot start %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }

    hold_progress_window(&process);
    bool answered = answer_result_dialog(&process);
    if (!answered)
        fputs("demo_driver: the updater showed no result dialog\n", stderr);
    if (WaitForSingleObject(process.hProcess, answered ? EXIT_TIMEOUT_MS : 0) == WAIT_TIMEOUT) {
        fputs("demo_driver: the updater did not end; stopping it\n", stderr);
        TerminateProcess(process.hProcess, 1000);
        WaitForSingleObject(process.hProcess, 5000);
    }
    DWORD code = 1001;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("updater exited %lu\n", code);

    char version[16] = "";
    bool started = answered && wait_for_game(version, sizeof version);
    if (started)
        printf("game started %s\n", version);
    else
        printf("game not started\n");
    fflush(stdout);
    return answered && code == 0 && started ? 0 : 1;
}
