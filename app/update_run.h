// update_run.h -- the whole life of the updater: verdict, unpacking, commit or rollback, result, launch
#pragma once

#include <windows.h>

// run_update -- the program's start hands over the instance (for the dialog
// templates and the payload resources), the command line and the show
// command; the last two are not used. Returns 0, the process's exit code.
int run_update(HINSTANCE instance, const char *command_line, int show_command);
