// exit_codes.h -- the process's exit codes, for the launchers and scripts that start the updater (README: Exit codes)
#pragma once

enum ExitCode {
    EXIT_CODE_UPDATED = 0,         // the game is at the new version
    EXIT_CODE_FAILED = 1,          // the update failed and the installation is as it was; also a broken Windows
    EXIT_CODE_NOT_INSTALLED = 2,   // no installed game was found
    EXIT_CODE_INTERRUPTED = 3,     // an interrupted update is not undone yet: its journal stays for the next run
    EXIT_CODE_ALREADY_RUNNING = 4, // another updater is running; its window was brought forward
};
