// win_test_support.h -- files, registry, processes and windows for the tests under Wine, and the demo game
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/catalogue.h"

// A new empty directory under the temporary folder; its path has no trailing separator.
std::string make_temp_dir(const char *tag);
void remove_tree(const std::string &path);

std::string read_file(const std::string &path);
bool write_file(const std::string &path, const std::string &data);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string &path);

// The installed names of the update, and the marker file of each language code (none for 0).
extern const char *const INSTALLED_NAMES[5];
extern const char *const MARKERS[4];
// HKCU\Software\Ostrevan, or with a SID HKEY_USERS\<sid>\Software\Ostrevan: "Path" set to value.
void set_game_path(const std::string &value, const std::string &sid = "");

// A symbolic link at link to target, or with target empty, link removed: made on the Unix side (Wine's own call
// makes none), where Wine follows it for every call on that name, as Windows follows a junction.
bool make_symbolic_link(const std::string &link, const std::string &target);

// An environment variable with '/' turned into '\'; empty when unset.
std::string env_path(const char *name);

// Starts command line (program path quoted by the caller) in directory cwd ("" for ours).
bool start_process(const std::string &command, const std::string &cwd, PROCESS_INFORMATION *process);
// Waits for the process (killing it after timeout_ms), closes its handles, returns its exit code.
DWORD finish_process(PROCESS_INFORMATION *process, int timeout_ms);

// The first top-level window of process pid with a child control_id (visible, if visible), waiting up to timeout_ms.
HWND wait_for_window(DWORD pid, int control_id, bool visible, int timeout_ms);

// A window's text read as UTF-16, in UTF-8.
std::string window_text(HWND window);
std::string control_text(HWND dialog, int control_id);

// text (bytes of code_page) in UTF-16; UTF-16 text in UTF-8; bytes of code_page in UTF-8: what a window shows.
std::wstring wide(const std::string &text, UINT code_page);
std::string utf8(const std::wstring &text);
std::string decoded(const std::string &text, UINT code_page);
// Slot id of language as the windows show it, in UTF-8, with argument for its %s and a hold's code for its %x.
std::string shown(int language, MessageId id, const std::string &argument = "");
