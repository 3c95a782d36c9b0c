// file_holders.h -- the programs that hold a file, as the system's Restart Manager names them
#pragma once

#include <stddef.h>

// Fills names (size bytes, cut to fit) with the application name of each
// program that holds the file at path, separated by ", ", in the run's
// language's code page; a program of another user's session is marked so,
// and so is a holder that the system knows only to be another user's.
// Empty when the system cannot tell: no Restart Manager, a call that
// failed, or an empty list, which is what an emulator's stub answers. The
// file is held all the same, by a holder unknown.
void name_file_holders(const char *path, char *names, size_t size);
