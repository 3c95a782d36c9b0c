// launch_game.h -- starts the game as the signed-in user, not with the updater's administrator rights
#pragma once

enum { LAUNCHED_BY_SHELL = 0, LAUNCHED_DIRECTLY = 1 };

// start_game -- starts "Ostrevan.exe" of install_dir, in install_dir, shown
// normally, with no arguments and the default verb. It asks the desktop
// shell to start it, so that the game becomes the shell's child with the
// shell's (the signed-in user's) rights instead of inheriting the elevated
// token of the updater. When the shell cannot be reached or any step of
// that route fails, it starts the game itself with ShellExecuteA. Returns
// LAUNCHED_BY_SHELL or LAUNCHED_DIRECTLY; the direct start's own result is
// not examined.
int start_game();
