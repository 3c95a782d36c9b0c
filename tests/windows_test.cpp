// windows_test.cpp -- the progress window and the result dialog as real windows, from the real templates
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <functional>
#include <stdlib.h>
#include <string>

#include "app/catalogue.h"
#include "app/state.h"
#include "res/resource.h"
#include "tests/win_test_support.h"
#include "ui/dialog_geometry.h"
#include "ui/progress_window.h"
#include "ui/result_dialog.h"

namespace
{

int test_language()
{
    const char *value = getenv("OSTREVAN_LANGUAGE");
    return value ? atoi(value) : 1;
}

RECT window_rect(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

// A control's rectangle in the dialog's client coordinates, and the template's in pixels.
RECT control_rect(HWND dialog, int id)
{
    RECT rect = window_rect(GetDlgItem(dialog, id));
    MapWindowPoints(NULL, dialog, reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

// Position and size are converted each on its own, as the dialog manager does.
RECT template_rect(HWND dialog, int x, int y, int cx, int cy)
{
    RECT units = {x, y, cx, cy};
    MapDialogRect(dialog, &units);
    return RECT{units.left, units.top, units.left + units.right, units.top + units.bottom};
}

void expect_rect(const RECT &actual, const RECT &expected, const char *what)
{
    EXPECT_EQ(actual.left, expected.left) << what;
    EXPECT_EQ(actual.top, expected.top) << what;
    EXPECT_EQ(actual.right, expected.right) << what;
    EXPECT_EQ(actual.bottom, expected.bottom) << what;
}

// ---- progress window ----

TEST(ProgressWindow, OpensFromItsTemplateAndEndsWithoutBeingDestroyed)
{
    HWND window = open_progress_window(GetModuleHandleA(NULL));
    ASSERT_TRUE(window != NULL);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(window_text(window), "Ostrevan Update 1.02");
    EXPECT_EQ(control_text(window, IDC_HEADING), "Updating Files:");
    EXPECT_EQ(control_text(window, IDC_PROGRESS_GROUP), "Progress");
    EXPECT_EQ(control_text(window, IDC_FILE_LABEL), "");
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(style & WS_SYSMENU, 0) << "no close box";
    HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
    EXPECT_EQ(GetWindowLongA(bar, GWL_STYLE) & PBS_SMOOTH, PBS_SMOOTH);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);
    expect_rect(control_rect(window, IDC_PROGRESS_BAR), template_rect(window, 17, 33, 289, 16), "bar");
    expect_rect(control_rect(window, IDC_FILE_LABEL), template_rect(window, 17, 52, 289, 12), "label");
    // Centred on the screen by the platform.
    RECT screen = window_rect(GetDesktopWindow()), rect = window_rect(window);
    EXPECT_LE(abs((rect.left + rect.right) - (screen.left + screen.right)), 2);

    close_progress_window(window);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(IsWindow(window)) << "ended, not destroyed";
    DestroyWindow(window);
}

BOOL CALLBACK count_window(HWND, LPARAM count)
{
    ++*reinterpret_cast<int *>(count);
    return TRUE;
}

int thread_windows()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), count_window, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Without a progress window the run goes on unchanged: the operations touch nothing.
TEST(ProgressWindow, EveryOperationIsHarmlessOnANullWindow)
{
    HWND other = open_progress_window(GetModuleHandleA(NULL));
    ASSERT_TRUE(other != NULL);
    int windows = thread_windows();
    set_progress_position(NULL, 50);
    set_progress_label(NULL, "main.bin");
    close_progress_window(NULL);
    EXPECT_EQ(thread_windows(), windows);
    EXPECT_TRUE(IsWindowVisible(other));
    EXPECT_EQ(SendMessageA(GetDlgItem(other, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(control_text(other, IDC_FILE_LABEL), "");
    DestroyWindow(other);
}

int dispatched;
LRESULT CALLBACK counting_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_USER + 1)
        ++dispatched;
    return DefWindowProcA(window, message, wparam, lparam);
}

TEST(ProgressWindow, PumpDrainsTheQueueAndStopsAtAQuitMessage)
{
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = counting_proc;
    window_class.lpszClassName = "PumpTest";
    RegisterClassA(&window_class);
    HWND window = CreateWindowA("PumpTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_TRUE(window != NULL);
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    }

    EXPECT_EQ(pump_messages(), 1);
    dispatched = 0;
    PostMessageA(window, WM_USER + 1, 0, 0);
    PostMessageA(window, WM_USER + 1, 0, 0);
    EXPECT_EQ(pump_messages(), 1);
    EXPECT_EQ(dispatched, 2);

    dispatched = 0;
    PostMessageA(window, WM_USER + 1, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 3, 0);
    PostMessageA(window, WM_USER + 1, 0, 0);
    EXPECT_EQ(pump_messages(), 0);
    EXPECT_EQ(dispatched, 1) << "the message before the quit message is dispatched";
    EXPECT_TRUE(PeekMessageA(&message, window, WM_USER + 1, WM_USER + 1, PM_REMOVE)) << "the one behind it stays";
    EXPECT_FALSE(PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit message is gone";
    DestroyWindow(window);
}

// ---- result dialog ----

// Runs the result dialog; while it is shown, script gets it from a timer and answers it.
std::function<void(HWND)> script;
bool script_ran;

void CALLBACK run_script(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = wait_for_window(GetCurrentProcessId(), IDC_MESSAGE, true, 0);
    if (!dialog)
        return;
    KillTimer(NULL, timer);
    script_ran = true;
    script(dialog);
}

INT_PTR show_with(const std::function<void(HWND)> &checks)
{
    script = checks;
    script_ran = false;
    SetTimer(NULL, 0, 20, run_script);
    INT_PTR answer = show_result_dialog(GetModuleHandleA(NULL));
    EXPECT_TRUE(script_ran);
    return answer;
}

class ResultDialog : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        language = test_language();
        details_text[0] = '\0';
    }
};

std::string notes_resource()
{
    HRSRC found = FindResourceExA(NULL, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(2101), 0);
    if (!found)
        return "";
    return std::string(static_cast<const char *>(LockResource(LoadResource(NULL, found))), SizeofResource(NULL, found));
}

TEST_F(ResultDialog, FailureViewShowsTheDetailsByteForByte)
{
    const char details[] = "first line\r\nCorrupt Patch File: main.bin Not Found! [716]\nlast \xfc\n";
    strcpy(details_text, details);
    INT_PTR answer = show_with([&](HWND dialog) {
        EXPECT_EQ(window_text(dialog), catalogue_text(language, Title));
        EXPECT_EQ(control_text(dialog, IDC_MESSAGE), catalogue_text(language, Failed));
        EXPECT_EQ(control_text(dialog, IDC_DETAILS_BOX), details);
        EXPECT_EQ(control_text(dialog, IDOK), catalogue_text(language, Ok));
        EXPECT_EQ(control_text(dialog, IDC_DETAILS_BUTTON), catalogue_text(language, ShowDetails));
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(answer, RESULT_OK);
}

TEST_F(ResultDialog, SuccessViewShowsTheReleaseNotesUnpackedFromTheProgram)
{
    bool has_notes = FindResourceExA(NULL, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(1101), 0) != NULL;
    INT_PTR answer = show_with([&](HWND dialog) {
        EXPECT_EQ(window_text(dialog), catalogue_text(language, Title));
        EXPECT_EQ(control_text(dialog, IDC_MESSAGE), catalogue_text(language, Succeeded));
        // Without the notes resource the box stays empty.
        EXPECT_EQ(control_text(dialog, IDC_DETAILS_BOX), has_notes ? notes_resource() : "");
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(answer, RESULT_CANCEL);
    if (has_notes) {
        EXPECT_FALSE(notes_resource().empty());
    }
}

TEST_F(ResultDialog, OpensCollapsedAboveTheCentreAndTogglesInPlace)
{
    INT_PTR answer = show_with([&](HWND dialog) {
        RECT screen = window_rect(GetDesktopWindow());
        RECT collapsed = window_rect(dialog);
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_DETAILS_BOX));
        // The collapsed client area ends between the buttons and the details box, at every DPI.
        RECT box = window_rect(GetDlgItem(dialog, IDC_DETAILS_BOX));
        RECT ok = window_rect(GetDlgItem(dialog, IDOK));
        RECT details_button = window_rect(GetDlgItem(dialog, IDC_DETAILS_BUTTON));
        RECT client;
        GetClientRect(dialog, &client);
        MapWindowPoints(dialog, NULL, reinterpret_cast<POINT *>(&client), 2);
        EXPECT_GE(box.top, client.bottom);
        EXPECT_LE(ok.bottom, client.bottom);
        EXPECT_LE(details_button.bottom, client.bottom);

        SendMessageA(dialog, WM_COMMAND, IDC_DETAILS_BUTTON, 0);
        RECT expanded = window_rect(dialog);
        EXPECT_EQ(control_text(dialog, IDC_DETAILS_BUTTON), catalogue_text(language, HideDetails));
        int full = expanded.bottom - expanded.top;
        EXPECT_GT(box.bottom, collapsed.bottom);
        EXPECT_LE(box.bottom, expanded.bottom);
        EXPECT_EQ(collapsed.bottom - collapsed.top, collapsed_height(full));
        EXPECT_EQ(expanded.right - expanded.left, collapsed.right - collapsed.left);
        EXPECT_EQ(collapsed.left, (screen.left + screen.right - (collapsed.right - collapsed.left)) / 2);
        EXPECT_EQ(collapsed.top, (screen.top + screen.bottom - full) / 2);
        EXPECT_EQ(expanded.left, collapsed.left);
        EXPECT_EQ(expanded.top, collapsed.top);

        SendMessageA(dialog, WM_COMMAND, IDC_DETAILS_BUTTON, 0);
        RECT again = window_rect(dialog);
        expect_rect(again, collapsed, "collapsed again");
        EXPECT_EQ(control_text(dialog, IDC_DETAILS_BUTTON), catalogue_text(language, ShowDetails));
        // Commands the dialog does not know change nothing.
        SendMessageA(dialog, WM_COMMAND, 4242, 0);
        expect_rect(window_rect(dialog), collapsed, "after an unknown command");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(answer, RESULT_OK);
}

TEST_F(ResultDialog, TemplateLaysOutTheControlsAndTheTabOrder)
{
    show_with([&](HWND dialog) {
        LONG style = GetWindowLongA(dialog, GWL_STYLE);
        EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | DS_SETFONT), WS_CAPTION | WS_SYSMENU | DS_SETFONT);
        EXPECT_EQ(style & DS_CENTER, 0);
        expect_rect(control_rect(dialog, IDC_DETAILS_BOX), template_rect(dialog, 13, 84, 325, 117), "details box");
        expect_rect(control_rect(dialog, IDC_MESSAGE), template_rect(dialog, 13, 20, 325, 29), "message");
        expect_rect(control_rect(dialog, IDOK), template_rect(dialog, 158, 55, 62, 14), "OK");
        expect_rect(control_rect(dialog, IDC_DETAILS_BUTTON), template_rect(dialog, 231, 55, 100, 14),
                    "details button");
        LONG box_style = GetWindowLongA(GetDlgItem(dialog, IDC_DETAILS_BOX), GWL_STYLE);
        EXPECT_EQ(box_style & (ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOHSCROLL),
                  ES_MULTILINE | ES_READONLY | WS_VSCROLL);
        HWND box = GetDlgItem(dialog, IDC_DETAILS_BOX);
        HWND next = GetNextDlgTabItem(dialog, box, FALSE);
        EXPECT_EQ(next, GetDlgItem(dialog, IDOK));
        next = GetNextDlgTabItem(dialog, next, FALSE);
        EXPECT_EQ(next, GetDlgItem(dialog, IDC_DETAILS_BUTTON));
        EXPECT_EQ(GetNextDlgTabItem(dialog, next, FALSE), box);
        EndDialog(dialog, 7);
    });
}

TEST_F(ResultDialog, KeysAndTheCloseBoxAnswer)
{
    struct Case {
        const char *what;
        std::function<void(HWND)> press;
        INT_PTR answer;
    } cases[] = {
        {"OK", [](HWND d) { PostMessageA(d, WM_COMMAND, IDOK, 0); }, RESULT_OK},
        {"Cancel", [](HWND d) { PostMessageA(d, WM_COMMAND, IDCANCEL, 0); }, RESULT_CANCEL},
        {"close box", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, RESULT_CANCEL},
        {"Escape", [](HWND) { PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0); }, RESULT_CANCEL},
        {"Enter in the details box", [](HWND) { PostMessageA(GetFocus(), WM_KEYDOWN, VK_RETURN, 0); }, RESULT_OK},
        {"OK button clicked",
         [](HWND d) { PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(d, IDOK)); },
         RESULT_OK},
    };
    for (const Case &c : cases)
        EXPECT_EQ(show_with(c.press), c.answer) << c.what;
}

// ---- every text fits its control at the display's DPI ----

// The DPI the test was started at (OSTREVAN_DPI); the default scale when it does not say.
int requested_dpi()
{
    const char *value = getenv("OSTREVAN_DPI");
    return value ? atoi(value) : USER_DEFAULT_SCREEN_DPI;
}

// The test really runs at the DPI it was started for: otherwise every fit below is checked at 96 DPI again.
TEST(DisplayScale, TheSessionRunsAtTheRequestedDpi)
{
    HDC screen = GetDC(NULL);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), requested_dpi());
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), requested_dpi());
    ReleaseDC(NULL, screen);
}

