// main.cpp -- the updater's entry point
#include <windows.h>

#include "app/exit_codes.h"
#include "app/system_dlls.h"
#include "app/update_run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show_command)
{
    // Before anything else: no DLL from the folder the updater was started from. Without its system DLLs the run
    // never begins, and nothing was changed.
    if (!load_system_dlls())
        return EXIT_CODE_FAILED;
    return run_update(instance, command_line, show_command);
}
