#include "win_clock.h"

#include <inttypes.h>
#include <stdio.h>

#include <windows.h>

double clock_seconds(void) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

void print_clocked(const char *name, const Clocked *c, double units, const char *unit) {
    double t = c->fastest;
    const char *scale = "s ";
    double shown = t;
    if (t < 1e-3) {
        scale = "us";
        shown = t * 1e6;
    } else if (t < 1) {
        scale = "ms";
        shown = t * 1e3;
    }
    if (c->alone)
        printf("%-40s %10.3f %s %9.1f %s/s  (fastest of %" PRId64 " calls)\n", name, shown, scale, units / t,
               unit, c->timed);
    else
        printf("%-40s %10.3f %s %9.1f %s/s  (fastest of %d batches of %" PRId64 " calls)\n", name, shown, scale,
               units / t, unit, CLOCK_ROUNDS, c->calls);
}
