// manifest.cpp -- the payload manifest, walked in table order by the run and the builder
#include "manifest.h"

#include <string.h>

// The language-specific group stands last: the run checks its completeness by
// comparing the kind of the last row it applied with the kind of the last row.
const PayloadEntry payload_manifest[PAYLOAD_ROWS] = {
    {0, 1101, "Patch102Notes.txt", "Patch102Notes.txt", 0},
    {1, 1102, "Config.exe", "Config.exe", 0},
    {2, 1103, "Ostrevan.exe", "Ostrevan.exe", 0},
    {3, 1104, "main.bin", "main.bin", 0},
    {4, 1105, "patch1.bin", "patch1_en.bin", 1},
    {4, 1106, "patch1.bin", "patch1_de.bin", 2},
    {4, 1107, "patch1.bin", "patch1_ru.bin", 3},
};

bool payload_row_applies(const PayloadEntry *row, int language)
{
    return row->language == 0 || row->language == language;
}

int payload_file_row(const char *name)
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (strcmp(payload_manifest[i].install_name, name) == 0)
            return i;
    }
    return -1;
}
