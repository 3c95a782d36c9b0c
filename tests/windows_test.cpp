// windows_test.cpp -- the progress window and the result dialog as real windows, from the real templates, in the
// language OSTREVAN_LANGUAGE and at the DPI OSTREVAN_DPI of the run
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
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

int setting(const char *name, int fallback)
{
    return getenv(name) ? atoi(getenv(name)) : fallback;
}

RECT window_rect(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

// What text (UTF-8) needs when drawn with the control's own font, as DrawText lays it out.
SIZE text_extent(HWND control, const std::string &text, UINT format, int width)
{
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT rect = {0, 0, width, 0};
    std::wstring drawn = wide(text, CP_UTF8);
    DrawTextW(dc, drawn.c_str(), static_cast<int>(drawn.size()), &rect, format | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return SIZE{rect.right, rect.bottom};
}

enum ControlKind { LABEL, PUSH_BUTTON, GROUP_BOX };

// Text in control id would be drawn whole: a label's wrapped lines in its client area, a button's line inside its
// focus rectangle within the 3-D edge, a group box's caption on its top edge with room for a corner on each side.
void expect_fits(HWND window, int id, ControlKind kind, const std::string &text)
{
    HWND control = GetDlgItem(window, id);
    RECT client = {};
    GetClientRect(control, &client);
    int room_x = client.right, room_y = client.bottom;
    UINT format = kind == LABEL ? DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX : DT_SINGLELINE | DT_NOPREFIX;
    if (kind == PUSH_BUTTON) {
        room_x -= 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
        room_y -= 2 * GetSystemMetrics(SM_CYEDGE);
    } else if (kind == GROUP_BOX) {
        room_x -= 2 * text_extent(control, "M", format, 0).cx;
    }
    SIZE need = text_extent(control, text, format, room_x);
    EXPECT_TRUE(need.cx > 0 && need.cx <= room_x && need.cy <= room_y)
        << "control " << id << " cuts \"" << text << "\": " << need.cx << "x" << need.cy << " in " << room_x << "x"
        << room_y;
}

// At the DPI the run was started for (else every fit is checked at 96 again), the progress window opens from its
// template, centred, without a close box, its label holding the wait for each file; it is ended, not destroyed.
TEST(ProgressWindow, OpensFromItsTemplateItsTextsFitAndItEndsWithoutBeingDestroyed)
{
    HDC screen = GetDC(NULL);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), setting("OSTREVAN_DPI", USER_DEFAULT_SCREEN_DPI));
    ReleaseDC(NULL, screen);
    language = setting("OSTREVAN_LANGUAGE", 1);
    HWND window = open_progress_window(GetModuleHandleA(NULL));
    ASSERT_TRUE(window != NULL);
    EXPECT_TRUE(control_text(window, IDC_FILE_LABEL) == "" && IsWindowVisible(window));
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU, 0) << "no close box";
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0), 100);
    RECT screen_rect = window_rect(GetDesktopWindow()), rect = window_rect(window);
    EXPECT_LE(abs((rect.left + rect.right) - (screen_rect.left + screen_rect.right)), 2) << "centred";
    expect_fits(window, IDC_HEADING, LABEL, control_text(window, IDC_HEADING));
    expect_fits(window, IDC_PROGRESS_GROUP, GROUP_BOX, control_text(window, IDC_PROGRESS_GROUP));
    for (const char *name : INSTALLED_NAMES)
        expect_fits(window, IDC_FILE_LABEL, LABEL, shown(language, WaitingFor, name));
    close_progress_window(window);
    EXPECT_TRUE(!IsWindowVisible(window) && IsWindow(window)) << "ended, not destroyed";
    DestroyWindow(window);
}

// Both views' message lines and both labels of the details button fit; the dialog opens collapsed, its client area
// ending between the buttons and the details box, centred as if it were whole, and toggles in place.
void CALLBACK check_result_dialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = wait_for_window(GetCurrentProcessId(), IDC_MESSAGE, true, 0);
    if (!dialog)
        return;
    KillTimer(NULL, timer);
    for (MessageId message : {Failed, Succeeded})
        expect_fits(dialog, IDC_MESSAGE, LABEL, shown(language, message));
    expect_fits(dialog, IDOK, PUSH_BUTTON, shown(language, Ok));
    for (MessageId label : {ShowDetails, HideDetails})
        expect_fits(dialog, IDC_DETAILS_BUTTON, PUSH_BUTTON, shown(language, label));

    RECT screen = window_rect(GetDesktopWindow()), collapsed = window_rect(dialog), client;
    RECT box = window_rect(GetDlgItem(dialog, IDC_DETAILS_BOX));
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_DETAILS_BOX));
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, NULL, reinterpret_cast<POINT *>(&client), 2);
    EXPECT_GE(box.top, client.bottom);
    for (int button : {IDOK, IDC_DETAILS_BUTTON})
        EXPECT_LE(window_rect(GetDlgItem(dialog, button)).bottom, client.bottom);

    SendMessageA(dialog, WM_COMMAND, IDC_DETAILS_BUTTON, 0);
    RECT expanded = window_rect(dialog);
    int full = expanded.bottom - expanded.top;
    EXPECT_EQ(control_text(dialog, IDC_DETAILS_BUTTON), shown(language, HideDetails));
    EXPECT_TRUE(box.bottom > collapsed.bottom && box.bottom <= expanded.bottom);
    EXPECT_EQ(collapsed.bottom - collapsed.top, collapsed_height(full));
    EXPECT_EQ(collapsed.left, (screen.left + screen.right - (collapsed.right - collapsed.left)) / 2);
    EXPECT_EQ(collapsed.top, (screen.top + screen.bottom - full) / 2);
    EXPECT_TRUE(expanded.left == collapsed.left && expanded.top == collapsed.top && expanded.right == collapsed.right);

    SendMessageA(dialog, WM_COMMAND, IDC_DETAILS_BUTTON, 0);
    RECT again = window_rect(dialog);
    EXPECT_TRUE(EqualRect(&again, &collapsed)) << "collapsed again";
    EXPECT_EQ(control_text(dialog, IDC_DETAILS_BUTTON), shown(language, ShowDetails));
    SendMessageA(dialog, WM_COMMAND, 4242, 0);
    again = window_rect(dialog);
    EXPECT_TRUE(EqualRect(&again, &collapsed)) << "a command the dialog does not know changes nothing";
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

TEST(ResultDialog, TextsFitAndTheDialogOpensCollapsedAndTogglesInPlace)
{
    language = setting("OSTREVAN_LANGUAGE", 1);
    details_text[0] = '\0';
    SetTimer(NULL, 0, 20, check_result_dialog);
    EXPECT_EQ(show_result_dialog(GetModuleHandleA(NULL)), RESULT_CANCEL) << "the dialog was answered";
}

} // namespace
