// commit.h -- puts the unpacked payload files in place of the installed ones, all or nothing
#pragma once

#include <windows.h>

#include "payload/manifest.h"

// The unpacked files "~name" of this run, each kept open from its unpacking
// (for no other program to hold) to its commit, by the first manifest row of
// its name; NULL for a file not unpacked or already committed.
extern HANDLE unpacked_files[PAYLOAD_ROWS];

// commit_payloads -- replaces the installed file of every row that applies to
// language by its temporary file "~name". First each installed file's old
// content is kept, complete and on disk, under "~name.bak", and the journal
// "~Patch102.journal" names every file with its state; then each file is
// replaced by one atomic rename (a read-only file loses its attribute
// first); deleting the journal is the commit point. Every installed file is
// at every instant whole, old or new. Returns 0 when all were replaced.
// Otherwise appends one line naming the file that could not be replaced,
// puts every replaced file back (removes those that did not exist before,
// gives the others their attributes back) and returns -1; the temporary
// files of rows not yet replaced stay for the run's deletion pass, which
// leaves them while the journal stands.
int commit_payloads();

// recover_interrupted_commit -- undoes a commit that was interrupted before
// its commit point, so that the installation is again the one before it: a
// file whose temporary file is still there was never replaced and stays as
// it is, a replaced one gets its backup back. A journal that was not
// written whole means that no file was replaced yet. Removes backups left
// by a finished commit. Returns 0, or -1 with a line per file appended when
// a file could not be put back: the journal then stays for the next run,
// with the temporary files that tell it which files were never replaced,
// and this run must not update.
int recover_interrupted_commit();

// discard_unpacked_files -- closes every unpacked file and removes it, with
// any that an earlier run left, unless this run leaves a commit's journal in
// the game folder (or cannot tell that it does not): a commit is then under
// way or not yet undone, and the unpacked files tell the next run which
// installed files it never replaced. A run that stopped before it read the
// journal looks for it first.
// Without a game directory it removes nothing: the paths would name files
// at the root of the drive that this run never wrote. Returns true when the
// journal stays (or may stay): the interrupted commit is not undone yet.
bool discard_unpacked_files();
