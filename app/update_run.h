// update_run.h -- the whole life of the updater: verdict, unpacking, commit or rollback, result, launch
#pragma once

#include <windows.h>

// run_update -- the program's start hands over the instance (for the dialog
// templates and the payload resources), the command line and the show
// command; the last two are not used. Returns the process's exit code
// (app/exit_codes.h): updated, failed with nothing changed, not installed,
// interrupted and not undone yet, or another updater running.
int run_update(HINSTANCE instance, const char *command_line, int show_command);
