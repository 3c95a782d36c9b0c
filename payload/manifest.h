// manifest.h -- which payload resource becomes which file of the game directory
#pragma once

struct PayloadEntry {
    int kind;                 // number of the installed file; rows for one file share it
    int resource_id;          // RT_RCDATA resource number in the updater
    const char *install_name; // file name in the game directory
    const char *source_name;  // file the package builder packs, in its current directory
    int language;             // 0: every language; else the only Language code it applies to
};

enum { PAYLOAD_ROWS = 7, NOTES_RESOURCE_ID = 1101 };

extern const PayloadEntry payload_manifest[PAYLOAD_ROWS];

// True when row applies to the interface language.
bool payload_row_applies(const PayloadEntry *row, int language);

// The first row that installs name, or -1: the rows of one file share its
// temporary, installed and backup paths.
int payload_file_row(const char *name);
