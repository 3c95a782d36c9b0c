// bench.cpp -- under wine64: the updater's extraction, update run, commit, unpacking memory and encoder, timed
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

#include <chrono>

#include "app/commit.h"
#include "app/discovery.h"
#include "app/file_io.h"
#include "app/game_paths.h"
#include "app/state.h"
#include "app/update_run.h"
#include "payload/extract.h"
#include "payload/manifest.h"
#include "payload/payload_format.h"
#include "ui/progress_window.h"
#include "ui/result_dialog.h"

// The run's windows, left out: these take the place of ui/progress_window.cpp
// and ui/result_dialog.cpp, so run_update shows nothing and, as after Cancel,
// launches nothing.
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

void show_progress_label(const char *)
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

// The payload resources of this program as the packer wrote them (size header, zlib stream), the German
// 1.01 installation that every update starts from, and what main prepares for the floor and the encoder.
static const unsigned char *stream_bytes[PAYLOAD_ROWS];
static DWORD stream_size[PAYLOAD_ROWS];
static const char *template_dir;
static unsigned char *floor_buffer;
static size_t floor_capacity;
static unsigned char *sources[PAYLOAD_ROWS];
static uint32_t source_size[PAYLOAD_ROWS];
static unsigned char *encoded;
static size_t encoded_bytes;

// Finds every payload and reads each of its pages, so that they are in the working set before the memory figure.
static bool find_streams()
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        int id = payload_manifest[i].resource_id;
        HRSRC found = FindResourceExA(NULL, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(id), 0);
        HGLOBAL loaded = found ? LoadResource(NULL, found) : NULL;
        stream_bytes[i] = loaded ? static_cast<const unsigned char *>(LockResource(loaded)) : NULL;
        stream_size[i] = found ? SizeofResource(NULL, found) : 0;
        if (!stream_bytes[i] || stream_size[i] < PAYLOAD_HEADER_SIZE) {
            fprintf(stderr, "bench: payload %d is missing: run the packer on this program first\n", id);
            return false;
        }
        const volatile unsigned char *bytes = stream_bytes[i];
        for (DWORD at = 0; at < stream_size[i]; at += 4096)
            (void)bytes[at];
    }
    return true;
}

// The unpacked files, closed and removed, as a failed run leaves the folder.
static bool delete_temporaries()
{
    discard_unpacked_files();
    return true;
}

// extract_payload in file mode ("~name" written and flushed) for every row, or for the German rows alone.
static bool extract_rows(bool german_only)
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        const PayloadEntry *row = &payload_manifest[i];
        if ((!german_only || payload_row_applies(row, LANGUAGE_GERMAN)) &&
            extract_payload(row->resource_id, row->install_name, NULL, NULL) != EXTRACT_OK)
            return false;
    }
    return true;
}

static bool extract_all()
{
    return extract_rows(false);
}

// Row i unpacked into the floor's one buffer, its temporary path in scratch_path; false when that fails.
static bool floor_row(int i, uLongf *length)
{
    *length = static_cast<uLongf>(floor_capacity);
    const unsigned char *stream = stream_bytes[i] + PAYLOAD_HEADER_SIZE;
    return uncompress(floor_buffer, length, stream, stream_size[i] - PAYLOAD_HEADER_SIZE) == Z_OK &&
           *length == read_le32(stream_bytes[i]) &&
           format_game_path(scratch_path, GAME_PATH_SIZE, "~", payload_manifest[i].install_name, "");
}

// The floor of extraction: one uncompress of each stream into one buffer, then one fwrite.
static bool floor_rows()
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        uLongf length = 0;
        FILE *file = NULL;
        bool ok = floor_row(i, &length) && (file = fopen(scratch_path, "wb")) != NULL &&
                  fwrite(floor_buffer, 1, length, file) == length;
        if ((file && fclose(file) != 0) || !ok)
            return false;
    }
    return true;
}

