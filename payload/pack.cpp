// pack.cpp -- the package builder: each manifest row's source, compressed behind its size header
#include "payload/pack.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "payload/manifest.h"
#include "payload/payload_format.h"

const char PACKAGE_TARGET[] = "Ostrevan_Patch102.exe";

static int missing_sources;

// Reads the whole file at path into a malloc'ed buffer. Returns 0 with
// *data and *size set, 1 when the file cannot be opened, -1 when it cannot
// be sized, allocated or read whole.
static int read_source(const char *path, unsigned char **data, size_t *size)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return 1;
    int result = -1;
    unsigned char *buffer = NULL;
    long length = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        length = ftell(file);
    if (length < 0 || fseek(file, 0, SEEK_SET) != 0)
        goto out;
    // One byte more, so that an empty file still gets a buffer of its own.
    buffer = static_cast<unsigned char *>(malloc(static_cast<size_t>(length) + 1));
    if (!buffer || fread(buffer, 1, static_cast<size_t>(length), file) != static_cast<size_t>(length))
        goto out;
    *data = buffer;
    *size = static_cast<size_t>(length);
    buffer = NULL;
    result = 0;
out:
    free(buffer);
    fclose(file);
    return result;
}

// Compresses one source into its resource and adds it to the update.
static bool pack_row(HANDLE update, const PayloadEntry *row, const unsigned char *source, size_t size)
{
    size_t capacity = payload_bound(size);
    unsigned char *resource = static_cast<unsigned char *>(malloc(capacity));
    size_t length = 0;
    bool added = resource && encode_payload(source, size, resource, capacity, &length) == PAYLOAD_OK &&
                 UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(row->resource_id), 0, resource,
                                 static_cast<DWORD>(length));
    free(resource);
    return added;
}

bool pack_payloads()
{
    missing_sources = 0;
    HANDLE update = BeginUpdateResourceA(PACKAGE_TARGET, FALSE);
    if (!update)
        return false;
    bool complete = true;
    for (int i = 0; i < PAYLOAD_ROWS && complete; ++i) {
        const PayloadEntry *row = &payload_manifest[i];
        unsigned char *source = NULL;
        size_t size = 0;
        int read = read_source(row->source_name, &source, &size);
        if (read == 1) {
            ++missing_sources;
            MessageBoxA(NULL, row->source_name, "File Not Found", 0x30);
            continue;
        }
        complete = read == 0 && pack_row(update, row, source, size);
        free(source);
    }
    // A failed row discards the whole update: the target keeps what it held.
    return EndUpdateResourceA(update, complete ? FALSE : TRUE) && complete;
}

int missing_payload_sources()
{
    return missing_sources;
}
