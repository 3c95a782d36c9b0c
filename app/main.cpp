// main.cpp -- the updater's entry point
#include <windows.h>

#include "app/update_run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show_command)
{
    return run_update(instance, command_line, show_command);
}