// What text needs when drawn with the control's own font, as DrawText lays it out: words wrapped at
// width for a multi-line label, one line otherwise.
SIZE text_extent(HWND control, const std::string &text, UINT format, int width)
{
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT rect = {0, 0, width, 0};
    DrawTextA(dc, text.c_str(), -1, &rect, format | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return SIZE{rect.right, rect.bottom};
}

enum ControlKind { LABEL, PUSH_BUTTON, GROUP_BOX };

// Checks that text, set into control id of window, would be drawn whole: a label's wrapped lines fit
// its client area; a button's line fits inside its focus rectangle, within the 3-D edge; a group
// box's caption fits its top edge with room for the corner on either side.
void expect_fits(HWND window, int id, ControlKind kind, const std::string &text)
{
    HWND control = GetDlgItem(window, id);
    ASSERT_TRUE(control != NULL) << id;
    RECT client;
    GetClientRect(control, &client);
    int room_x = client.right, room_y = client.bottom;
    UINT format = DT_SINGLELINE | DT_NOPREFIX;
    if (kind == LABEL) {
        format = DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX;
    } else if (kind == PUSH_BUTTON) {
        room_x -= 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
        room_y -= 2 * GetSystemMetrics(SM_CYEDGE);
    } else {
        room_x -= 2 * text_extent(control, "M", format, 0).cx;
    }
    SIZE need = text_extent(control, text, format, room_x);
    EXPECT_LE(need.cx, room_x) << "control " << id << " cuts the width of \"" << text << "\"";
    EXPECT_LE(need.cy, room_y) << "control " << id << " cuts the height of \"" << text << "\"";
    EXPECT_GT(need.cx, 0) << "nothing measured for \"" << text << "\"";
}

TEST(DisplayScale, EveryProgressWindowTextFits)
{
    HWND window = open_progress_window(GetModuleHandleA(NULL));
    ASSERT_TRUE(window != NULL);
    expect_fits(window, IDC_HEADING, LABEL, control_text(window, IDC_HEADING));
    expect_fits(window, IDC_PROGRESS_GROUP, GROUP_BOX, control_text(window, IDC_PROGRESS_GROUP));
    for (const char *name : {"Patch102Notes.txt", "Config.exe", "Ostrevan.exe", "main.bin", "patch1.bin"})
        expect_fits(window, IDC_FILE_LABEL, LABEL, name);
    close_progress_window(window);
    DestroyWindow(window);
}

// Both views' message lines and both labels of the details button, in the language of the test.
TEST_F(ResultDialog, EveryTextFitsItsControl)
{
    show_with([&](HWND dialog) {
        for (MessageId message : {Failed, Succeeded})
            expect_fits(dialog, IDC_MESSAGE, LABEL, catalogue_text(language, message));
        expect_fits(dialog, IDOK, PUSH_BUTTON, catalogue_text(language, Ok));
        for (MessageId label : {ShowDetails, HideDetails})
            expect_fits(dialog, IDC_DETAILS_BUTTON, PUSH_BUTTON, catalogue_text(language, label));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
}

} // namespace
