// payload_fuzzer.cpp -- feeds arbitrary resource bytes to the payload decoder under the sanitizers, into a fresh
// buffer and into one kept from input to input, as extraction keeps it: both must give the same bytes
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "payload/payload_format.h"

static unsigned char *kept;
static size_t kept_capacity;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    unsigned char *out = NULL;
    uint32_t length = 0, kept_length = 0;
    int status = decode_payload(data, size, &out, &length);
    if (decode_payload_reusing(data, size, &kept, &kept_capacity, &kept_length) != status)
        abort();
    if (status == PAYLOAD_OK) {
        // Each buffer holds length bytes and a terminator, the same in both.
        if (out[length] != '\0' || kept[length] != '\0' || length > read_le32(data) || kept_length != length ||
            memcmp(out, kept, length) != 0 || kept_capacity < length)
            abort();
        free(out);
    }
    return 0;
}
