// payload_format.h -- one payload resource: a 4-byte little-endian unpacked size, then one zlib stream
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    PAYLOAD_OK = 0,
    PAYLOAD_SHORT = -1,     // fewer bytes than the size header
    PAYLOAD_NO_MEMORY = -2, // the output buffer cannot be allocated
    PAYLOAD_CORRUPT = -3,   // the stream is damaged, cut short or unpacks to more than its header
    PAYLOAD_TOO_LARGE = -4  // a source longer than a 32-bit size header can state
};

enum { PAYLOAD_HEADER_SIZE = 4 };

uint32_t read_le32(const unsigned char *bytes);
void write_le32(unsigned char *bytes, uint32_t value);

// payload_capacity -- the bytes that decoding resource needs in its output
// buffer besides the terminator: the size header, cut to what the stream
// could unpack to at most. PAYLOAD_SHORT for a resource without header.
int payload_capacity(const unsigned char *resource, size_t size, size_t *capacity);

// decode_payload_into -- unpacks resource with one uncompress into buffer,
// which holds capacity + 1 bytes (capacity from payload_capacity), and
// terminates it. PAYLOAD_OK with *out_length set, or a failure status.
int decode_payload_into(const unsigned char *resource, size_t size, unsigned char *buffer, size_t capacity,
                        uint32_t *out_length);

// decode_payload_reusing -- the same into a buffer that the caller keeps from
// call to call: *buffer (malloc'ed, or null at first) holds *capacity + 1
// bytes and is replaced by a larger one when the payload needs more. The
// result is at the start of *buffer, terminated; the caller frees it last.
int decode_payload_reusing(const unsigned char *resource, size_t size, unsigned char **buffer, size_t *capacity,
                           uint32_t *out_length);

// decode_payload -- unpacks resource (size bytes) with one uncompress.
// On PAYLOAD_OK, *out_data is a malloc'ed buffer of *out_length bytes plus a
// NUL terminator, owned by the caller, and *out_length is at most the size
// header. On failure nothing is stored and nothing stays allocated.
int decode_payload(const unsigned char *resource, size_t size, unsigned char **out_data, uint32_t *out_length);

// Bytes that encode_payload may need for a source of source_size bytes.
size_t payload_bound(size_t source_size);

// encode_payload -- writes the size header and the zlib stream of source at
// the default level into resource (capacity bytes, at least payload_bound).
// Returns PAYLOAD_OK and the resource's length, PAYLOAD_TOO_LARGE, or
// PAYLOAD_NO_MEMORY / PAYLOAD_CORRUPT when zlib fails.
int encode_payload(const unsigned char *source, size_t source_size, unsigned char *resource, size_t capacity,
                   size_t *resource_length);
