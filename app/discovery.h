// discovery.h -- finds the installed game, chooses the interface language and reaches the verdict
#pragma once

// discover_installation -- fills install_dir, install_found, language and
// details_text. Verdicts: install_found false (not installed), details_text
// holding the Corrupt text (damaged installation), or details_text empty
// (ready to update). language is 1, 2 or 3 afterwards.
void discover_installation();
