// system_dlls.h -- the updater takes its DLLs from the system directory only, whatever lies beside it
#pragma once

// load_system_dlls -- the program's first call. Restricts every later DLL
// search to the system directory, loads the system DLLs that the updater
// calls from there and fills the table of their functions. Returns false
// when a DLL or a function is missing: a broken Windows, on which the run
// must not begin.
bool load_system_dlls();
