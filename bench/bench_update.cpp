// bench_update.cpp -- under wine64: extraction, the whole update run and the commit, each against its floor
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "app/commit.h"
#include "app/state.h"
#include "app/update_run.h"
#include "bench/bench_stats.h"
#include "payload/extract.h"
#include "payload/manifest.h"
#include "payload/payload_format.h"
#include "ui/progress_window.h"
#include "ui/result_dialog.h"

// The run's windows, left out. These definitions stand in for those of
// ui/progress_window.cpp and ui/result_dialog.cpp, so the linker never takes
// those objects from updater_core: run_update then does discovery, the
// unpack phase and the commit, shows nothing and, as after Cancel, launches
// nothing.
HWND open_progress_window(HINSTANCE)
{
    return NULL;
}

void set_progress_position(HWND, int)
{
}

void set_progress_label(HWND, const char *)
{
}

int pump_messages()
{
    return 1;
}

void close_progress_window(HWND)
{
}

INT_PTR show_result_dialog(HINSTANCE)
{
    return RESULT_CANCEL;
}

static const char GAME_KEY[] = "Software\\Ostrevan";
static const char JOURNAL_NAME[] = "~Patch102.journal";

// One payload resource of this program, as the packer wrote it.
struct Stream {
    const unsigned char *bytes; // the size header, then the zlib stream
    DWORD size;                 // bytes of the resource
    uint32_t length;            // unpacked length, from the size header
};

// The value "Path" of the game's key as it was before the benchmark pointed it elsewhere.
struct SavedPath {
    bool had_key;
    bool had_value;
    DWORD type;
    DWORD size;
    BYTE value[SCRATCH_PATH_SIZE];
};

static bool find_streams(Stream *streams)
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        int id = payload_manifest[i].resource_id;
        HRSRC found = FindResourceExA(NULL, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(id), 0);
        HGLOBAL loaded = found ? LoadResource(NULL, found) : NULL;
        streams[i].bytes = loaded ? static_cast<const unsigned char *>(LockResource(loaded)) : NULL;
        streams[i].size = found ? SizeofResource(NULL, found) : 0;
        if (!streams[i].bytes || streams[i].size < PAYLOAD_HEADER_SIZE) {
            fprintf(stderr, "bench_update: payload %d is missing: run the packer on this program first\n", id);
            return false;
        }
        streams[i].length = read_le32(streams[i].bytes);
    }
    return true;
}

// Formats "%s\<prefix><name>" from install_dir; false when it does not fit.
static bool game_path(char *path, size_t size, const char *prefix, const char *name)
{
    int length = snprintf(path, size, "%s\\%s%s", install_dir, prefix, name);
    return length > 0 && static_cast<size_t>(length) < size;
}

// Makes directory absolute, as the registry would give it, and creates it.
static bool full_directory(const char *directory, char *path, size_t size)
{
    DWORD length = GetFullPathNameA(directory, static_cast<DWORD>(size), path, NULL);
    if (length == 0 || length >= size)
        return false;
    if (path[length - 1] == '\\')
        path[length - 1] = '\0';
    return CreateDirectoryA(path, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

static bool set_install_dir(const char *directory)
{
    if (!full_directory(directory, install_dir, sizeof install_dir)) {
        fprintf(stderr, "bench_update: cannot use the directory %s\n", directory);
        return false;
    }
    return true;
}

// Creates path, flushes it to the disk and deletes it. Returns the truth of all three.
static bool durable_empty_write(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool flushed = FlushFileBuffers(file);
    return CloseHandle(file) && DeleteFileA(path) && flushed;
}

// Deletes every file of directory, then copies every file of template_dir into
// it. A flush at the end writes the copies out: files that Wine creates are
// queued for the next flush on ext4, which would otherwise charge them to the
// commit's journal, while a real installation has long been on the disk.
static bool reset_installation(const char *template_dir, const char *directory)
{
    char pattern[SCRATCH_PATH_SIZE];
    char from[SCRATCH_PATH_SIZE];
    char to[SCRATCH_PATH_SIZE];
    WIN32_FIND_DATAA found;
    snprintf(pattern, sizeof pattern, "%s\\*", directory);
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            snprintf(to, sizeof to, "%s\\%s", directory, found.cFileName);
            DeleteFileA(to);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    snprintf(pattern, sizeof pattern, "%s\\*", template_dir);
    search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool copied = true;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        snprintf(from, sizeof from, "%s\\%s", template_dir, found.cFileName);
        snprintf(to, sizeof to, "%s\\%s", directory, found.cFileName);
        copied = CopyFileA(from, to, FALSE) && copied;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    snprintf(to, sizeof to, "%s\\~bench.flush", directory);
    bool settled = copied && durable_empty_write(to);
    if (!settled)
        fprintf(stderr, "bench_update: cannot copy %s into %s and flush it\n", template_dir, directory);
    return settled;
}

static void delete_temporaries()
{
    char path[SCRATCH_PATH_SIZE];
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (game_path(path, sizeof path, "~", payload_manifest[i].install_name))
            DeleteFileA(path);
    }
}

static bool file_has_size(const char *path, uint32_t length)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path, GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
           data.nFileSizeLow == length;
}

