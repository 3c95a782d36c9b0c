// bench_heap.cpp -- natively: the heap peak of unpacking the update's rows, counted exactly by malloc hooks
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "payload/manifest.h"
#include "payload/payload_format.h"

// glibc's own allocator, under the names it exports for wrappers like these.
extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_calloc(size_t count, size_t size);
extern "C" void *__libc_realloc(void *block, size_t size);
extern "C" void __libc_free(void *block);

enum { PATH_SIZE = 1024 };

// Bytes of every live block (malloc_usable_size: what the block really
// holds), and their highest value since the latest reset_peak.
static long long live_bytes;
static long long peak_bytes;

static void count_in(void *block)
{
    if (!block)
        return;
    live_bytes += static_cast<long long>(malloc_usable_size(block));
    if (live_bytes > peak_bytes)
        peak_bytes = live_bytes;
}

// These definitions take the place of glibc's for the whole process, zlib's and stdio's allocations included.
extern "C" void *malloc(size_t size)
{
    void *block = __libc_malloc(size);
    count_in(block);
    return block;
}

extern "C" void *calloc(size_t count, size_t size)
{
    void *block = __libc_calloc(count, size);
    count_in(block);
    return block;
}

extern "C" void *realloc(void *old, size_t size)
{
    long long old_bytes = old ? static_cast<long long>(malloc_usable_size(old)) : 0;
    void *block = __libc_realloc(old, size);
    if (block || size == 0) {
        live_bytes -= old_bytes;
        count_in(block);
    }
    return block;
}

extern "C" void free(void *block)
{
    if (block)
        live_bytes -= static_cast<long long>(malloc_usable_size(block));
    __libc_free(block);
}

static void reset_peak()
{
    peak_bytes = live_bytes;
}

// Reads path whole into a malloc'ed buffer.
static unsigned char *read_file(const char *path, size_t *size)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return NULL;
    unsigned char *buffer = NULL;
    long length = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        length = ftell(file);
    if (length >= 0 && fseek(file, 0, SEEK_SET) == 0)
        buffer = static_cast<unsigned char *>(malloc(static_cast<size_t>(length) + 1));
    if (buffer && fread(buffer, 1, static_cast<size_t>(length), file) != static_cast<size_t>(length)) {
        free(buffer);
        buffer = NULL;
    }
    fclose(file);
    *size = static_cast<size_t>(length);
    return buffer;
}

// Encodes the source of row into a malloc'ed resource, as the packer does.
static unsigned char *encode_row(const char *sources_dir, const PayloadEntry *row, size_t *length)
{
    char path[PATH_SIZE];
    size_t size = 0;
    snprintf(path, sizeof path, "%s/%s", sources_dir, row->source_name);
    unsigned char *source = read_file(path, &size);
    size_t capacity = source ? payload_bound(size) : 0;
    unsigned char *resource = source ? static_cast<unsigned char *>(malloc(capacity)) : NULL;
    if (resource && encode_payload(source, size, resource, capacity, length) != PAYLOAD_OK) {
        free(resource);
        resource = NULL;
    }
    free(source);
    if (!resource)
        fprintf(stderr, "bench_heap: cannot encode %s\n", path);
    return resource;
}

// The buffer that extract_payload keeps from call to call in file mode:
// grown to the largest payload, never shrunk.
static unsigned char *kept_buffer;
static size_t kept_capacity;

// What extract_payload does in file mode: decode_payload_reusing, one fwrite.
static bool decode_to_file(const unsigned char *resource, size_t size, const char *path)
{
    uint32_t length = 0;
    if (decode_payload_reusing(resource, size, &kept_buffer, &kept_capacity, &length) != PAYLOAD_OK)
        return false;
    FILE *file = fopen(path, "wb");
    bool written = file && fwrite(kept_buffer, 1, length, file) == length;
    if (file && fclose(file) != 0)
        written = false;
    return written;
}

// Unpacks every row that applies to language into out_dir and prints the
// heap peak above the live bytes before it (the kept buffer included).
static int measure(const char *sources_dir, const char *out_dir, int language)
{
    unsigned char *resources[PAYLOAD_ROWS] = {};
    size_t lengths[PAYLOAD_ROWS] = {};
    bool ok = true;
    for (int i = 0; i < PAYLOAD_ROWS && ok; ++i) {
        if (payload_row_applies(&payload_manifest[i], language))
            ok = (resources[i] = encode_row(sources_dir, &payload_manifest[i], &lengths[i])) != NULL;
    }
    char path[PATH_SIZE];
    long long before = live_bytes;
    reset_peak();
    for (int i = 0; i < PAYLOAD_ROWS && ok; ++i) {
        if (!resources[i])
            continue;
        snprintf(path, sizeof path, "%s/~%s", out_dir, payload_manifest[i].install_name);
        ok = decode_to_file(resources[i], lengths[i], path);
        remove(path);
    }
    if (ok)
        printf("value heap_decode_peak %lld\n", peak_bytes - before);
    free(kept_buffer);
    for (unsigned char *resource : resources)
        free(resource);
    if (!ok)
        fprintf(stderr, "bench_heap: unpacking failed\n");
    return ok ? 0 : 1;
}

int main(int argc, char **argv)
{
    int language = argc == 4 ? atoi(argv[3]) : 0;
    if (language < 1 || language > 3) {
        fprintf(stderr, "usage: bench_heap SOURCES OUT LANGUAGE (1, 2 or 3)\n");
        return 2;
    }
    return measure(argv[1], argv[2], language);
}
