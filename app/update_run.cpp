// update_run.cpp -- discovery, the unpack phase with progress, commit or rollback, the result dialog and the launch
#include "app/update_run.h"

#include <shellapi.h>

#include "app/catalogue.h"
#include "app/commit.h"
#include "app/discovery.h"
#include "app/exit_codes.h"
#include "app/file_io.h"
#include "app/game_paths.h"
#include "app/launch_game.h"
#include "app/single_instance.h"
#include "app/state.h"
#include "payload/extract.h"
#include "payload/manifest.h"
#include "ui/progress_window.h"
#include "ui/result_dialog.h"

static const char PATH_TOO_LONG_LINE[] = "Game Folder Path Too Long: %s [%x]\n";
static const char CANT_RESOLVE_LINE[] = "Can't Resolve Game Folder: %s [%x]\n";

// Unpacks every applying row into its temporary file while the progress
// window shows each row. Returns 0, the failed extraction's status, or -1
// when no language-specific row applied.
static int unpack_payloads(HWND window)
{
    int status = 0;
    int last_kind = 0;
    for (int i = 0; i < PAYLOAD_ROWS; ++i) {
        const PayloadEntry *row = &payload_manifest[i];
        set_progress_position(window, static_cast<int>(100u * static_cast<unsigned>(i) / PAYLOAD_ROWS));
        set_progress_label(window, row->install_name);
        pump_messages();
        if (!payload_row_applies(row, language))
            continue;
        last_kind = row->kind;
        status = extract_payload(row->resource_id, row->install_name, NULL, NULL);
        if (status != 0)
            break;
    }
    if (status == 0 && last_kind != payload_manifest[PAYLOAD_ROWS - 1].kind) {
        append_details(catalogue_text(language, Corrupt));
        status = -1;
    }
    return status;
}

int run_update(HINSTANCE instance, const char *, int)
{
    // A second updater would race the first one over the same files.
    if (!claim_single_instance())
        return EXIT_CODE_ALREADY_RUNNING;
    int status = -1;
    int failure = EXIT_CODE_FAILED;
    discover_installation();
    if (install_dir[0] != '\0' && !game_paths_fit()) {
        // Nothing is written where the file calls cannot reach every file of the run.
        append_failure_line(PATH_TOO_LONG_LINE, install_dir, ERROR_FILENAME_EXCED_RANGE);
    } else if (!install_found) {
        append_details(catalogue_text(language, NotInstalled));
        failure = EXIT_CODE_NOT_INSTALLED;
    } else if (details_text[0] == '\0') {
        // One window from the first file operation to the last of the commit: a file that another program
        // holds keeps the run waiting, and the window names it meanwhile. An interrupted commit is undone
        // first; one that cannot be undone stops the run.
        HWND window = open_progress_window(instance);
        // Every file is checked against the folder's own path: a volume that names no file cannot be updated.
        DWORD error = open_game_folder(install_dir);
        if (error != 0)
            append_failure_line(CANT_RESOLVE_LINE, install_dir, error);
        status = error == 0 ? recover_interrupted_commit() : -1;
        if (status == 0)
            status = unpack_payloads(window);
        if (status == 0)
            status = commit_payloads();
        close_progress_window(window);
    }

    INT_PTR answer = show_result_dialog(instance);
    // A journal that stays tells a script what the dialog tells the player: the next run must finish the job.
    if (status != 0)
        return discard_unpacked_files() ? EXIT_CODE_INTERRUPTED : failure;
    if (answer == RESULT_OK)
        start_game();
    return EXIT_CODE_UPDATED;
}