// True when every row that applies to language is installed with its unpacked
// length, and no temporary file, backup or journal is left.
static bool update_is_installed(const Stream *streams)
{
    char path[SCRATCH_PATH_SIZE];
    bool installed = details_text[0] == '\0';
    for (int i = 0; i < PAYLOAD_ROWS && installed; ++i) {
        const char *name = payload_manifest[i].install_name;
        if (!payload_row_applies(&payload_manifest[i], language))
            continue;
        installed = game_path(path, sizeof path, "", name) && file_has_size(path, streams[i].length) &&
                    game_path(path, sizeof path, "~", name) && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
    }
    installed = installed && game_path(path, sizeof path, "", JOURNAL_NAME) &&
                GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
    if (!installed)
        fprintf(stderr, "bench_update: the update is not installed in %s: %s\n", install_dir, details_text);
    return installed;
}

// Writes length bytes of data to "~name" in the game directory with one fwrite.
static bool write_temporary(const char *name, const unsigned char *data, size_t length)
{
    char path[SCRATCH_PATH_SIZE];
    if (!game_path(path, sizeof path, "~", name))
        return false;
    FILE *file = fopen(path, "wb");
    if (!file)
        return false;
    bool written = fwrite(data, 1, length, file) == length;
    return fclose(file) == 0 && written;
}

// One uncompress of the stream into buffer, then one write of the result.
static bool floor_row(const Stream *stream, const char *name, unsigned char *buffer, size_t capacity)
{
    uLongf length = static_cast<uLongf>(capacity);
    const unsigned char *data = stream->bytes + PAYLOAD_HEADER_SIZE;
    return uncompress(buffer, &length, data, stream->size - PAYLOAD_HEADER_SIZE) == Z_OK && length == stream->length &&
           write_temporary(name, buffer, length);
}

// The floor of extraction: every row into one preallocated buffer.
static bool extract_floor(const Stream *streams, unsigned char *buffer, size_t capacity)
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        if (!floor_row(&streams[i], payload_manifest[i].install_name, buffer, capacity))
            return false;
    }
    return true;
}

// The floor with one change: a fresh buffer of size header + 1 bytes per row,
// as decode_payload allocates it. Its gap to the floor is what extract_payload
// saves by keeping one buffer from call to call in file mode.
static bool extract_floor_allocating(const Stream *streams)
{
    bool ok = true;
    for (int i = 0; i < PAYLOAD_ROWS && ok; ++i) {
        size_t capacity = static_cast<size_t>(streams[i].length) + 1;
        unsigned char *buffer = static_cast<unsigned char *>(malloc(capacity));
        ok = buffer && floor_row(&streams[i], payload_manifest[i].install_name, buffer, capacity);
        free(buffer);
    }
    return ok;
}

static bool extract_all()
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        const PayloadEntry *row = &payload_manifest[i];
        if (extract_payload(row->resource_id, row->install_name, NULL, NULL) != EXTRACT_OK)
            return false;
    }
    return true;
}

