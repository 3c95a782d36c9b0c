// win_test_support.cpp -- files, registry and windows of other processes, for the tests under Wine
#include "tests/win_test_support.h"

#include <algorithm>
#include <stdio.h>

#include "payload/manifest.h"

std::string make_temp_dir(const char *tag)
{
    static int serial;
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    for (;;) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%sostrevan-%s-%lu-%d", base, tag, GetCurrentProcessId(), ++serial);
        if (CreateDirectoryA(path, NULL))
            return path;
    }
}

void remove_tree(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        for (const std::string &name : list_dir(path))
            remove_tree(path + "\\" + name);
        RemoveDirectoryA(path.c_str());
    } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

bool file_exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string read_file(const std::string &path)
{
    std::string data;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return data;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        data.append(buffer, n);
    fclose(file);
    return data;
}

bool write_file(const std::string &path, const std::string &data)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fwrite(data.data(), 1, data.size(), file) == data.size();
    return fclose(file) == 0 && written;
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

const char READ_ONLY_MARK[] = "<read-only>";

Tree snapshot(const std::string &dir)
{
    Tree tree;
    for (const std::string &name : list_dir(dir)) {
        DWORD attributes = GetFileAttributesA((dir + "\\" + name).c_str());
        std::string &entry = tree[name];
        entry = attributes & FILE_ATTRIBUTE_DIRECTORY ? "<directory>" : read_file(dir + "\\" + name);
        if (attributes & FILE_ATTRIBUTE_READONLY)
            entry += READ_ONLY_MARK;
    }
    return tree;
}

std::string changes(const Tree &before, const Tree &after)
{
    std::string text;
    for (const auto &file : before) {
        auto now = after.find(file.first);
        if (now == after.end())
            text += " -" + file.first;
        else if (now->second != file.second)
            text += " ~" + file.first + "(" + std::to_string(file.second.size()) + "->" +
                    std::to_string(now->second.size()) + ")";
    }
    for (const auto &file : after) {
        if (!before.count(file.first))
            text += " +" + file.first;
    }
    return text.empty() ? " none" : text;
}

bool copy_payloads(const std::string &packed, const std::string &updater, int skip_id)
{
    HMODULE source = LoadLibraryExA(packed.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    HANDLE update = source ? BeginUpdateResourceA(updater.c_str(), FALSE) : NULL;
    bool copied = update != NULL;
    for (const PayloadEntry &row : payload_manifest) {
        HRSRC found =
            copied ? FindResourceExA(source, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(row.resource_id), 0) : NULL;
        if (found && row.resource_id != skip_id)
            copied = UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(row.resource_id), 0,
                                     LockResource(LoadResource(source, found)), SizeofResource(source, found));
    }
    if (update)
        copied = EndUpdateResourceA(update, !copied) && copied;
    if (source)
        FreeLibrary(source);
    return copied;
}

void set_game_path(const std::string &value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Ostrevan", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

void remove_game_key()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan");
}

std::string env_path(const char *name)
{
    const char *value = getenv(name);
    std::string path = value ? value : "";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool start_process(const std::string &command, const std::string &cwd, PROCESS_INFORMATION *process)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    std::string line = command;
    return CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, cwd.empty() ? NULL : cwd.c_str(), &startup,
                          process) != 0;
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

static HWND find_window(DWORD pid, int control_id, bool visible)
{
    WindowSearch search = {pid, control_id, visible, NULL};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND wait_for_window(DWORD pid, int control_id, bool visible, int timeout_ms)
{
    for (int waited = 0;; waited += 10) {
        HWND window = find_window(pid, control_id, visible);
        if (window || waited >= timeout_ms)
            return window;
        Sleep(10);
    }
}

HWND wait_for_own_window(int control_id, int timeout_ms)
{
    for (int waited = 0;; waited += 10) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        HWND window = find_window(GetCurrentProcessId(), control_id, true);
        if (window || waited >= timeout_ms)
            return window;
        Sleep(10);
    }
}

std::string window_text(HWND window)
{
    // WM_GETTEXT rather than GetWindowTextA: it also reads controls of other processes.
    char text[8192] = "";
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &length);
    return std::string(text, length < sizeof text ? length : 0);
}

std::string control_text(HWND dialog, int control_id)
{
    return window_text(GetDlgItem(dialog, control_id));
}
