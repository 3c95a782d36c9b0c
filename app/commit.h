// commit.h -- puts the unpacked payload files in place of the installed ones, all or nothing
#pragma once

// commit_payloads -- replaces the installed file of every row that applies to
// language by its temporary file "~name". Each installed file keeps its old
// content under "~name.bak" until all are replaced; each replacement is one
// atomic rename, so every installed file is at every instant whole, old or
// new. Returns 0 when all were replaced. Otherwise appends one line naming
// the file that could not be replaced, puts every replaced file back (and
// removes those that did not exist before) and returns -1; the temporary
// files of the rows not yet committed stay for the run's deletion pass.
int commit_payloads();

// recover_interrupted_commit -- undoes a commit that was interrupted before
// all files were replaced (its journal "~Patch102.journal" is still there),
// so that the installation is again the one before it; after a commit that
// was interrupted while removing its backups, removes them. Returns 0, or -1
// with a line per file appended when a file could not be put back: the
// journal then stays for the next run, and this run must not update.
int recover_interrupted_commit();