// The ways of unpacking every row that bench_extract times, in this order.
enum { WAY_EXTRACT, WAY_FLOOR, WAY_FLOOR_ALLOCATING, WAYS };
static const char *const WAY_NAMES[WAYS] = {"extract", "extract_floor", "extract_floor_allocating"};

// extract_payload in file mode for every row against the floor and the floor
// with an allocation per row, in rotating order, each from no temporary file.
// extract_payload keeps its buffer from run to run, as the floor keeps its own.
static int bench_extract(int runs, const char *directory)
{
    Stream streams[PAYLOAD_ROWS];
    if (!set_install_dir(directory) || !find_streams(streams))
        return 1;
    size_t capacity = 1;
    for (const Stream &stream : streams) {
        if (stream.length + 1 > capacity)
            capacity = stream.length + 1;
    }
    unsigned char *buffer = static_cast<unsigned char *>(malloc(capacity));
    if (!buffer)
        return 1;
    memset(buffer, 0, capacity);

    static double way_ms[WAYS][MAX_RUNS];
    bool ok = true;
    // Run -1 warms the caches and is not counted.
    for (int run = -1; run < runs && ok; ++run) {
        for (int turn = 0; turn < WAYS && ok; ++turn) {
            int way = (run + WAYS + turn) % WAYS;
            delete_temporaries();
            double start = now_ms();
            if (way == WAY_EXTRACT)
                ok = extract_all();
            else if (way == WAY_FLOOR)
                ok = extract_floor(streams, buffer, capacity);
            else
                ok = extract_floor_allocating(streams);
            double elapsed = now_ms() - start;
            if (!ok)
                fprintf(stderr, "bench_update: %s failed: %s\n", WAY_NAMES[way], details_text);
            if (run >= 0)
                way_ms[way][run] = elapsed;
        }
    }
    delete_temporaries();
    free(buffer);
    if (!ok)
        return 1;
    for (int way = 0; way < WAYS; ++way)
        print_time(WAY_NAMES[way], way_ms[way], runs);
    return 0;
}

