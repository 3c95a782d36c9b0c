// window_text.cpp -- texts converted from their own code page to UTF-16 and set with the wide call
#include "ui/window_text.h"

#include <stdlib.h>

bool set_window_text(HWND window, const char *text, int length, UINT code_page)
{
    // A single-byte code page gives one UTF-16 unit per byte: the first call
    // counts them, the buffer holds exactly that many and the terminator.
    int units = MultiByteToWideChar(code_page, 0, text, length, NULL, 0);
    if (units <= 0)
        return false;
    WCHAR *wide = static_cast<WCHAR *>(malloc((static_cast<size_t>(units) + 1) * sizeof *wide));
    bool set = false;
    if (wide && MultiByteToWideChar(code_page, 0, text, length, wide, units) == units) {
        wide[units] = L'\0';
        set = SetWindowTextW(window, wide) != 0;
    }
    free(wide);
    return set;
}
