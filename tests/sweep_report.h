// sweep_report.h -- what the sweep build of the updater and the sweep test agree on
#pragma once

// The exit code of a run that the shim ended on the spot.
enum { SWEEP_CRASH_EXIT_CODE = 0x5EE9 };

// The texts of the report (message, details) end at a line of their own.
#define REPORT_TEXT_END "<end of text>"