// Points the game's registry value "Path" at install_dir, keeping what it held.
static bool point_registry(SavedPath *saved)
{
    HKEY key = NULL;
    saved->had_key = RegOpenKeyExA(HKEY_CURRENT_USER, GAME_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS;
    saved->had_value = false;
    if (saved->had_key) {
        saved->size = sizeof saved->value;
        LONG status = RegQueryValueExA(key, "Path", NULL, &saved->type, saved->value, &saved->size);
        RegCloseKey(key);
        if (status == ERROR_MORE_DATA) {
            fprintf(stderr, "bench_update: HKCU\\%s\\Path is too long to keep\n", GAME_KEY);
            return false;
        }
        saved->had_value = status == ERROR_SUCCESS;
    }
    if (RegCreateKeyExA(HKEY_CURRENT_USER, GAME_KEY, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    const BYTE *value = reinterpret_cast<const BYTE *>(install_dir);
    LONG status = RegSetValueExA(key, "Path", 0, REG_SZ, value, static_cast<DWORD>(strlen(install_dir) + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

static void restore_registry(const SavedPath *saved)
{
    if (!saved->had_key) {
        RegDeleteKeyA(HKEY_CURRENT_USER, GAME_KEY);
        return;
    }
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, GAME_KEY, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (saved->had_value)
        RegSetValueExA(key, "Path", 0, saved->type, saved->value, saved->size);
    else
        RegDeleteValueA(key, "Path");
    RegCloseKey(key);
}

// Prepares what the update run reads: the streams, install_dir and the registry.
static bool prepare_run(const char *directory, Stream *streams, SavedPath *saved)
{
    if (!set_install_dir(directory) || !find_streams(streams))
        return false;
    if (!point_registry(saved)) {
        fprintf(stderr, "bench_update: cannot set HKCU\\%s\\Path\n", GAME_KEY);
        return false;
    }
    return true;
}

// run_update (without its windows) on a fresh copy of the installation per run.
static int bench_update(int runs, const char *template_dir, const char *directory)
{
    char template_path[SCRATCH_PATH_SIZE];
    char game_dir[INSTALL_DIR_SIZE];
    Stream streams[PAYLOAD_ROWS];
    SavedPath saved;
    if (!full_directory(template_dir, template_path, sizeof template_path) || !prepare_run(directory, streams, &saved))
        return 1;
    snprintf(game_dir, sizeof game_dir, "%s", install_dir);
    double update_ms[MAX_RUNS];
    bool ok = true;
    for (int run = -1; run < runs && ok; ++run) {
        ok = reset_installation(template_path, game_dir);
        double start = now_ms();
        if (ok)
            run_update(GetModuleHandleA(NULL), "", 0);
        double elapsed = now_ms() - start;
        ok = ok && update_is_installed(streams);
        if (run >= 0)
            update_ms[run] = elapsed;
    }
    restore_registry(&saved);
    if (!ok)
        return 1;
    print_time("update", update_ms, runs);
    return 0;
}

// Puts the unpacked files, the sources in the current directory, in place as "~name".
static bool prepare_temporaries()
{
    char path[SCRATCH_PATH_SIZE];
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        const PayloadEntry *row = &payload_manifest[i];
        if (!payload_row_applies(row, language))
            continue;
        if (!game_path(path, sizeof path, "~", row->install_name) || !CopyFileA(row->source_name, path, FALSE)) {
            fprintf(stderr, "bench_update: cannot copy %s to %s\n", row->source_name, path);
            return false;
        }
    }
    return true;
}

// What a naive updater does: copies each unpacked file over the installed one, then deletes it.
static bool naive_commit()
{
    char temporary[SCRATCH_PATH_SIZE];
    char installed[SCRATCH_PATH_SIZE];
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        const char *name = payload_manifest[i].install_name;
        if (!payload_row_applies(&payload_manifest[i], language))
            continue;
        if (!game_path(temporary, sizeof temporary, "~", name) || !game_path(installed, sizeof installed, "", name) ||
            !CopyFileA(temporary, installed, FALSE) || !DeleteFileA(temporary))
            return false;
    }
    return true;
}

// The durable write of the journal that commit_payloads makes before its
// first replacement, alone (the demo's journal is empty: every file exists).
static bool durable_journal_write()
{
    char path[SCRATCH_PATH_SIZE];
    return game_path(path, sizeof path, "", JOURNAL_NAME) && durable_empty_write(path);
}

// What commit_payloads does to each unpacked "~name" before it renames it
// over the installed file: open it, FlushFileBuffers, close. True when all were flushed.
static bool flush_temporaries()
{
    char path[SCRATCH_PATH_SIZE];
    bool flushed = true;
    for (int i = 0; i < PAYLOAD_ROWS && flushed; ++i) {
        if (!payload_row_applies(&payload_manifest[i], language))
            continue;
        if (!game_path(path, sizeof path, "~", payload_manifest[i].install_name))
            return false;
        HANDLE file =
            CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        flushed = FlushFileBuffers(file);
        flushed = CloseHandle(file) && flushed;
    }
    return flushed;
}

// The ways of committing that bench_commit times, in this order.
enum { COMMIT_PAYLOADS, COMMIT_COPY, COMMIT_FLUSHES, COMMIT_FILES_FIRST, COMMIT_WAYS };
static const char *const COMMIT_NAMES[COMMIT_WAYS] = {"commit", "commit_copy", "commit_flush",
                                                      "commit_file_flushes_first"};

// The durable writes of commit_payloads alone, in its order: the journal's,
// then the flushes of the unpacked files, then the journal's again, which
// finds nothing else waiting for the disk. Stores the three times in ms.
static bool durable_writes(double *ms)
{
    double start = now_ms();
    bool ok = durable_journal_write();
    ms[0] = now_ms() - start;
    start = now_ms();
    ok = ok && flush_temporaries();
    ms[1] = now_ms() - start;
    start = now_ms();
    ok = ok && durable_journal_write();
    ms[2] = now_ms() - start;
    return ok;
}

// commit_payloads against the naive commit, its durable writes alone and the
// files' flushes alone, in rotating order, each from a fresh installation with
// the temporary files in place (made untimed).
static int bench_commit(int runs, const char *template_dir, const char *directory)
{
    char template_path[SCRATCH_PATH_SIZE];
    Stream streams[PAYLOAD_ROWS];
    if (!full_directory(template_dir, template_path, sizeof template_path) || !set_install_dir(directory) ||
        !find_streams(streams))
        return 1;
    language = LANGUAGE_GERMAN;
    details_text[0] = '\0';
    static double way_ms[COMMIT_WAYS][MAX_RUNS];
    double files_ms[MAX_RUNS];
    double again_ms[MAX_RUNS];
    bool ok = true;
    for (int run = -1; run < runs && ok; ++run) {
        for (int turn = 0; turn < COMMIT_WAYS && ok; ++turn) {
            int way = (run + COMMIT_WAYS + turn) % COMMIT_WAYS;
            ok = reset_installation(template_path, install_dir) && prepare_temporaries();
            if (!ok)
                break;
            double ms[3] = {0, 0, 0};
            double start = now_ms();
            if (way == COMMIT_PAYLOADS)
                ok = commit_payloads() == 0;
            else if (way == COMMIT_COPY)
                ok = naive_commit();
            else if (way == COMMIT_FILES_FIRST)
                ok = flush_temporaries();
            else
                ok = durable_writes(ms);
            double elapsed = way == COMMIT_FLUSHES ? ms[0] : now_ms() - start;
            bool installs = way == COMMIT_PAYLOADS || way == COMMIT_COPY;
            ok = ok && (!installs || update_is_installed(streams));
            if (!ok)
                fprintf(stderr, "bench_update: %s failed\n", COMMIT_NAMES[way]);
            if (run < 0)
                continue;
            way_ms[way][run] = elapsed;
            if (way == COMMIT_FLUSHES) {
                files_ms[run] = ms[1];
                again_ms[run] = ms[2];
            }
        }
    }
    if (!ok)
        return 1;
    for (int way = 0; way < COMMIT_WAYS; ++way)
        print_time(COMMIT_NAMES[way], way_ms[way], runs);
    print_time("commit_file_flushes", files_ms, runs);
    print_time("commit_flush_again", again_ms, runs);
    return 0;
}

static bool read_memory(PROCESS_MEMORY_COUNTERS *counters)
{
    return GetProcessMemoryInfo(GetCurrentProcess(), counters, sizeof *counters);
}

// Reads one byte of every page of every payload resource, so that the
// mapped image pages that hold them are in the working set already.
static void touch_streams(const Stream *streams)
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        const volatile unsigned char *bytes = streams[i].bytes;
        for (DWORD at = 0; at < streams[i].size; at += 4096)
            (void)bytes[at];
    }
}

// Prepares one update run in this process: the registry, a fresh copy of
// the installation, and the payload resources read, so that their mapped
// image pages are in the working set before the run however the loader maps
// the image. restore_registry(saved) undoes the registry afterwards.
static bool prepare_single_run(const char *template_dir, const char *directory, Stream *streams, SavedPath *saved)
{
    char template_path[SCRATCH_PATH_SIZE];
    char game_dir[INSTALL_DIR_SIZE];
    if (!full_directory(template_dir, template_path, sizeof template_path) || !prepare_run(directory, streams, saved))
        return false;
    snprintf(game_dir, sizeof game_dir, "%s", install_dir);
    bool ok = reset_installation(template_path, game_dir);
    touch_streams(streams);
    if (!ok)
        restore_registry(saved);
    return ok;
}

// One update run in a process of its own: the working set before it and the
// peak working set after it. Under wine64 these are Linux's VmRSS and VmHWM of
// the process; nothing resets the peak, so it counts for the run only when the
// run raised it. The resources are read before the run, so that the growth is
// the run's own memory.
static int bench_memory(const char *template_dir, const char *directory)
{
    Stream streams[PAYLOAD_ROWS];
    SavedPath saved;
    if (!prepare_single_run(template_dir, directory, streams, &saved))
        return 1;
    PROCESS_MEMORY_COUNTERS before;
    PROCESS_MEMORY_COUNTERS after;
    bool ok = read_memory(&before);
    if (ok)
        run_update(GetModuleHandleA(NULL), "", 0);
    ok = ok && read_memory(&after) && update_is_installed(streams);
    restore_registry(&saved);
    if (!ok)
        return 1;
    uint32_t largest = 0;
    for (const Stream &stream : streams) {
        if (stream.length > largest)
            largest = stream.length;
    }
    printf("value largest_payload %u\n", largest);
    printf("value working_set_before %llu\n", static_cast<unsigned long long>(before.WorkingSetSize));
    printf("value peak_working_set_before %llu\n", static_cast<unsigned long long>(before.PeakWorkingSetSize));
    printf("value peak_working_set_after %llu\n", static_cast<unsigned long long>(after.PeakWorkingSetSize));
    return 0;
}

// The first pass in a fresh process, as a real run makes it, where the
// modes above time passes after a first one: extract_payload's kept buffer,
// or the floor's one buffer of the largest payload (allocated in the timed
// part), is touched for the first time. Prints "sample NAME MS", one of the
// runs that scripts/bench.sh summarizes.
static int bench_first_extract(bool floor, const char *directory)
{
    Stream streams[PAYLOAD_ROWS];
    if (!set_install_dir(directory) || !find_streams(streams))
        return 1;
    touch_streams(streams);
    size_t capacity = 1;
    for (const Stream &stream : streams) {
        if (stream.length + 1 > capacity)
            capacity = stream.length + 1;
    }
    delete_temporaries();
    double start = now_ms();
    bool ok = true;
    if (floor) {
        unsigned char *buffer = static_cast<unsigned char *>(malloc(capacity));
        ok = buffer && extract_floor(streams, buffer, capacity);
        free(buffer);
    } else {
        ok = extract_all();
    }
    double elapsed = now_ms() - start;
    delete_temporaries();
    if (!ok) {
        fprintf(stderr, "bench_update: the first extraction failed: %s\n", details_text);
        return 1;
    }
    printf("sample %s %.3f\n", floor ? "extract_floor_first" : "extract_first", elapsed);
    return 0;
}

// run_update once in a fresh process, as a real run makes it. Prints "sample update_first MS".
static int bench_first_update(const char *template_dir, const char *directory)
{
    Stream streams[PAYLOAD_ROWS];
    SavedPath saved;
    if (!prepare_single_run(template_dir, directory, streams, &saved))
        return 1;
    double start = now_ms();
    run_update(GetModuleHandleA(NULL), "", 0);
    double elapsed = now_ms() - start;
    bool ok = update_is_installed(streams);
    restore_registry(&saved);
    if (!ok)
        return 1;
    printf("sample update_first %.3f\n", elapsed);
    return 0;
}

int main(int argc, char **argv)
{
    int runs = argc >= 3 ? parse_runs(argv[2]) : 0;
    if (argc == 4 && strcmp(argv[1], "extract") == 0 && runs > 0)
        return bench_extract(runs, argv[3]);
    if (argc == 5 && strcmp(argv[1], "update") == 0 && runs > 0)
        return bench_update(runs, argv[3], argv[4]);
    if (argc == 5 && strcmp(argv[1], "commit") == 0 && runs > 0)
        return bench_commit(runs, argv[3], argv[4]);
    if (argc == 4 && strcmp(argv[1], "memory") == 0)
        return bench_memory(argv[2], argv[3]);
    if (argc == 4 && strcmp(argv[1], "first") == 0 && strcmp(argv[2], "extract") == 0)
        return bench_first_extract(false, argv[3]);
    if (argc == 4 && strcmp(argv[1], "first") == 0 && strcmp(argv[2], "floor") == 0)
        return bench_first_extract(true, argv[3]);
    if (argc == 5 && strcmp(argv[1], "first") == 0 && strcmp(argv[2], "update") == 0)
        return bench_first_update(argv[3], argv[4]);
    fprintf(stderr, "usage: bench_update extract RUNS DIR | update RUNS TEMPLATE DIR | commit RUNS TEMPLATE DIR |"
                    " memory TEMPLATE DIR | first extract|floor DIR | first update TEMPLATE DIR\n"
                    "(in a copy of this program packed with the payloads, the sources in the current directory)\n");
    return 2;
}
