// extract.h -- unpacks one payload resource of the running program into its temporary file or memory
#pragma once

enum {
    EXTRACT_OK = 0,
    EXTRACT_NOT_FOUND = -1, // no RT_RCDATA resource of that number in language 0
    EXTRACT_CANT_LOAD = -2, // found, but it cannot be loaded
    EXTRACT_CORRUPT = -3,   // shorter than its header, damaged, cut short or larger than its header
    EXTRACT_NO_MEMORY = -4, // the output buffer cannot be allocated
    EXTRACT_CANT_WRITE = -5 // the temporary file cannot be created, written whole, flushed or closed
};

// extract_payload -- unpacks resource resource_id. With out_data null (file
// mode) it writes the bytes to "%s\~%s" from install_dir and name and flushes
// them to the disk; otherwise
// (memory mode) *out_data receives a malloc'ed, NUL-terminated buffer that the
// caller frees, and *out_length its length without the terminator. Returns an
// EXTRACT_ status; on failure it appends one line naming name to details_text,
// stores nothing through the out pointers and leaves no file of its own.
int extract_payload(int resource_id, const char *name, unsigned char **out_data, int *out_length);
