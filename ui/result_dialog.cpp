// result_dialog.cpp -- the result dialog: message line, OK, and the details box behind a toggle
#include "ui/result_dialog.h"

#include <stdlib.h>

#include "app/catalogue.h"
#include "app/state.h"
#include "app/text_buffer.h"
#include "payload/extract.h"
#include "payload/manifest.h"
#include "res/resource.h"
#include "ui/dialog_geometry.h"
#include "ui/window_text.h"

static int full_height;    // outer height as created: the expanded height
static bool details_shown; // false while the details box is cut off

// Sets control id (0: the dialog itself) to slot message of the run's language.
static void set_catalogue_text(HWND dialog, int id, MessageId message)
{
    set_window_text(id ? GetDlgItem(dialog, id) : dialog, catalogue_text(language, message), -1,
                    catalogue_code_page(language));
}

static void fill_texts(HWND dialog)
{
    set_catalogue_text(dialog, 0, Title);
    set_catalogue_text(dialog, IDC_DETAILS_BUTTON, ShowDetails);
    set_catalogue_text(dialog, IDOK, Ok);
    if (details_text[0] != '\0') {
        // Catalogue lines in the language's code page, and failure lines whose names are ASCII, each on a line
        // of its own: each byte of the details takes at most two.
        static char lines[DETAILS_TEXT_SIZE * 2];
        copy_lines_crlf(lines, sizeof lines, details_text);
        set_window_text(GetDlgItem(dialog, IDC_DETAILS_BOX), lines, -1, catalogue_code_page(language));
        set_catalogue_text(dialog, IDC_MESSAGE, Failed);
        return;
    }
    // The notes are unpacked afresh from the program itself, never read from the game directory.
    unsigned char *notes = NULL;
    int length = 0;
    extract_payload(NOTES_RESOURCE_ID, "patch_notes.txt", &notes, &length);
    if (notes) {
        set_window_text(GetDlgItem(dialog, IDC_DETAILS_BOX), reinterpret_cast<const char *>(notes), length,
                        NOTES_CODE_PAGE);
        free(notes);
    }
    set_catalogue_text(dialog, IDC_MESSAGE, Succeeded);
}

static ScreenRect window_rect(HWND window)
{
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(window, &rect);
    return ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
}

// Centres the full-height dialog on the screen, then collapses it in place.
static void place_collapsed(HWND dialog)
{
    ScreenRect desktop = window_rect(GetDesktopWindow());
    ScreenRect created = window_rect(dialog);
    full_height = created.bottom - created.top;
    DialogPlacement placement = place_result_dialog(desktop, created);
    SetWindowPos(dialog, NULL, placement.left, placement.top, placement.width, placement.height, 0);
}

static void toggle_details(HWND dialog)
{
    details_shown = !details_shown;
    ScreenRect now = window_rect(dialog);
    int height = details_shown ? full_height : collapsed_height(full_height);
    SetWindowPos(dialog, NULL, 0, 0, now.right - now.left, height, SWP_NOMOVE);
    set_catalogue_text(dialog, IDC_DETAILS_BUTTON, details_shown ? HideDetails : ShowDetails);
}

INT_PTR CALLBACK result_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SendMessageA(dialog, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_UPDATER))));
        fill_texts(dialog);
        place_collapsed(dialog);
        details_shown = false;
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            return EndDialog(dialog, RESULT_OK);
        case IDCANCEL:
            return EndDialog(dialog, RESULT_CANCEL);
        case IDC_DETAILS_BUTTON:
            toggle_details(dialog);
            return 1;
        default:
            return 1;
        }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(dialog, &paint);
        EndPaint(dialog, &paint);
        return 0;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
        return 1;
    default:
        return 0;
    }
}

INT_PTR show_result_dialog(HINSTANCE instance)
{
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_RESULT), NULL, result_dialog_proc, 0);
}
