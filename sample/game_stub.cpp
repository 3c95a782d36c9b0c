// game_stub.cpp -- the demo game's executable: records its start, shows its version for a few seconds
#include <windows.h>

#include <stdio.h>
#include <tlhelp32.h>

#ifndef GAME_VERSION
#define GAME_VERSION "0.00"
#endif

// Written into the working directory, so that a run can prove where and which version was started.
static const char STARTED_FILE[] = "ostrevan_started.txt";
static const UINT SHOW_MILLISECONDS = 4000;

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        DrawTextA(dc, "Ostrevan " GAME_VERSION " (demo game)", -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

// The process that started this one: its id and its program's file name ("?" when it has ended).
static void find_parent(DWORD *parent_id, char *parent_name, size_t size)
{
    *parent_id = 0;
    snprintf(parent_name, size, "?");
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId())
            *parent_id = entry.th32ParentProcessID;
    }
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && *parent_id; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == *parent_id)
            snprintf(parent_name, size, "%s", entry.szExeFile);
    }
    CloseHandle(snapshot);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show_command)
{
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    DWORD parent_id;
    char parent_name[MAX_PATH];
    find_parent(&parent_id, parent_name, sizeof parent_name);
    // The command line comes last: a reader that sees it has the whole file.
    FILE *started = fopen(STARTED_FILE, "wb");
    if (started) {
        fprintf(started, "version %s\r\ndirectory %s\r\nparent %lu %s\r\ncommand line %s\r\n", GAME_VERSION, directory,
                static_cast<unsigned long>(parent_id), parent_name, command_line);
        fclose(started);
    }

    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursor(NULL, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = "OstrevanDemoGame";
    RegisterClassA(&window_class);
    HWND window = CreateWindowA("OstrevanDemoGame", "Ostrevan " GAME_VERSION, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 360, 160, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    ShowWindow(window, show_command);
    SetTimer(window, 1, SHOW_MILLISECONDS, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
