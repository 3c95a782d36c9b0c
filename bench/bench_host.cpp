// bench_host.cpp -- natively: the package builder's encoder, a mirror of extraction, and timed reference commands
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "bench/bench_stats.h"
#include "payload/manifest.h"
#include "payload/payload_format.h"

extern char **environ;

enum { PATH_SIZE = 1024 };

// One manifest row's source and its encoded resource.
struct Source {
    unsigned char *data;
    size_t size;
    unsigned char *resource; // capacity payload_bound(size)
    size_t capacity;
    size_t resource_length;
};

// Reads path whole into a malloc'ed buffer (one byte more, so that an empty file has one).
static bool read_file(const char *path, unsigned char **data, size_t *size)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return false;
    bool ok = false;
    long length = -1;
    unsigned char *buffer = NULL;
    if (fseek(file, 0, SEEK_END) == 0)
        length = ftell(file);
    if (length >= 0 && fseek(file, 0, SEEK_SET) == 0) {
        buffer = static_cast<unsigned char *>(malloc(static_cast<size_t>(length) + 1));
        ok = buffer && fread(buffer, 1, static_cast<size_t>(length), file) == static_cast<size_t>(length);
    }
    fclose(file);
    if (!ok) {
        free(buffer);
        return false;
    }
    *data = buffer;
    *size = static_cast<size_t>(length);
    return true;
}

// Reads every row's source from directory and gives each its resource buffer.
static bool load_sources(const char *directory, Source *sources)
{
    char path[PATH_SIZE];
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        Source *source = &sources[i];
        snprintf(path, sizeof path, "%s/%s", directory, payload_manifest[i].source_name);
        if (!read_file(path, &source->data, &source->size)) {
            fprintf(stderr, "bench_host: cannot read %s\n", path);
            return false;
        }
        source->capacity = payload_bound(source->size);
        source->resource = static_cast<unsigned char *>(malloc(source->capacity));
        if (!source->resource)
            return false;
        memset(source->resource, 0, source->capacity);
    }
    return true;
}

static void free_sources(Source *sources)
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        free(sources[i].data);
        free(sources[i].resource);
    }
}

static bool encode_all(Source *sources)
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        Source *s = &sources[i];
        if (encode_payload(s->data, s->size, s->resource, s->capacity, &s->resource_length) != PAYLOAD_OK)
            return false;
    }
    return true;
}

// encode_payload of the seven sources, in memory: what the packer spends on compression.
static int bench_encode(int runs, const char *directory)
{
    Source sources[PAYLOAD_ROWS] = {};
    double encode_ms[MAX_RUNS];
    bool ok = load_sources(directory, sources);
    for (int run = -1; run < runs && ok; ++run) {
        double start = now_ms();
        ok = encode_all(sources);
        if (run >= 0)
            encode_ms[run] = now_ms() - start;
    }
    size_t source_bytes = 0;
    size_t resource_bytes = 0;
    for (const Source &source : sources) {
        source_bytes += source.size;
        resource_bytes += source.resource_length;
    }
    free_sources(sources);
    if (!ok) {
        fprintf(stderr, "bench_host: encoding failed\n");
        return 1;
    }
    print_time("encode", encode_ms, runs);
    printf("value source_bytes %zu\nvalue encoded_bytes %zu\n", source_bytes, resource_bytes);
    return 0;
}

static long minor_faults()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

static bool write_file(const char *path, const unsigned char *data, size_t length)
{
    FILE *file = fopen(path, "wb");
    if (!file)
        return false;
    bool written = fwrite(data, 1, length, file) == length;
    return fclose(file) == 0 && written;
}

// The buffer that mirror_extract keeps from call to call, as extract_payload
// keeps its own in file mode: grown to the largest payload, never shrunk.
static unsigned char *kept_buffer;
static size_t kept_capacity;

// What extract_payload does in file mode: one kept buffer, grown when needed.
static int decode_into_kept(const Source *source, uint32_t *length)
{
    return decode_payload_reusing(source->resource, source->resource_length, &kept_buffer, &kept_capacity, length);
}

// What extract_payload does in file mode for every row, with the portable
// decoder: decode into the kept buffer, one write. Kept out of line, as
// mirror_floor, so that callgrind's --toggle-collect can name it.
__attribute__((noinline)) static bool mirror_extract(const Source *sources, const char *directory)
{
    char path[PATH_SIZE];
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        uint32_t length = 0;
        if (decode_into_kept(&sources[i], &length) != PAYLOAD_OK)
            return false;
        snprintf(path, sizeof path, "%s/~%s", directory, payload_manifest[i].install_name);
        if (!write_file(path, kept_buffer, length))
            return false;
    }
    return true;
}

// The floor: one uncompress of each stream into a preallocated buffer, one write.
__attribute__((noinline)) static bool mirror_floor(const Source *sources, const char *directory, unsigned char *buffer,
                                                   size_t capacity)
{
    char path[PATH_SIZE];
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        uLongf length = static_cast<uLongf>(capacity);
        const unsigned char *stream = sources[i].resource + PAYLOAD_HEADER_SIZE;
        if (uncompress(buffer, &length, stream, sources[i].resource_length - PAYLOAD_HEADER_SIZE) != Z_OK)
            return false;
        snprintf(path, sizeof path, "%s/~%s", directory, payload_manifest[i].install_name);
        if (!write_file(path, buffer, length))
            return false;
    }
    return true;
}

