// system_dlls.cpp -- the updater takes its DLLs from the system directory only, whatever lies beside it
//
// The updater runs as administrator from the folder it was downloaded to. For
// every DLL that is not one of the system's known DLLs, Windows looks in the
// program's own folder first, so a stray "version.dll" or "uxtheme.dll" in
// Downloads would run with administrator rights. Hence the program imports
// only kernel32 and msvcrt at start, known DLLs that always come from the
// system directory. Every other function it calls stands in the table below:
// the compiler calls an imported function through a pointer named
// "__imp_<name>", which an import library would define and the loader fill
// at start; here the table defines that pointer, and load_system_dlls fills
// it, after restricting the DLL search, before the run makes any call. The
// restriction also holds for the DLLs that these load in turn (the shell,
// COM, themes). A call the table lacks pulls its import library back in,
// which the program's inspection reports.
#include "app/system_dlls.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// DLL (index into SYSTEM_DLLS), function, bytes of its arguments (the "@N" of the 32-bit name).
#define SYSTEM_FUNCTIONS(F)                                                                                            \
    F(0, ConvertSidToStringSidA, 8)                                                                                    \
    F(0, GetTokenInformation, 20)                                                                                      \
    F(0, OpenProcessToken, 12)                                                                                         \
    F(0, RegCloseKey, 4)                                                                                               \
    F(0, RegOpenKeyExA, 20)                                                                                            \
    F(0, RegQueryValueExA, 24)                                                                                         \
    F(1, InitCommonControlsEx, 4)                                                                                      \
    F(2, CoCreateInstance, 20)                                                                                         \
    F(2, CoInitializeEx, 8)                                                                                            \
    F(2, CoUninitialize, 0)                                                                                            \
    F(3, SysAllocString, 4)                                                                                            \
    F(3, SysFreeString, 4)                                                                                             \
    F(3, VariantInit, 4)                                                                                               \
    F(4, ShellExecuteA, 24)                                                                                            \
    F(5, BeginPaint, 8)                                                                                                \
    F(5, CreateDialogParamW, 20)                                                                                       \
    F(5, DialogBoxParamW, 20)                                                                                          \
    F(5, DispatchMessageA, 4)                                                                                          \
    F(5, EndDialog, 8)                                                                                                 \
    F(5, EndPaint, 8)                                                                                                  \
    F(5, EnumWindows, 8)                                                                                               \
    F(5, GetClassNameA, 12)                                                                                            \
    F(5, GetDesktopWindow, 0)                                                                                          \
    F(5, GetDlgItem, 8)                                                                                                \
    F(5, GetShellWindow, 0)                                                                                            \
    F(5, GetWindowRect, 8)                                                                                             \
    F(5, GetWindowThreadProcessId, 8)                                                                                  \
    F(5, IsIconic, 4)                                                                                                  \
    F(5, IsWindowVisible, 4)                                                                                           \
    F(5, LoadIconA, 8)                                                                                                 \
    F(5, PeekMessageA, 20)                                                                                             \
    F(5, SendMessageA, 16)                                                                                             \
    F(5, SetForegroundWindow, 4)                                                                                       \
    F(5, SetWindowPos, 28)                                                                                             \
    F(5, SetWindowTextW, 8)                                                                                            \
    F(5, ShowWindow, 8)                                                                                                \
    F(5, TranslateMessage, 4)

static const char *const SYSTEM_DLLS[] = {"advapi32.dll", "comctl32.dll", "ole32.dll",
                                          "oleaut32.dll", "shell32.dll",  "user32.dll"};
// DLLs that those load on their own during a run (drawing, themes, the
// shell's route to the game). Each is loaded here too, by its full path
// where the system has it, so that a later load by name finds this one:
// not every system's loader applies the restriction to such loads.
static const char *const INDIRECT_DLLS[] = {"msimg32.dll"};
// Its version is the manifest's common-controls assembly, which the loader
// finds by name in the side-by-side store before it searches any folder.
static const int ASSEMBLY_DLL = 1;

#ifdef _WIN64
#define IMPORT_POINTER(name, bytes) "__imp_" #name
#else
#define IMPORT_POINTER(name, bytes) "__imp__" #name "@" #bytes
#endif
#define DECLARE_POINTER(dll, name, bytes) extern "C" FARPROC pointer_##name __asm__(IMPORT_POINTER(name, bytes));
#define DEFINE_POINTER(dll, name, bytes) FARPROC pointer_##name;
SYSTEM_FUNCTIONS(DECLARE_POINTER)
SYSTEM_FUNCTIONS(DEFINE_POINTER)

struct SystemFunction {
    int dll;
    const char *name;
    FARPROC *pointer;
};
#define TABLE_ROW(dll, name, bytes) {dll, #name, &pointer_##name},
static const SystemFunction SYSTEM_FUNCTION_TABLE[] = {SYSTEM_FUNCTIONS(TABLE_ROW)};

bool load_system_dlls()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD);
    SetDefaultDllDirectoriesCall set_default_dirs = reinterpret_cast<SetDefaultDllDirectoriesCall>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    // Windows Vista and 7 without that call: at least the current folder is
    // out of the search, and each DLL below is named by its full path.
    if (!set_default_dirs || !set_default_dirs(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryA("");

    char system_dir[MAX_PATH];
    UINT length = GetSystemDirectoryA(system_dir, sizeof system_dir);
    if (length == 0 || length >= sizeof system_dir)
        return false;
    HMODULE modules[sizeof SYSTEM_DLLS / sizeof *SYSTEM_DLLS];
    for (int i = 0; i < static_cast<int>(sizeof SYSTEM_DLLS / sizeof *SYSTEM_DLLS); ++i) {
        char path[MAX_PATH + 16];
        if (i == ASSEMBLY_DLL)
            snprintf(path, sizeof path, "%s", SYSTEM_DLLS[i]);
        else
            snprintf(path, sizeof path, "%s\\%s", system_dir, SYSTEM_DLLS[i]);
        modules[i] = LoadLibraryA(path);
        if (!modules[i])
            return false;
    }
    for (const char *name : INDIRECT_DLLS) {
        char path[MAX_PATH + 16];
        snprintf(path, sizeof path, "%s\\%s", system_dir, name);
        LoadLibraryA(path);
    }
    for (const SystemFunction &function : SYSTEM_FUNCTION_TABLE) {
        *function.pointer = GetProcAddress(modules[function.dll], function.name);
        if (!*function.pointer)
            return false;
    }
    return true;
}
