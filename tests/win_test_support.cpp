// win_test_support.cpp -- files, registry, processes and windows for the tests under Wine, and the demo game
#include "tests/win_test_support.h"

#include <algorithm>
#include <stdio.h>

std::string make_temp_dir(const char *tag)
{
    static int serial;
    char base[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof base, base);
    do
        snprintf(path, sizeof path, "%sostrevan-%s-%lu-%d", base, tag, GetCurrentProcessId(), ++serial);
    while (!CreateDirectoryA(path, NULL));
    return path;
}

void remove_tree(const std::string &path)
{
    for (const std::string &name : list_dir(path))
        remove_tree(path + "\\" + name);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path.c_str()))
        RemoveDirectoryA(path.c_str());
}

std::string read_file(const std::string &path)
{
    std::string data;
    FILE *file = fopen(path.c_str(), "rb");
    char buffer[65536];
    for (size_t n; file && (n = fread(buffer, 1, sizeof buffer, file)) > 0;)
        data.append(buffer, n);
    if (file)
        fclose(file);
    return data;
}

bool write_file(const std::string &path, const std::string &data)
{
    FILE *file = fopen(path.c_str(), "wb");
    bool written = file && fwrite(data.data(), 1, data.size(), file) == data.size();
    return file && fclose(file) == 0 && written;
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

const char *const INSTALLED_NAMES[5] = {"Patch102Notes.txt", "Config.exe", "Ostrevan.exe", "main.bin", "patch1.bin"};
const char *const MARKERS[4] = {"", "local.bin", "local_german.bin", "local_russian.bin"};

void set_game_path(const std::string &value, const std::string &sid)
{
    RegSetKeyValueA(sid.empty() ? HKEY_CURRENT_USER : HKEY_USERS,
                    ((sid.empty() ? "" : sid + "\\") + "Software\\Ostrevan").c_str(), "Path", REG_SZ, value.c_str(),
                    static_cast<DWORD>(value.size() + 1));
}

std::string env_path(const char *name)
{
    std::string path = getenv(name) ? getenv(name) : "";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool start_process(const std::string &command, const std::string &cwd, PROCESS_INFORMATION *process)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    // Under load Wine now and then fails to start a process at all: tried again, and the reason told.
    for (int attempt = 0; attempt < 3; ++attempt, Sleep(500)) {
        std::string line = command;
        if (CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, cwd.empty() ? NULL : cwd.c_str(), &startup,
                           process))
            return true;
        fprintf(stderr, "could not start %s: error %lu\n", command.c_str(), GetLastError());
    }
    return false;
}

bool make_symbolic_link(const std::string &link, const std::string &target)
{
    typedef char *(CDECL * UnixName)(LPCWSTR);
    UnixName unix_name = reinterpret_cast<UnixName>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    std::string paths[2] = {target.empty() ? link : target, link};
    for (std::string &path : paths) {
        WCHAR wide[MAX_PATH];
        char *name =
            unix_name && MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) ? unix_name(wide) : NULL;
        path = name ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
    }
    // Wine starts a Unix program without a handle to wait on: the link is awaited instead.
    PROCESS_INFORMATION process;
    if (paths[0].empty() || paths[1].empty() ||
        !start_process((target.empty() ? "/bin/rm -f \"" : "/bin/ln -s \"" + paths[0] + "\" \"") + paths[1] + "\"", "",
                       &process))
        return false;
    bool done = false;
    for (int waited = 0; !done && waited < 10000; waited += 10, Sleep(10))
        done = (GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES) == target.empty();
    return done;
}

DWORD finish_process(PROCESS_INFORMATION *process, int timeout_ms)
{
    if (WaitForSingleObject(process->hProcess, timeout_ms) == WAIT_TIMEOUT) {
        TerminateProcess(process->hProcess, 1000);
        WaitForSingleObject(process->hProcess, 5000);
    }
    DWORD code = 1001;
    GetExitCodeProcess(process->hProcess, &code);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
    return code;
}

struct WindowSearch {
    DWORD pid;
    int control_id;
    bool visible;
    HWND found;
};

static BOOL CALLBACK match_window(HWND window, LPARAM param)
{
    WindowSearch *search = reinterpret_cast<WindowSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !GetDlgItem(window, search->control_id) || (search->visible && !IsWindowVisible(window)))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND wait_for_window(DWORD pid, int control_id, bool visible, int timeout_ms)
{
    WindowSearch search = {pid, control_id, visible, NULL};
    for (int waited = 0; EnumWindows(match_window, reinterpret_cast<LPARAM>(&search)) && waited < timeout_ms;
         waited += 10)
        Sleep(10);
    return search.found;
}

std::string window_text(HWND window)
{
    // WM_GETTEXT rather than GetWindowTextW: it also reads controls of other processes.
    WCHAR text[8192] = L"";
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, sizeof text / sizeof *text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        5000, &length);
    return utf8(std::wstring(text, length < sizeof text / sizeof *text ? length : 0));
}

std::string utf8(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string converted(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &converted[0], size, NULL, NULL);
    return converted;
}

std::wstring wide(const std::string &text, UINT code_page)
{
    int size = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
    std::wstring converted(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &converted[0], size);
    return converted;
}

std::string decoded(const std::string &text, UINT code_page)
{
    return utf8(wide(text, code_page));
}

std::string shown(int language, MessageId id, const std::string &argument)
{
    char text[1024];
    snprintf(text, sizeof text, catalogue_text(language, id), argument.c_str(), ERROR_SHARING_VIOLATION);
    return decoded(text, catalogue_code_page(language));
}

std::string control_text(HWND dialog, int control_id)
{
    return window_text(GetDlgItem(dialog, control_id));
}
