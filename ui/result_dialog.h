// result_dialog.h -- the modal dialog that ends every run: verdict, details and OK or Cancel
#pragma once

#include <windows.h>

enum { RESULT_OK = 0, RESULT_CANCEL = 1 };

// Runs template 103 modally with result_dialog_proc. Returns RESULT_OK after
// OK, RESULT_CANCEL after Cancel (Escape, close box), -1 when the dialog
// cannot be created.
INT_PTR show_result_dialog(HINSTANCE instance);

// The dialog's message handler: failure view when details_text is not
// empty, success view with the release notes otherwise; opens collapsed and
// toggles the details box with the details button.
INT_PTR CALLBACK result_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