static void remove_temporaries(const char *directory)
{
    char path[PATH_SIZE];
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        snprintf(path, sizeof path, "%s/~%s", directory, payload_manifest[i].install_name);
        remove(path);
    }
}

// The extraction figure natively, with the minor page faults of each side: a
// mirror for callgrind and getrusage, which do not reach into wine. mode is
// "both", or "mirror" / "floor" for one side alone (what callgrind profiles).
static int bench_mirror(int runs, const char *sources_dir, const char *out_dir, const char *mode)
{
    Source sources[PAYLOAD_ROWS] = {};
    bool ok = load_sources(sources_dir, sources) && encode_all(sources);
    size_t capacity = 1;
    for (const Source &source : sources) {
        if (source.size + 1 > capacity)
            capacity = source.size + 1;
    }
    unsigned char *buffer = static_cast<unsigned char *>(malloc(capacity));
    ok = ok && buffer;
    if (buffer)
        memset(buffer, 0, capacity);
    bool want_mirror = strcmp(mode, "floor") != 0;
    bool want_floor = strcmp(mode, "mirror") != 0;
    double mirror_ms[MAX_RUNS];
    double floor_ms[MAX_RUNS];
    long mirror_faults = 0;
    long floor_faults = 0;
    for (int run = -1; run < runs && ok; ++run) {
        for (int turn = 0; turn < 2 && ok; ++turn) {
            bool floor_turn = (run + turn) % 2 != 0;
            if (floor_turn ? !want_floor : !want_mirror)
                continue;
            remove_temporaries(out_dir);
            long faults = minor_faults();
            double start = now_ms();
            ok = floor_turn ? mirror_floor(sources, out_dir, buffer, capacity) : mirror_extract(sources, out_dir);
            double elapsed = now_ms() - start;
            faults = minor_faults() - faults;
            if (run < 0)
                continue;
            (floor_turn ? floor_ms : mirror_ms)[run] = elapsed;
            (floor_turn ? floor_faults : mirror_faults) += faults;
        }
    }
    remove_temporaries(out_dir);
    free(buffer);
    free(kept_buffer);
    kept_buffer = NULL;
    kept_capacity = 0;
    free_sources(sources);
    if (!ok) {
        fprintf(stderr, "bench_host: the extraction mirror failed\n");
        return 1;
    }
    if (want_mirror) {
        print_time("mirror_extract", mirror_ms, runs);
        printf("value mirror_extract_faults %ld\n", mirror_faults / runs);
    }
    if (want_floor) {
        print_time("mirror_floor", floor_ms, runs);
        printf("value mirror_floor_faults %ld\n", floor_faults / runs);
    }
    return 0;
}

// Runs argv with standard output on /dev/null; returns the elapsed milliseconds, or -1 when it fails.
static double time_command(char **argv)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    double start = now_ms();
    int spawned = posix_spawnp(&child, argv[0], &actions, NULL, argv, environ);
    int status = 0;
    bool exited = spawned == 0 && waitpid(child, &status, 0) == child;
    double elapsed = now_ms() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!exited || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "bench_host: %s failed\n", argv[0]);
        return -1;
    }
    return elapsed;
}

// Times argv runs times (after one run not counted), each after the shell command setup, which is not timed.
static int bench_command(int runs, const char *name, const char *setup, char **argv)
{
    double command_ms[MAX_RUNS];
    for (int run = -1; run < runs; ++run) {
        if (setup[0] != '\0' && system(setup) != 0) {
            fprintf(stderr, "bench_host: the setup of %s failed: %s\n", name, setup);
            return 1;
        }
        double elapsed = time_command(argv);
        if (elapsed < 0)
            return 1;
        if (run >= 0)
            command_ms[run] = elapsed;
    }
    print_time(name, command_ms, runs);
    return 0;
}

// Prints "SOURCE INSTALLED" for every manifest row that applies to language, for the reference archive.
static int print_rows(const char *language_text)
{
    int language = atoi(language_text);
    if (language < 1 || language > 3)
        return 2;
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (payload_row_applies(&payload_manifest[i], language))
            printf("%s %s\n", payload_manifest[i].source_name, payload_manifest[i].install_name);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "rows") == 0)
        return print_rows(argv[2]);
    int runs = argc >= 3 ? parse_runs(argv[2]) : 0;
    if (argc == 4 && strcmp(argv[1], "encode") == 0 && runs > 0)
        return bench_encode(runs, argv[3]);
    if ((argc == 5 || argc == 6) && strcmp(argv[1], "mirror") == 0 && runs > 0)
        return bench_mirror(runs, argv[3], argv[4], argc == 6 ? argv[5] : "both");
    if (argc >= 7 && strcmp(argv[1], "command") == 0 && runs > 0 && strcmp(argv[5], "--") == 0)
        return bench_command(runs, argv[3], argv[4], argv + 6);
    fprintf(stderr, "usage: bench_host encode RUNS SOURCES | mirror RUNS SOURCES OUT [both|mirror|floor] |"
                    " command RUNS NAME SETUP -- PROGRAM [ARGS...] | rows LANGUAGE\n");
    return 2;
}