// The floor with the durability that extraction owes: the same, each file written and flushed to the disk.
static bool durable_floor_rows()
{
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        uLongf length = 0;
        DWORD written = 0;
        HANDLE file = INVALID_HANDLE_VALUE;
        bool ok = floor_row(i, &length) &&
                  (file = CreateFileA(scratch_path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL)) !=
                      INVALID_HANDLE_VALUE &&
                  WriteFile(file, floor_buffer, static_cast<DWORD>(length), &written, NULL) && FlushFileBuffers(file);
        if ((file != INVALID_HANDLE_VALUE && !CloseHandle(file)) || !ok)
            return false;
    }
    return true;
}

// Puts the game directory back to the 1.01 installation: every German row's
// file as 1.01 had it, or none; then flushes an empty file: on ext4 that writes
// out the copies too, which would otherwise be charged to the next timed flush.
static bool reset_installation()
{
    char from[GAME_PATH_SIZE];
    bool ok = delete_temporaries();
    for (int i = 0; i < PAYLOAD_ROWS && ok; ++i) {
        const char *name = payload_manifest[i].install_name;
        if (!payload_row_applies(&payload_manifest[i], LANGUAGE_GERMAN))
            continue;
        snprintf(from, sizeof from, "%s\\%s", template_dir, name);
        if (!format_game_path(scratch_path, GAME_PATH_SIZE, "", name, ""))
            return false;
        DeleteFileA(scratch_path);
        ok = CopyFileA(from, scratch_path, FALSE) || GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    return ok && format_game_path(scratch_path, GAME_PATH_SIZE, "", "~bench.flush", "") &&
           write_file_durably(scratch_path, "", 0, NULL) == 0 && DeleteFileA(scratch_path);
}

// The game directory as run_update leaves it for its commit: 1.01 installed, the German rows unpacked.
static bool reset_and_unpack()
{
    return reset_installation() && extract_rows(true);
}

// True when no failure was recorded and every German row is installed with its unpacked length.
static bool update_installed()
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    bool ok = details_text[0] == '\0';
    for (int i = 0; i < PAYLOAD_ROWS && ok; ++i) {
        if (payload_row_applies(&payload_manifest[i], LANGUAGE_GERMAN))
            ok = format_game_path(scratch_path, GAME_PATH_SIZE, "", payload_manifest[i].install_name, "") &&
                 GetFileAttributesExA(scratch_path, GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
                 data.nFileSizeLow == read_le32(stream_bytes[i]);
    }
    return ok;
}

static bool update()
{
    return run_update(GetModuleHandleA(NULL), "", 0) == 0; // always 0: update_installed judges the run
}

static bool commit()
{
    return commit_payloads() == 0;
}

// What a naive updater does: copies each unpacked file over the installed one, then deletes it. Its
// unpacked files are closed (extraction keeps them open for the commit).
static bool naive_commit()
{
    char temporary[GAME_PATH_SIZE];
    bool ok = true;
    for (HANDLE &file : unpacked_files)
        close_kept_file(&file, false);
    for (int i = 0; i < PAYLOAD_ROWS && ok; ++i) {
        const char *name = payload_manifest[i].install_name;
        if (payload_row_applies(&payload_manifest[i], LANGUAGE_GERMAN))
            ok = format_game_path(temporary, sizeof temporary, "~", name, "") &&
                 format_game_path(scratch_path, GAME_PATH_SIZE, "", name, "") &&
                 CopyFileA(temporary, scratch_path, FALSE) && DeleteFileA(temporary);
    }
    return ok;
}

// encode_payload of every source, one after the other into one buffer, as the packer encodes them.
static bool encode_rows()
{
    size_t length = 0;
    bool ok = true;
    encoded_bytes = 0;
    for (int i = 0; i < PAYLOAD_ROWS && ok; ++i) {
        ok = encode_payload(sources[i], source_size[i], encoded, payload_bound(floor_capacity), &length) == PAYLOAD_OK;
        encoded_bytes += length;
    }
    return ok;
}

struct Way {
    const char *name;
    bool (*run)();
};

// Runs each way runs + 1 times, the ways in rotating order, each after setup
// and followed by check (neither timed), and prints "NAME MS" for every run
// but the first, which warms the caches.
static bool time_ways(int runs, const Way *ways, int count, bool (*setup)(), bool (*check)())
{
    for (int run = -1; run < runs; ++run) {
        for (int turn = 0; turn < count; ++turn) {
            const Way *way = &ways[(run + 1 + turn) % count];
            bool ok = !setup || setup();
            auto start = std::chrono::steady_clock::now();
            ok = ok && way->run();
            std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
            if (!ok || (check && !check())) {
                fprintf(stderr, "bench: %s failed in %s: %s\n", way->name, install_dir, details_text);
                return false;
            }
            if (run >= 0)
                printf("%s %.3f\n", way->name, elapsed.count());
        }
    }
    return true;
}

int main(int argc, char **argv)
{
    int runs = argc == 3 ? atoi(argv[1]) : 0;
    if (runs < 1) {
        fprintf(stderr, "usage: bench RUNS TEMPLATE_DIR (packed; the game's Path names a copy of TEMPLATE_DIR)\n");
        return 2;
    }
    template_dir = argv[2];
    discover_installation();
    if (!install_found || details_text[0] != '\0' || language != LANGUAGE_GERMAN || !find_streams()) {
        fprintf(stderr, "bench: no German installation where the game's Path points: %s\n", details_text);
        return 1;
    }

    // Memory first, while nothing else has run: the peak working set after one
    // unpacking of every row minus the working set before it.
    PROCESS_MEMORY_COUNTERS before;
    PROCESS_MEMORY_COUNTERS after;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    bool ok = extract_all();
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    printf("peak_growth %llu\npeak_raised %d\n",
           static_cast<unsigned long long>(after.PeakWorkingSetSize - before.WorkingSetSize),
           after.PeakWorkingSetSize > before.PeakWorkingSetSize);

    // The sources, recovered from the payloads, for the encoder; the floor's buffer; the rows for bench.sh.
    size_t source_bytes = 0;
    for (int i = 0; i < PAYLOAD_ROWS && ok; ++i) {
        const PayloadEntry *row = &payload_manifest[i];
        ok = decode_payload(stream_bytes[i], stream_size[i], &sources[i], &source_size[i]) == PAYLOAD_OK;
        source_bytes += source_size[i];
        if (source_size[i] + 1 > floor_capacity)
            floor_capacity = source_size[i] + 1;
        printf("row %s %s %d\n", row->source_name, row->install_name, payload_row_applies(row, LANGUAGE_GERMAN));
    }
    floor_buffer = static_cast<unsigned char *>(calloc(floor_capacity, 1));
    encoded = static_cast<unsigned char *>(calloc(payload_bound(floor_capacity), 1));
    printf("largest_payload %zu\nsource_bytes %zu\n", floor_capacity - 1, source_bytes);

    const Way extraction[] = {{"extract", extract_all}, {"floor", floor_rows}, {"durable_floor", durable_floor_rows}};
    const Way updating[] = {{"update", update}};
    const Way committing[] = {{"commit", commit}, {"naive_commit", naive_commit}};
    const Way encoding[] = {{"encode", encode_rows}};
    ok = ok && floor_buffer && encoded && time_ways(runs, extraction, 3, delete_temporaries, NULL) &&
         time_ways(runs, updating, 1, reset_installation, update_installed) &&
         time_ways(runs, committing, 2, reset_and_unpack, update_installed) && time_ways(runs, encoding, 1, NULL, NULL);
    printf("encoded_bytes %zu\n", encoded_bytes);
    return ok ? 0 : 1;
}
