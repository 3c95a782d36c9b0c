// launch_game.cpp -- starts the game through the desktop shell, or directly when the shell is out of reach
#include "app/launch_game.h"

#include <windows.h>

#include <shellapi.h>

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <stdio.h>

#include "app/state.h"

static const char GAME_FILE[] = "Ostrevan.exe";

static void release(IUnknown *object)
{
    if (object)
        object->Release();
}

// A BSTR of text in the system's ANSI code page (the code page the registry
// gave the game directory in), or null when it cannot be made.
static BSTR ansi_bstr(const char *text)
{
    WCHAR wide[SCRATCH_PATH_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, SCRATCH_PATH_SIZE) == 0)
        return NULL;
    return SysAllocString(wide);
}

// desktop_shell -- the shell's own dispatch object, reached from its window
// list: the desktop's entry, that window's top-level browser, the browser's
// active view, the view's background object (the folder view), and the
// folder view's Application. Every step must answer S_OK with an object.
// Returns 0 with *shell set (the caller releases it), or -1 with *shell null.
static int desktop_shell(IShellDispatch2 **shell)
{
    int status = -1;
    IShellWindows *windows = NULL;
    IDispatch *desktop = NULL;
    IServiceProvider *services = NULL;
    IShellBrowser *browser = NULL;
    IShellView *view = NULL;
    IDispatch *background = NULL;
    IShellFolderViewDual *folder_view = NULL;
    IDispatch *application = NULL;
    VARIANT location, root;
    LONG desktop_window = 0;
    *shell = NULL;

    VariantInit(&location);
    V_VT(&location) = VT_I4;
    V_I4(&location) = CSIDL_DESKTOP;
    VariantInit(&root);
    // The window list lives in the shell's process; Wine's registry also
    // names an in-process server for it: CLSCTX_ALL finds either.
    if (CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_ALL, IID_IShellWindows,
                         reinterpret_cast<void **>(&windows)) != S_OK ||
        !windows)
        goto out;
    // S_FALSE: the list has no desktop, as when another program is the shell.
    if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &desktop_window, SWFO_NEEDDISPATCH, &desktop) != S_OK ||
        !desktop)
        goto out;
    if (desktop->QueryInterface(IID_IServiceProvider, reinterpret_cast<void **>(&services)) != S_OK || !services)
        goto out;
    if (services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void **>(&browser)) != S_OK ||
        !browser)
        goto out;
    if (browser->QueryActiveShellView(&view) != S_OK || !view)
        goto out;
    if (view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void **>(&background)) != S_OK ||
        !background)
        goto out;
    if (background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void **>(&folder_view)) != S_OK ||
        !folder_view)
        goto out;
    if (folder_view->get_Application(&application) != S_OK || !application)
        goto out;
    if (application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void **>(shell)) != S_OK || !*shell) {
        *shell = NULL;
        goto out;
    }
    status = 0;
out:
    release(application);
    release(folder_view);
    release(background);
    release(view);
    release(browser);
    release(services);
    release(desktop);
    release(windows);
    return status;
}

// start_through_shell -- asks the desktop shell to start path in install_dir,
// with no arguments, the default verb and SW_SHOW. The shell starts it from
// its own process, as the signed-in user. Returns 0 when the shell reports
// the program started, -1 when it could not be reached or did not start it.
static int start_through_shell(const char *path)
{
    int status = -1;
    IShellDispatch2 *shell = NULL;
    BSTR file = NULL;
    VARIANT none, directory, show;
    VariantInit(&none);
    VariantInit(&directory);
    VariantInit(&show);
    // VariantInit sets only the type (Windows before 8.1 leaves the rest as it was): the string starts null.
    V_BSTR(&directory) = NULL;
    V_VT(&show) = VT_I4;
    V_I4(&show) = SW_SHOW;

    if (desktop_shell(&shell) != 0)
        goto out;
    file = ansi_bstr(path);
    V_BSTR(&directory) = ansi_bstr(install_dir);
    if (!file || !V_BSTR(&directory))
        goto out;
    V_VT(&directory) = VT_BSTR;
    // S_FALSE: the shell was reached but could not start the file.
    if (shell->ShellExecute(file, none, directory, none, show) == S_OK)
        status = 0;
out:
    SysFreeString(V_BSTR(&directory));
    SysFreeString(file);
    release(shell);
    return status;
}

int start_game()
{
    // The shell gets the full path: it resolves names from its own process.
    snprintf(scratch_path, sizeof scratch_path, "%s\\%s", install_dir, GAME_FILE);
    // A thread that is already in the multithreaded apartment can make the
    // same calls, but it is not ours to uninitialise.
    HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    int launched = LAUNCHED_BY_SHELL;
    if ((FAILED(com) && com != RPC_E_CHANGED_MODE) || start_through_shell(scratch_path) != 0) {
        ShellExecuteA(NULL, NULL, GAME_FILE, NULL, install_dir, SW_SHOW);
        launched = LAUNCHED_DIRECTLY;
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return launched;
}
