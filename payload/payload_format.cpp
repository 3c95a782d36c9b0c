// payload_format.cpp -- decoding and encoding of one payload resource
#include "payload/payload_format.h"

#include <stdlib.h>
#include <zlib.h>

// Deflate cannot unpack more than 1032 bytes from one byte of stream (258
// bytes from a 1-bit length code and a 1-bit distance code), so an output
// buffer larger than that is never filled: capping the capacity there gives
// every stream the same result as the full header size would, while a
// corrupt header cannot make us allocate gigabytes.
static const uint64_t MAX_INFLATE_RATIO = 1032;

uint32_t read_le32(const unsigned char *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void write_le32(unsigned char *bytes, uint32_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

int payload_capacity(const unsigned char *resource, size_t size, size_t *capacity)
{
    if (size < PAYLOAD_HEADER_SIZE)
        return PAYLOAD_SHORT;
    uint64_t stream_size = size - PAYLOAD_HEADER_SIZE;
    if (stream_size > 0xFFFFFFFFu)
        return PAYLOAD_CORRUPT;
    uint64_t wanted = read_le32(resource);
    if (wanted > stream_size * MAX_INFLATE_RATIO)
        wanted = stream_size * MAX_INFLATE_RATIO;
    // One byte more for the terminator; computed wide so that it cannot wrap.
    if (wanted + 1 > SIZE_MAX)
        return PAYLOAD_NO_MEMORY;
    *capacity = static_cast<size_t>(wanted);
    return PAYLOAD_OK;
}

int decode_payload_into(const unsigned char *resource, size_t size, unsigned char *buffer, size_t capacity,
                        uint32_t *out_length)
{
    // uncompress gets the whole buffer, one byte more than the header allows,
    // and a longer result is refused here: with a capacity of 0 it would
    // otherwise drop a one-byte payload and report success.
    uLongf length = static_cast<uLongf>(capacity + 1);
    int z = uncompress(buffer, &length, resource + PAYLOAD_HEADER_SIZE, static_cast<uLong>(size - PAYLOAD_HEADER_SIZE));
    if (z == Z_OK && length > capacity)
        z = Z_BUF_ERROR;
    if (z != Z_OK)
        return z == Z_MEM_ERROR ? PAYLOAD_NO_MEMORY : PAYLOAD_CORRUPT;
    buffer[length] = '\0';
    *out_length = static_cast<uint32_t>(length);
    return PAYLOAD_OK;
}

int decode_payload_reusing(const unsigned char *resource, size_t size, unsigned char **buffer, size_t *capacity,
                           uint32_t *out_length)
{
    size_t needed = 0;
    int status = payload_capacity(resource, size, &needed);
    if (status != PAYLOAD_OK)
        return status;
    if (!*buffer || *capacity < needed) {
        free(*buffer);
        *capacity = 0;
        *buffer = static_cast<unsigned char *>(malloc(needed + 1));
        if (!*buffer)
            return PAYLOAD_NO_MEMORY;
        *capacity = needed;
    }
    return decode_payload_into(resource, size, *buffer, needed, out_length);
}

int decode_payload(const unsigned char *resource, size_t size, unsigned char **out_data, uint32_t *out_length)
{
    size_t capacity = 0;
    int status = payload_capacity(resource, size, &capacity);
    if (status != PAYLOAD_OK)
        return status;
    unsigned char *buffer = static_cast<unsigned char *>(malloc(capacity + 1));
    if (!buffer)
        return PAYLOAD_NO_MEMORY;
    status = decode_payload_into(resource, size, buffer, capacity, out_length);
    if (status != PAYLOAD_OK) {
        free(buffer);
        return status;
    }
    *out_data = buffer;
    return PAYLOAD_OK;
}

size_t payload_bound(size_t source_size)
{
    return PAYLOAD_HEADER_SIZE + compressBound(static_cast<uLong>(source_size));
}

int encode_payload(const unsigned char *source, size_t source_size, unsigned char *resource, size_t capacity,
                   size_t *resource_length)
{
    if (source_size > 0xFFFFFFFFu || capacity < PAYLOAD_HEADER_SIZE)
        return PAYLOAD_TOO_LARGE;
    uLongf length = static_cast<uLongf>(capacity - PAYLOAD_HEADER_SIZE);
    int z = compress(resource + PAYLOAD_HEADER_SIZE, &length, source, static_cast<uLong>(source_size));
    if (z != Z_OK)
        return z == Z_MEM_ERROR ? PAYLOAD_NO_MEMORY : PAYLOAD_CORRUPT;
    write_le32(resource, static_cast<uint32_t>(source_size));
    *resource_length = PAYLOAD_HEADER_SIZE + length;
    return PAYLOAD_OK;
}
