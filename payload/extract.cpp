// extract.cpp -- payload resources of the running program, unpacked against their size header
#include "payload/extract.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "app/state.h"
#include "payload/payload_format.h"

static const char NOT_FOUND_LINE[] = "Corrupt Patch File: %s Not Found! [%x]\n";
static const char CANT_LOAD_LINE[] = "Can't Load Resource: %s [%x]\n";
static const char NO_MEMORY_LINE[] = "Not Enough Memory: %s [%x]\n";
static const char CANT_WRITE_LINE[] = "Can't Write Patch File: %s [%x]\n";

// File mode unpacks into one buffer kept from call to call: a fresh block of
// megabytes per payload costs a page fault per page each time, a quarter of
// the whole extraction. It grows to the largest payload and is never shrunk.
static unsigned char *file_buffer;
static size_t file_buffer_capacity;

// Writes length bytes to path in one write. Returns 0, or the platform's
// error code of the failed step; a partly written file is removed.
static DWORD write_whole_file(const char *path, const unsigned char *data, size_t length)
{
    FILE *file = fopen(path, "wb");
    if (!file)
        return GetLastError();
    DWORD error = 0;
    bool written = length == 0 || fwrite(data, 1, length, file) == length;
    if (!written)
        error = GetLastError();
    if (fclose(file) != 0 && written) {
        written = false;
        error = GetLastError();
    }
    if (written)
        return 0;
    remove(path);
    // A failed step that recorded no code must still read as a failure.
    return error != 0 ? error : ERROR_WRITE_FAULT;
}

int extract_payload(int resource_id, const char *name, unsigned char **out_data, int *out_length)
{
    HRSRC found = FindResourceExA(NULL, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(resource_id), 0);
    if (!found) {
        append_failure_line(NOT_FOUND_LINE, name, GetLastError());
        return EXTRACT_NOT_FOUND;
    }
    HGLOBAL loaded = LoadResource(NULL, found);
    if (!loaded) {
        append_failure_line(CANT_LOAD_LINE, name, GetLastError());
        return EXTRACT_CANT_LOAD;
    }

    int result = EXTRACT_OK;
    DWORD size = SizeofResource(NULL, found);
    const unsigned char *bytes = static_cast<const unsigned char *>(LockResource(loaded));
    unsigned char *data = NULL;
    uint32_t length = 0;
    int decoded = PAYLOAD_SHORT;
    if (bytes)
        decoded = out_data ? decode_payload(bytes, size, &data, &length)
                           : decode_payload_reusing(bytes, size, &file_buffer, &file_buffer_capacity, &length);
    if (decoded == PAYLOAD_NO_MEMORY) {
        append_failure_line(NO_MEMORY_LINE, name, ERROR_NOT_ENOUGH_MEMORY);
        result = EXTRACT_NO_MEMORY;
        goto out;
    }
    if (decoded != PAYLOAD_OK) {
        append_failure_line(NOT_FOUND_LINE, name, GetLastError());
        result = EXTRACT_CORRUPT;
        goto out;
    }

    if (out_data) {
        *out_data = data;
        *out_length = static_cast<int>(length);
        data = NULL;
    } else {
        int path_length = snprintf(scratch_path, sizeof scratch_path, "%s\\~%s", install_dir, name);
        DWORD error = ERROR_FILENAME_EXCED_RANGE;
        if (path_length > 0 && static_cast<size_t>(path_length) < sizeof scratch_path)
            error = write_whole_file(scratch_path, file_buffer, length);
        if (error != 0) {
            append_failure_line(CANT_WRITE_LINE, name, error);
            result = EXTRACT_CANT_WRITE;
        }
    }

out:
    free(data);
    FreeResource(loaded);
    return result;
}
