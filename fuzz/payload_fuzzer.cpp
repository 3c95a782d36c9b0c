// payload_fuzzer.cpp -- feeds arbitrary resource bytes to the payload decoder under the sanitizers
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "payload/payload_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    unsigned char *out = NULL;
    uint32_t length = 0;
    if (decode_payload(data, size, &out, &length) == PAYLOAD_OK) {
        // The buffer holds length bytes and a terminator; touch all of them.
        if (out[length] != '\0' || length > read_le32(data))
            abort();
        volatile unsigned char sum = 0;
        for (uint32_t i = 0; i < length; ++i)
            sum = sum + out[i];
        free(out);
    }
    return 0;
}
