// state.cpp -- definitions of the shared state and its appends
#include "state.h"

#include <stdio.h>

#include "text_buffer.h"

char install_dir[INSTALL_DIR_SIZE];
bool install_found;
int language;
char details_text[DETAILS_TEXT_SIZE];
char scratch_path[SCRATCH_PATH_SIZE];

void append_details(const char *text)
{
    append_text(details_text, sizeof details_text, text);
}

void append_failure_line(const char *format, const char *name, unsigned long code)
{
    snprintf(scratch_path, sizeof scratch_path, format, name, code);
    append_details(scratch_path);
}
