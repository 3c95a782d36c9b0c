// extract.cpp -- payload resources of the running program, unpacked against their size header
#include "payload/extract.h"

#include <windows.h>

#include <stdlib.h>

#include "app/busy_wait.h"
#include "app/commit.h"
#include "app/file_io.h"
#include "app/game_paths.h"
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
        // Flushed before the commit renames it over an installed file: after a
        // power cut the new name must not stand there without its data.
        // It stays open to its commit; one unpacked under the same name before goes.
        int row = payload_file_row(name);
        DWORD error = ERROR_FILENAME_EXCED_RANGE;
        if (row >= 0)
            close_kept_file(&unpacked_files[row], true);
        if (row >= 0 && format_game_path(scratch_path, GAME_PATH_SIZE, "~", name, ""))
            error = write_file_durably(scratch_path, file_buffer, length, &unpacked_files[row]);
        if (error != 0) {
            append_file_failure(CANT_WRITE_LINE, name, error);
            result = EXTRACT_CANT_WRITE;
        }
    }

out:
    free(data);
    FreeResource(loaded);
    return result;
}
