// stream_extract.cpp -- the streaming extraction prototype, for Windows and natively alike
#include "bench/stream_extract.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "payload/payload_format.h"

bool inflate_to_file(const unsigned char *resource, size_t size, const char *path)
{
    if (size < PAYLOAD_HEADER_SIZE || size - PAYLOAD_HEADER_SIZE > 0xFFFFFFFFu)
        return false;
    uint32_t header = read_le32(resource);
    unsigned char *chunk = static_cast<unsigned char *>(malloc(STREAM_CHUNK_SIZE));
    z_stream z;
    memset(&z, 0, sizeof z);
    if (!chunk || inflateInit(&z) != Z_OK) {
        free(chunk);
        return false;
    }
    z.next_in = const_cast<Bytef *>(resource + PAYLOAD_HEADER_SIZE);
    z.avail_in = static_cast<uInt>(size - PAYLOAD_HEADER_SIZE);
    FILE *file = fopen(path, "wb");
    uint64_t total = 0;
    int status = file ? Z_OK : Z_ERRNO;
    while (status == Z_OK) {
        z.next_out = chunk;
        z.avail_out = STREAM_CHUNK_SIZE;
        status = inflate(&z, Z_NO_FLUSH);
        size_t produced = STREAM_CHUNK_SIZE - z.avail_out;
        total += produced;
        // Z_BUF_ERROR here means a stream cut short: no progress was possible.
        if ((status != Z_OK && status != Z_STREAM_END) || total > header ||
            fwrite(chunk, 1, produced, file) != produced)
            status = Z_DATA_ERROR;
    }
    inflateEnd(&z);
    free(chunk);
    bool ok = status == Z_STREAM_END;
    if (file && fclose(file) != 0)
        ok = false;
    if (file && !ok)
        remove(path);
    return ok;
}
