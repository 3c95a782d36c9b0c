// bench_stats.h -- the clock and the median, minimum and maximum of a benchmark's repeated runs
#pragma once

enum { MAX_RUNS = 64 };

struct RunStats {
    double median;
    double min;
    double max;
};

// Milliseconds on a monotonic clock.
double now_ms();

// Median, minimum and maximum of count samples (1 to MAX_RUNS); the samples stay in their order.
RunStats summarize(const double *samples, int count);

// Prints "time NAME MEDIAN MIN MAX" in milliseconds, the line that scripts/bench.sh reads.
void print_time(const char *name, const double *samples, int count);

// Reads a run count (1 to MAX_RUNS) from text; 0 when it is not one.
int parse_runs(const char *text);
