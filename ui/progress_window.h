// progress_window.h -- the modeless window that shows which payload is being unpacked
#pragma once

#include <windows.h>

// Creates the window from template 104 (no owner, no handler), sets the bar
// to 0 and shows it. Returns its handle, or null when it cannot be created;
// every other operation does nothing on a null window. The window that
// show_progress_label opened, if any, is the one shown.
HWND open_progress_window(HINSTANCE instance);

// Sets the bar (range 0 to 100) to position.
void set_progress_position(HWND window, int position);

// Sets the file label to text (a file name), read in the run's language's code page.
void set_progress_label(HWND window, const char *text);

// Sets the file label of the open window to text; when no window is open,
// opens one for it, which stays until the process ends: the player sees
// which file the run is waiting for, whatever the run is doing.
void show_progress_label(const char *text);

// Drains the thread's message queue without waiting: 1 when it is empty,
// 0 at a quit message, which is removed while the messages behind it stay.
int pump_messages();

// Takes the window off the screen (EndDialog with 0).
void close_progress_window(HWND window);
