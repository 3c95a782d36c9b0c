// bench_stats.cpp -- the benchmark clock and the summary of repeated runs, natively and under Windows alike
#include "bench/bench_stats.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>

double now_ms()
{
    std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now().time_since_epoch();
    return elapsed.count();
}

static int compare_doubles(const void *a, const void *b)
{
    double x = *static_cast<const double *>(a);
    double y = *static_cast<const double *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

RunStats summarize(const double *samples, int count)
{
    double sorted[MAX_RUNS];
    RunStats stats = {0, 0, 0};
    if (count < 1 || count > MAX_RUNS)
        return stats;
    for (int i = 0; i < count; ++i)
        sorted[i] = samples[i];
    qsort(sorted, static_cast<size_t>(count), sizeof sorted[0], compare_doubles);
    stats.median = count % 2 ? sorted[count / 2] : (sorted[count / 2 - 1] + sorted[count / 2]) / 2;
    stats.min = sorted[0];
    stats.max = sorted[count - 1];
    return stats;
}

void print_time(const char *name, const double *samples, int count)
{
    RunStats stats = summarize(samples, count);
    printf("time %s %.3f %.3f %.3f\n", name, stats.median, stats.min, stats.max);
    fflush(stdout);
}

int parse_runs(const char *text)
{
    char *end = NULL;
    long runs = strtol(text, &end, 10);
    if (end == text || *end != '\0' || runs < 1 || runs > MAX_RUNS)
        return 0;
    return static_cast<int>(runs);
}
