// launch_game_test.cpp -- the game started by the desktop shell, and by the updater itself when the shell is out of
// reach
#include <gtest/gtest.h>

#include <windows.h>

#include <exdisp.h>
#include <servprov.h>
#include <stdio.h>
#include <string>

#include "app/launch_game.h"
#include "app/state.h"
#include "tests/win_test_support.h"

namespace
{

const char STARTED_FILE[] = "ostrevan_started.txt";

// A game directory holding the demo game 1.01, set as install_dir; the game that a test starts is ended
// and the directory removed afterwards.
class Launch : public ::testing::Test
{
  protected:
    std::string game;

    void SetUp() override
    {
        std::string installed = env_path("OSTREVAN_INSTALL_101");
        game = make_temp_dir("launch");
        ASSERT_TRUE(CopyFileA((installed + "\\Ostrevan.exe").c_str(), (game + "\\Ostrevan.exe").c_str(), FALSE))
            << installed;
        snprintf(install_dir, sizeof install_dir, "%s", game.c_str());
    }
    void TearDown() override
    {
        end_game();
        remove_tree(game);
    }

    // Ends the game that the test started, found by the process id in its record, and removes the record.
    void end_game()
    {
        unsigned long pid = 0;
        if (sscanf(field("process").c_str(), "%lu", &pid) == 1) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
            if (process) {
                TerminateProcess(process, 0);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        }
        DeleteFileA((game + "\\" + STARTED_FILE).c_str());
    }

    // A line of the game's record ("version", "directory", "parent", "process"), once the record is whole;
    // "" when the game wrote none within wait_ms.
    std::string field(const std::string &name, int wait_ms = 0)
    {
        for (int waited = 0;; waited += 50) {
            std::string record = read_file(game + "\\" + STARTED_FILE);
            if (record.find("\r\ncommand line") != std::string::npos) {
                size_t at = record.find(name + " ");
                return at == std::string::npos
                           ? ""
                           : record.substr(at + name.size() + 1, record.find('\r', at) - at - name.size() - 1);
            }
            if (waited >= wait_ms)
                return "";
            Sleep(50);
        }
    }
};

// The thread's COM state after the launch: S_OK from a fresh initialisation means it was left uninitialised.
HRESULT reinitialise_com()
{
    HRESULT result = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (SUCCEEDED(result))
        CoUninitialize();
    return result;
}

TEST_F(Launch, TheDesktopShellStartsTheGameInItsDirectory)
{
    EXPECT_EQ(start_game(), LAUNCHED_BY_SHELL);
    EXPECT_EQ(field("version", 10000), "1.01");
    EXPECT_EQ(field("directory"), game);
    std::string parent = field("parent");
    EXPECT_EQ(parent.substr(parent.find(' ') + 1), "explorer.exe") << parent;
    EXPECT_EQ(reinitialise_com(), S_OK) << "COM is left as it was found";
}

TEST_F(Launch, AThreadAlreadyInTheMultithreadedApartmentStaysThere)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(start_game(), LAUNCHED_BY_SHELL);
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_FALSE) << "still initialised, and multithreaded";
    CoUninitialize();
    CoUninitialize();
    std::string parent = field("parent", 10000);
    EXPECT_EQ(parent.substr(parent.find(' ') + 1), "explorer.exe") << parent;
}

// ---- a window list that leads nowhere ----

// A dispatch interface whose objects no caller here asks for type information or late-bound calls.
template <class Interface> struct WithoutTypeInfo : Interface {
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        return E_NOTIMPL;
    }
};

// The desktop entry of a window list; it offers the service provider only when told, and then no browser.
struct ListedDesktop : WithoutTypeInfo<IDispatch>, IServiceProvider {
    LONG references = 1;
    bool offers_services = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = NULL;
        if (iid == IID_IUnknown || iid == IID_IDispatch)
            *object = static_cast<IDispatch *>(this);
        else if (iid == IID_IServiceProvider && offers_services)
            *object = static_cast<IServiceProvider *>(this);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return ++references;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return --references;
    }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID, REFIID, void **object) override
    {
        *object = NULL;
        return E_NOINTERFACE;
    }
};

// The shell's window list as another shell program keeps it: without a desktop, or with one of the above.
// Registered in this thread for the window list's class, it is what CoCreateInstance finds first.
struct WindowList : WithoutTypeInfo<IShellWindows>, IClassFactory {
    LONG references = 1;
    ListedDesktop *desktop = NULL;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = NULL;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IShellWindows)
            *object = static_cast<IShellWindows *>(this);
        else if (iid == IID_IClassFactory)
            *object = static_cast<IClassFactory *>(this);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return ++references;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return --references;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        *object = NULL;
        return outer ? CLASS_E_NOAGGREGATION : static_cast<IShellWindows *>(this)->QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG *count) override
    {
        *count = desktop ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(VARIANT, IDispatch **folder) override
    {
        *folder = NULL;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Register(IDispatch *, LONG, int, LONG *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterPending(LONG, VARIANT *, VARIANT *, int, LONG *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Revoke(LONG) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnNavigate(LONG, VARIANT *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnActivated(LONG, VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindWindowSW(VARIANT *, VARIANT *, int window_class, LONG *window, int,
                                           IDispatch **found) override
    {
        *window = 0;
        *found = NULL;
        if (window_class != SWC_DESKTOP || !desktop)
            return S_FALSE;
        *window = 1;
        desktop->AddRef();
        *found = desktop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCreated(LONG, IUnknown *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ProcessAttachDetach(VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
};

// Whatever step of the shell's route fails, the game is started all the same, by the updater's own
// process, and every object that the route took is released again.
TEST_F(Launch, AShellRouteThatLeadsNowhereFallsBackToAStartOfItsOwn)
{
    struct Case {
        const char *what;
        bool desktop_listed, offers_services;
    } cases[] = {
        {"no desktop in the window list", false, false},
        {"a desktop without services", true, false},
        {"a desktop without a browser", true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ListedDesktop desktop;
        desktop.offers_services = c.offers_services;
        WindowList list;
        list.desktop = c.desktop_listed ? &desktop : NULL;
        ASSERT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(CoRegisterClassObject(CLSID_ShellWindows, static_cast<IClassFactory *>(&list), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        LONG registered = list.references;

        EXPECT_EQ(start_game(), LAUNCHED_DIRECTLY);
        EXPECT_EQ(list.references, registered) << "the window list is released";
        EXPECT_EQ(desktop.references, 1) << "the desktop entry is released";
        EXPECT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_FALSE) << "our initialisation still holds";
        CoUninitialize();
        CoRevokeClassObject(cookie);
        CoUninitialize();

        EXPECT_EQ(field("version", 10000), "1.01");
        EXPECT_EQ(field("directory"), game);
        std::string parent = field("parent");
        EXPECT_EQ(parent.substr(0, parent.find(' ')), std::to_string(GetCurrentProcessId())) << parent;
        end_game();
    }
}

} // namespace
