// state.h -- the process-wide state shared by discovery, the update run, extraction and the windows
#pragma once

// Interface language codes; 0 only while discovery has not decided yet.
enum Language { LANGUAGE_UNDECIDED = 0, LANGUAGE_ENGLISH = 1, LANGUAGE_GERMAN = 2, LANGUAGE_RUSSIAN = 3 };

enum {
    INSTALL_DIR_SIZE = 256,   // registry value "Path" with its terminator
    DETAILS_TEXT_SIZE = 4096, // every failure entry of one run
    SCRATCH_PATH_SIZE = 1024  // one formatted path or failure line
};

extern char install_dir[INSTALL_DIR_SIZE];   // game directory as the registry gives it, no trailing separator
extern bool install_found;                   // "Path" is set and the game executable in it opens
extern int language;                         // Language code chosen by discovery
extern char details_text[DETAILS_TEXT_SIZE]; // verdict texts and failure lines, shown by the result dialog
extern char scratch_path[SCRATCH_PATH_SIZE]; // formatting buffer, valid until the next formatting

// Appends text to details_text; what does not fit is cut, the text stays terminated.
void append_details(const char *text);

// Formats a failure line (format with one %s for name and one %x for code)
// into scratch_path and appends it to details_text.
void append_failure_line(const char *format, const char *name, unsigned long code);
