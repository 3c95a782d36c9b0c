// window_text.h -- every text the windows show, set as UTF-16 from the code page it is written in
#pragma once

#include <windows.h>

// The release notes (the payload shown in the details box) are Windows-1252 in every language.
enum { NOTES_CODE_PAGE = 1252 };

// Sets window's text to the length bytes of text (-1: up to its terminator),
// converted from code_page to UTF-16 and set with the wide call, so that it
// reads the same whatever the system's ANSI code page. Returns false when the
// text cannot be converted or set; the window then keeps its text.
bool set_window_text(HWND window, const char *text, int length, UINT code_page);
